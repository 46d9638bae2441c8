// A 16-bit signed integer that raises overflow (error 6) instead of wrapping:
// line numbers, counts and user keys are 16 bits wide and a file past 32767 items must fail.
#pragma once

#include <cstdint>

#include "runtime/Error.h"

namespace varn {

class Int16 {
 public:
  constexpr Int16() = default;
  Int16(int64_t lValue) : mnValue(Check(lValue)) {}  // NOLINT: converts like the runtime's CInt

  int16_t Value() const { return mnValue; }
  operator int32_t() const { return mnValue; }  // NOLINT: widens freely, as the runtime does

  Int16& operator++() { return *this = Int16(int64_t{mnValue} + 1); }
  Int16& operator+=(int64_t lDelta) { return *this = Int16(int64_t{mnValue} + lDelta); }

 private:
  static int16_t Check(int64_t lValue) {
    if (lValue < INT16_MIN || lValue > INT16_MAX) RaiseError(errOverflow);
    return static_cast<int16_t>(lValue);
  }
  int16_t mnValue = 0;
};

// A 32-bit conversion that raises overflow, for values read from the database.
inline int32_t CLng(int64_t lValue) {
  if (lValue < INT32_MIN || lValue > INT32_MAX) RaiseError(errOverflow);
  return static_cast<int32_t>(lValue);
}

}  // namespace varn
