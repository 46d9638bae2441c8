#include "runtime/Text.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

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

std::string NumText(double dValue) {
  if (dValue == 0) return "0";  // also turns -0 into 0
  if (!std::isfinite(dValue)) return std::isnan(dValue) ? "NaN" : (dValue > 0 ? "Infinity" : "-Infinity");
  char sBuffer[40];
  // The shortest of the %.Ng forms that reads back as the 15-digit rounding of the value.
  std::snprintf(sBuffer, sizeof sBuffer, "%.15g", dValue);
  double dTarget = std::strtod(sBuffer, nullptr);
  for (int nDigits = 1; nDigits < 15; ++nDigits) {
    char sTry[40];
    std::snprintf(sTry, sizeof sTry, "%.*g", nDigits, dValue);
    if (std::strtod(sTry, nullptr) == dTarget) {
      std::snprintf(sBuffer, sizeof sBuffer, "%s", sTry);
      break;
    }
  }
  std::string sOut = sBuffer;
  // Whole numbers and ordinary magnitudes are written without an exponent, as the runtime does.
  if (sOut.find('e') != std::string::npos && std::fabs(dValue) >= 1e-5 && std::fabs(dValue) < 1e15) {
    std::snprintf(sBuffer, sizeof sBuffer, "%.15f", dTarget);
    sOut = sBuffer;
    if (sOut.find('.') != std::string::npos) {
      sOut.erase(sOut.find_last_not_of('0') + 1);
      if (sOut.back() == '.') sOut.pop_back();
    }
  }
  return sOut;
}

}  // namespace varn
