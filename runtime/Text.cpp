#include "runtime/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <limits>

namespace varn {

namespace {
char FoldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char UpperChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

size_t Find(std::string_view s, std::string_view sFind, size_t nFrom, bool bIgnoreCase) {
  if (!bIgnoreCase) return s.find(sFind, nFrom);
  if (sFind.size() > s.size()) return std::string_view::npos;
  for (size_t n = nFrom; n + sFind.size() <= s.size(); ++n) {
    size_t k = 0;
    while (k < sFind.size() && FoldChar(s[n + k]) == FoldChar(sFind[k])) ++k;
    if (k == sFind.size()) return n;
  }
  return std::string_view::npos;
}
}  // namespace

std::string FoldCase(std::string_view s) {
  std::string sOut(s);
  for (char& c : sOut) c = FoldChar(c);
  return sOut;
}

std::string UCase(std::string_view s) {
  std::string sOut(s);
  for (char& c : sOut) c = UpperChar(c);
  return sOut;
}

std::string Trim(std::string_view s) {
  size_t nFirst = s.find_first_not_of(' ');
  if (nFirst == std::string_view::npos) return {};
  return std::string(s.substr(nFirst, s.find_last_not_of(' ') - nFirst + 1));
}

std::string LTrim(std::string_view s) {
  size_t nFirst = s.find_first_not_of(' ');
  return nFirst == std::string_view::npos ? std::string{} : std::string(s.substr(nFirst));
}

bool StartsWith(std::string_view s, std::string_view sPrefix) { return s.substr(0, sPrefix.size()) == sPrefix; }

std::string Replace(std::string_view s, std::string_view sFind, std::string_view sWith, bool bIgnoreCase) {
  if (sFind.empty()) return std::string(s);
  std::string sOut;
  size_t nFrom = 0;
  for (size_t nAt; (nAt = Find(s, sFind, nFrom, bIgnoreCase)) != std::string_view::npos; nFrom = nAt + sFind.size()) {
    sOut.append(s.substr(nFrom, nAt - nFrom)).append(sWith);
  }
  return sOut.append(s.substr(nFrom));
}

std::vector<std::string> Split(std::string_view s, std::string_view sDelimiter, bool bIgnoreCase) {
  if (sDelimiter.empty()) return {std::string(s)};  // an empty delimiter would be found forever
  std::vector<std::string> vPieces;
  size_t nFrom = 0;
  for (size_t nAt; (nAt = Find(s, sDelimiter, nFrom, bIgnoreCase)) != std::string_view::npos;
       nFrom = nAt + sDelimiter.size()) {
    vPieces.emplace_back(s.substr(nFrom, nAt - nFrom));
  }
  vPieces.emplace_back(s.substr(nFrom));
  return vPieces;
}

std::string FileNameOf(std::string_view sPath) {
  size_t nAt = sPath.find_last_of("\\/");
  return std::string(nAt == std::string_view::npos ? sPath : sPath.substr(nAt + 1));
}

std::string SqlText(std::string_view s) { return Replace(s, "'", "''"); }

std::string NumText(int64_t lValue) { return std::to_string(lValue); }

std::string GroupedNumber(int64_t lValue) {
  std::string sDigits = std::to_string(lValue), sOut;
  size_t nFirst = sDigits[0] == '-' ? 1 : 0;
  for (size_t n = 0; n < sDigits.size(); ++n) {
    if (n > nFirst && (sDigits.size() - n) % 3 == 0) sOut += ',';
    sOut += sDigits[n];
  }
  return sOut;
}

std::string VisibleText(std::string_view s, size_t nMost) {
  std::string sOut;
  size_t nCharacters = 0;
  for (unsigned char c : s) {
    bool bStartsCharacter = (c & 0xC0) != 0x80;
    if (bStartsCharacter && nCharacters++ == nMost) return sOut + "...";
    if (c < 0x20 || c == 0x7F) {
      const char acHex[] = "0123456789abcdef";
      sOut += {'\\', 'x', acHex[c >> 4], acHex[c & 15]};
    } else {
      sOut += static_cast<char>(c);
    }
  }
  return sOut;
}

namespace {
// The digits and exponent of the shortest scientific form, of up to 15 significant digits,
// that reads back as the value rounded to 15 digits. Locale-free, so the decimal point is a full stop.
std::string ShortestScientific(double dValue) {
  // Nearly every amount has a shortest exact form of at most 15 digits, and rounded to 15
  // digits it gives those digits and zeros, so that form is the answer without the search.
  // Subnormals hold fewer digits than that and take the search.
  char sShortest[32];
  char* pShortestEnd = std::to_chars(sShortest, std::end(sShortest), dValue, std::chars_format::scientific).ptr;
  auto nMantissa = std::find(sShortest, pShortestEnd, 'e') - sShortest;
  if (dValue >= std::numeric_limits<double>::min() && nMantissa - (nMantissa > 1 ? 1 : 0) <= 15) {
    return std::string(sShortest, pShortestEnd);
  }
  char sTarget[32];
  char* pTargetEnd = std::to_chars(sTarget, std::end(sTarget), dValue, std::chars_format::scientific, 14).ptr;
  double dTarget = 0;
  if (std::from_chars(sTarget, pTargetEnd, dTarget).ec == std::errc::result_out_of_range && dValue > 1) {
    // Next to the largest double, rounding to 15 digits goes past it: the last digit is cut
    // instead, so that a finite amount is never written as a text that reads as infinite.
    --*(std::find(sTarget, pTargetEnd, 'e') - 1);
    std::from_chars(sTarget, pTargetEnd, dTarget);
  }
  for (int nPrecision = 0; nPrecision < 14; ++nPrecision) {
    char sTry[32];
    char* pEnd = std::to_chars(sTry, std::end(sTry), dValue, std::chars_format::scientific, nPrecision).ptr;
    double dTry = 0;
    std::from_chars(sTry, pEnd, dTry);
    if (dTry == dTarget) return std::string(sTry, pEnd);
  }
  return std::string(sTarget, pTargetEnd);
}
}  // namespace

std::string NumText(double dValue) {
  if (dValue == 0) return "0";  // also turns -0 into 0
  if (!std::isfinite(dValue)) return std::isnan(dValue) ? "NaN" : (dValue > 0 ? "Infinity" : "-Infinity");
  std::string sSign = dValue < 0 ? "-" : "";
  std::string sScientific = ShortestScientific(std::fabs(dValue));
  size_t nE = sScientific.find('e');
  int nExponent = std::atoi(sScientific.c_str() + nE + 1);
  // Ordinary magnitudes are written without an exponent, as the runtime does.
  if (nExponent < -5 || nExponent >= 15) return sSign + sScientific;
  std::string sDigits = sScientific.substr(0, nE);
  if (sDigits.size() > 1) sDigits.erase(1, 1);  // the decimal point
  if (nExponent < 0) return sSign + "0." + std::string(static_cast<size_t>(-nExponent - 1), '0') + sDigits;
  auto nWhole = static_cast<size_t>(nExponent + 1);
  if (sDigits.size() <= nWhole) return sSign + sDigits + std::string(nWhole - sDigits.size(), '0');
  return sSign + sDigits.substr(0, nWhole) + "." + sDigits.substr(nWhole);
}

}  // namespace varn
