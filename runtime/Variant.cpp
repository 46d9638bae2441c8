// The runtime's conversions of a field value: to a whole number, a double, a date or a text.
#include "runtime/Variant.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "runtime/Error.h"
#include "runtime/Int16.h"
#include "runtime/Text.h"

namespace varn {

namespace {

size_t SkipDigits(std::string_view s, size_t n) {
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
  return n;
}

// A text that is a decimal number (sign, digits, an optional fraction after a full stop and an
// optional exponent), blanks around it allowed; nothing for any other text. Past the range
// of a double it overflows; below it, it is 0.
std::optional<double> NumberOf(std::string_view sText) {
  std::string sNumber = Trim(sText);
  std::string_view s = sNumber;
  bool bNegative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  size_t nIntegerEnd = SkipDigits(s, 0);
  size_t nEnd = nIntegerEnd;
  if (nEnd < s.size() && s[nEnd] == '.') nEnd = SkipDigits(s, nEnd + 1);
  if (nEnd == 0 || (nIntegerEnd == 0 && nEnd == 1)) return std::nullopt;
  if (nEnd < s.size() && (s[nEnd] == 'e' || s[nEnd] == 'E')) {
    size_t nDigits = nEnd + 1;
    if (nDigits < s.size() && (s[nDigits] == '+' || s[nDigits] == '-')) ++nDigits;
    nEnd = SkipDigits(s, nDigits);
    if (nEnd == nDigits) return std::nullopt;
  }
  if (nEnd != s.size()) return std::nullopt;
  double dValue = 0;
  if (std::from_chars(s.data(), s.data() + s.size(), dValue).ec == std::errc::result_out_of_range) {
    bool bTooSmall = s.find("e-") != std::string_view::npos || s.find("E-") != std::string_view::npos;
    if (!bTooSmall) RaiseError(errOverflow);
    dValue = 0;
  }
  return bNegative ? -dValue : dValue;
}

// Half way between two whole numbers goes to the even one, as the runtime rounds.
double RoundHalfEven(double dValue) {
  double dRounded = std::round(dValue);
  if (std::fabs(dValue - std::trunc(dValue)) == 0.5) dRounded = 2 * std::round(dValue / 2);
  return dRounded;
}

bool IsSerialInRange(double dSerial) {
  static const double dFirst = DateSerial(100, 1, 1).dSerial - 1;
  static const double dLast = DateSerial(9999, 12, 31).dSerial + 1;
  return dSerial > dFirst && dSerial < dLast;
}

}  // namespace

int32_t Variant::ToLong() const {
  if (auto* plValue = std::get_if<int64_t>(&mValue)) return CLng(*plValue);
  double dRounded = RoundHalfEven(ToDouble());
  if (!(dRounded >= INT32_MIN && dRounded <= INT32_MAX)) RaiseError(errOverflow);
  return static_cast<int32_t>(dRounded);
}

double Variant::ToDouble() const {
  if (IsNull()) RaiseError(errInvalidUseOfNull);
  if (auto* plValue = std::get_if<int64_t>(&mValue)) return static_cast<double>(*plValue);
  if (auto* pdValue = std::get_if<double>(&mValue)) return *pdValue;
  std::optional<double> dNumber = NumberOf(std::get<std::string>(mValue));
  if (!dNumber) RaiseError(errTypeMismatch);
  return *dNumber;
}

Date Variant::ToDate() const {
  if (auto* psValue = std::get_if<std::string>(&mValue)) return CDate(*psValue);
  double dSerial = ToDouble();
  if (!IsSerialInRange(dSerial)) RaiseError(errOverflow);
  return Date{dSerial};
}

std::string Variant::ToText() const {
  if (IsNull()) RaiseError(errInvalidUseOfNull);
  if (auto* plValue = std::get_if<int64_t>(&mValue)) return NumText(*plValue);
  if (auto* pdValue = std::get_if<double>(&mValue)) return NumText(*pdValue);
  return std::get<std::string>(mValue);
}

}  // namespace varn
