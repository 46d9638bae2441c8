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

std::vector<std::string_view> SplitViews(std::string_view s, char cDelimiter) {
  std::vector<std::string_view> vPieces;
  vPieces.reserve(static_cast<size_t>(std::count(s.begin(), s.end(), cDelimiter)) + 1);
  size_t nFrom = 0;
  for (size_t nAt; (nAt = s.find(cDelimiter, nFrom)) != std::string_view::npos; nFrom = nAt + 1) {
    vPieces.push_back(s.substr(nFrom, nAt - nFrom));
  }
  vPieces.push_back(s.substr(nFrom));
  return vPieces;
}

std::string FileNameOf(std::string_view sPath) {
  size_t nAt = sPath.find_last_of("\\/");
  return std::string(nAt == std::string_view::npos ? sPath : sPath.substr(nAt + 1));
}

std::string UserFolder(const char* sVariable, std::string_view sUnderHome) {
  auto Absolute = [](const char* sName) {
    const char* sValue = std::getenv(sName);
    return sValue && sValue[0] == '/' ? std::string(sValue) : std::string();
  };
  if (std::string sFolder = Absolute(sVariable); !sFolder.empty()) return sFolder;
  std::string sHome = Absolute("HOME");
  return sHome.empty() ? sHome : sHome + "/" + std::string(sUnderHome);
}

std::string SqlText(std::string_view s) {
  // Most values hold no quote: they are copied as they are.
  if (s.find('\'') == std::string_view::npos) return std::string(s);
  return Replace(s, "'", "''");
}

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
// The shortest scientific form, of up to 15 significant digits, that reads back as the value
// rounded to 15 digits, written into sOut (room for 32 characters); answers its length.
// Locale-free, so the decimal point is a full stop.
size_t ShortestScientific(double dValue, char* sOut) {
  constexpr size_t kRoom = 32;
  // Nearly every amount has a shortest exact form of at most 15 digits, and rounded to 15
  // digits it gives those digits and zeros, so that form is the answer without the search.
  // Subnormals hold fewer digits than that and take the search.
  char* pShortestEnd = std::to_chars(sOut, sOut + kRoom, dValue, std::chars_format::scientific).ptr;
  auto nMantissa = std::find(sOut, pShortestEnd, 'e') - sOut;
  if (dValue >= std::numeric_limits<double>::min() && nMantissa - (nMantissa > 1 ? 1 : 0) <= 15) {
    return static_cast<size_t>(pShortestEnd - sOut);
  }
  char sTarget[kRoom];
  char* pTargetEnd = std::to_chars(sTarget, std::end(sTarget), dValue, std::chars_format::scientific, 14).ptr;
  double dTarget = 0;
  if (std::from_chars(sTarget, pTargetEnd, dTarget).ec == std::errc::result_out_of_range && dValue > 1) {
    // Next to the largest double, rounding to 15 digits goes past it: the last digit is cut
    // instead, so that a finite amount is never written as a text that reads as infinite.
    --*(std::find(sTarget, pTargetEnd, 'e') - 1);
    std::from_chars(sTarget, pTargetEnd, dTarget);
  }
  for (int nPrecision = 0; nPrecision < 14; ++nPrecision) {
    char* pEnd = std::to_chars(sOut, sOut + kRoom, dValue, std::chars_format::scientific, nPrecision).ptr;
    double dTry = 0;
    std::from_chars(sOut, pEnd, dTry);
    if (dTry == dTarget) return static_cast<size_t>(pEnd - sOut);
  }
  std::copy(sTarget, pTargetEnd, sOut);
  return static_cast<size_t>(pTargetEnd - sTarget);
}

// Amounts are nearly all whole cents. A value that is the double nearest to c/100 reads back
// from the decimal c/100, and below 1e11 the doubles lie far closer together than 0.01, so no
// shorter decimal reads back as it: c/100 is its shortest form, of at most 13 digits, and is
// written here without the general search. Answers False, writing nothing, for other values.
bool AppendWholeCents(std::string& sOut, double dPositive) {
  if (dPositive >= 1e11) return false;
  auto lCents = static_cast<int64_t>(std::llround(dPositive * 100));
  if (static_cast<double>(lCents) / 100 != dPositive) return false;
  char sDigits[24];
  sOut.append(sDigits, std::to_chars(sDigits, std::end(sDigits), lCents / 100).ptr);
  int64_t lFraction = lCents % 100;
  if (lFraction == 0) return true;
  sOut += '.';
  sOut += static_cast<char>('0' + lFraction / 10);
  if (lFraction % 10 != 0) sOut += static_cast<char>('0' + lFraction % 10);
  return true;
}
}  // namespace

void AppendNumText(std::string& sOut, int64_t lValue) {
  char sDigits[24];
  sOut.append(sDigits, std::to_chars(sDigits, std::end(sDigits), lValue).ptr);
}

void AppendNumText(std::string& sOut, double dValue) {
  if (dValue == 0) {
    sOut += '0';  // also turns -0 into 0
    return;
  }
  if (!std::isfinite(dValue)) {
    sOut += std::isnan(dValue) ? "NaN" : (dValue > 0 ? "Infinity" : "-Infinity");
    return;
  }
  if (dValue < 0) sOut += '-';
  if (AppendWholeCents(sOut, std::fabs(dValue))) return;
  char sBuffer[32];
  std::string_view sScientific(sBuffer, ShortestScientific(std::fabs(dValue), sBuffer));
  size_t nE = sScientific.find('e');
  int nExponent = 0;
  std::from_chars(sBuffer + nE + 1 + (sScientific[nE + 1] == '+' ? 1 : 0), sBuffer + sScientific.size(), nExponent);
  // Ordinary magnitudes are written without an exponent, as the runtime does.
  if (nExponent < -5 || nExponent >= 15) {
    sOut += sScientific;
    return;
  }
  // The significant digits: the mantissa without its decimal point.
  char sDigits[32];
  size_t nDigits = 0;
  for (char c : sScientific.substr(0, nE)) {
    if (c != '.') sDigits[nDigits++] = c;
  }
  std::string_view sSignificant(sDigits, nDigits);
  if (nExponent < 0) {
    sOut.append("0.").append(static_cast<size_t>(-nExponent - 1), '0').append(sSignificant);
    return;
  }
  auto nWhole = static_cast<size_t>(nExponent + 1);
  if (nDigits <= nWhole) {
    sOut.append(sSignificant).append(nWhole - nDigits, '0');
    return;
  }
  sOut.append(sSignificant.substr(0, nWhole)).append(".").append(sSignificant.substr(nWhole));
}

std::string NumText(int64_t lValue) {
  std::string sOut;
  AppendNumText(sOut, lValue);
  return sOut;
}

std::string NumText(double dValue) {
  std::string sOut;
  AppendNumText(sOut, dValue);
  return sOut;
}

}  // namespace varn
