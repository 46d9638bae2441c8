// A value as a recordset field holds it: Null, a whole number, a double or a text, with the
// runtime's conversions. Converting Null raises 94; a text that is no number or date, 13.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "runtime/DateTime.h"

namespace varn {

struct Null {
  friend bool operator==(Null, Null) { return true; }
};

class Variant {
 public:
  Variant() = default;
  Variant(Null) {}                                  // NOLINT
  Variant(int64_t lValue) : mValue(lValue) {}       // NOLINT
  Variant(double dValue) : mValue(dValue) {}        // NOLINT
  Variant(std::string sValue) : mValue(std::move(sValue)) {}  // NOLINT

  bool IsNull() const { return std::holds_alternative<Null>(mValue); }
  int32_t ToLong() const;      // CLng: rounds a double half to even, raises 6 past 32 bits
  double ToDouble() const;     // CDbl
  Date ToDate() const;         // CDate: a text through the date recogniser, a number as a serial
  std::string ToText() const;  // CStr

  friend bool operator==(const Variant& a, const Variant& b) { return a.mValue == b.mValue; }

 private:
  std::variant<Null, int64_t, double, std::string> mValue;
};

}  // namespace varn
