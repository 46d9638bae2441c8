// Amounts in the log carry currency signs and letters in front of the digits; these helpers
// read the number behind them. The reading never depends on the machine's locale.
#include "records/Money.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <system_error>

#include "runtime/Error.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The number at the start of a text with its blanks already dropped, in the form from_chars
// reads, and the power of ten of its first significant digit (to tell overflow from underflow).
struct LeadingNumber {
  std::string sText;  // short enough for the small-string buffer in every ordinary amount
  long lMagnitude = 0;
  bool bHasDigits = false;
  bool bAllZero = true;
};

class clsNumberScanner {
 public:
  explicit clsNumberScanner(std::string_view sText) : msText(sText) {}

  LeadingNumber Scan() {
    char c = Peek();
    if (c == '+' || c == '-') Take(c);
    ScanMantissa();
    if (mNumber.bHasDigits) ScanExponent();
    return std::move(mNumber);
  }

 private:
  // The next character that is not skipped, '\0' at the end.
  char Peek() {
    while (mnAt < msText.size() && IsSkipped(msText[mnAt])) ++mnAt;
    return mnAt < msText.size() ? msText[mnAt] : '\0';
  }
  void Take(char c) {
    mNumber.sText.push_back(c);
    ++mnAt;
  }

  void ScanMantissa() {
    bool bPoint = false;
    long lIntegerDigits = 0;
    long lFractionZeros = 0;
    for (char c = Peek(); IsDigit(c) || (c == '.' && !bPoint); c = Peek()) {
      Take(c);
      if (c == '.') {
        bPoint = true;
        continue;
      }
      mNumber.bHasDigits = true;
      bool bSignificant = !mNumber.bAllZero || c != '0';
      if (bSignificant && !bPoint) ++lIntegerDigits;
      if (!bSignificant && bPoint) ++lFractionZeros;
      if (c != '0') mNumber.bAllZero = false;
    }
    mNumber.lMagnitude = lIntegerDigits > 0 ? lIntegerDigits - 1 : -(lFractionZeros + 1);
  }

  // An exponent counts only when at least one digit follows the letter and its sign.
  void ScanExponent() {
    char c = Peek();
    if (c != 'E' && c != 'e') return;
    size_t nMark = mnAt;
    size_t nLength = mNumber.sText.size();
    Take(c);
    bool bNegative = false;
    if (c = Peek(); c == '+' || c == '-') {
      bNegative = c == '-';
      Take(c);
    }
    long lExponent = 0;
    bool bDigits = false;
    for (c = Peek(); IsDigit(c); c = Peek()) {
      Take(c);
      bDigits = true;
      if (lExponent < 1'000'000) lExponent = lExponent * 10 + (c - '0');
    }
    if (!bDigits) {
      mnAt = nMark;
      mNumber.sText.resize(nLength);
      return;
    }
    mNumber.lMagnitude += bNegative ? -lExponent : lExponent;
  }

  std::string_view msText;
  size_t mnAt = 0;
  LeadingNumber mNumber;
};

// The common amount, digits with at most one full stop at the very start of the text and
// followed by nothing that could continue it (a blank, which is skipped, or an exponent), is
// the text that the scanner would gather: it is read in place. Nothing for any other text, or
// for a number too large or too small to hold, which the scanner's reading judges.
std::optional<double> PlainDecimal(std::string_view sText) {
  size_t nEnd = 0;
  bool bPoint = false;
  bool bDigits = false;
  for (; nEnd < sText.size(); ++nEnd) {
    char c = sText[nEnd];
    if (c == '.' && !bPoint) {
      bPoint = true;
    } else if (IsDigit(c)) {
      bDigits = true;
    } else {
      break;
    }
  }
  if (!bDigits) return std::nullopt;
  if (nEnd < sText.size() && (IsSkipped(sText[nEnd]) || sText[nEnd] == 'e' || sText[nEnd] == 'E')) {
    return std::nullopt;
  }
  double dValue = 0;
  if (std::from_chars(sText.data(), sText.data() + nEnd, dValue).ec != std::errc{}) return std::nullopt;
  return dValue;
}

}  // namespace

double ReadLeadingNumber(std::string_view sText) {
  if (std::optional<double> dPlain = PlainDecimal(sText)) return *dPlain;
  LeadingNumber number = clsNumberScanner(sText).Scan();
  if (!number.bHasDigits) return 0;
  const char* pFirst = number.sText.data();
  if (*pFirst == '+') ++pFirst;  // from_chars takes a minus sign only
  double dValue = 0;
  auto [pEnd, ec] = std::from_chars(pFirst, number.sText.data() + number.sText.size(), dValue);
  if (ec == std::errc::result_out_of_range) {
    if (!number.bAllZero && number.lMagnitude > 0) RaiseError(errOverflow);
    return 0;  // too small to hold: it reads as nothing
  }
  return dValue;
}

bool mbIsNumber(std::string& sText) {
  bool bResult = false;
  clsTrap trap("modMainLog:mbIsNumber");
  if (!trap.Run([&] {
        trap.Step("00");
        if (sText.empty()) RaiseError(errInvalidCall);
        char cFirst = sText.front();
        trap.Step("01");
        if (IsDigit(cFirst)) {
          bResult = true;
          return;
        }
        trap.Step("02");
        sText = Trim(std::string_view(sText).substr(1));
        trap.Step("03");
        bResult = sText.empty();
      })) {
    bResult = true;  // a text that cannot be looked at ends the stripping
  }
  return bResult;
}

double AddAmounts(double dblTotal, double dblAmount) {
  double dblSum = dblTotal + dblAmount;
  if (!std::isfinite(dblSum)) RaiseError(errOverflow);
  return dblSum;
}

double CleanUpMoney(std::string_view sText) {
  double dResult = 0;
  clsTrap trap("modMainLog:CleanUpMoney");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    std::string sMoney(sText);
    while (!mbIsNumber(sMoney)) {
    }
    trap.Step("01");
    double dValue = ReadLeadingNumber(sMoney);
    trap.Step("02");
    dResult = dValue;
  });
  return dResult;
}

}  // namespace varn
