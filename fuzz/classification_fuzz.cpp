// Line classification and the number readers on any item: the kind found agrees with the
// line's start, and a number read is never NaN.
#include <cmath>

#include "fuzz/FuzzSupport.h"
#include "parse/LineClassification.h"
#include "records/Money.h"
#include "runtime/Text.h"

using namespace varn;

namespace {

void CheckKind(const std::string& sLine) {
  eLogField eField = enuNoField;
  switch (meIdentifyTable(sLine, eField)) {
    case enuDateRangeTable:
      fuzz::Require(eField == enuLogDate ? sLine[0] == '#' : eField == enuDateTotal, "a date line of no kind", sLine);
      break;
    case enuShiftTable:
      fuzz::Require(eField == (StartsWith(sLine, ">>") ? enuSignOn : enuSignOff) &&
                        (StartsWith(sLine, ">>") || StartsWith(sLine, "<<")),
                    "a shift line of the wrong kind", sLine);
      break;
    case enuSessionTable:
      fuzz::Require(StartsWith(sLine, "PC") && eField == enuNoField, "a session line that is none", sLine);
      break;
    default:
      fuzz::Require(!StartsWith(sLine, "PC") && !StartsWith(sLine, ">>") && !StartsWith(sLine, "<<"),
                    "a known line left uncategorised", sLine);
      break;
  }
}

void CheckNumbers(const std::string& sLine) {
  // A number too large for a double raises overflow, which the callers' traps report.
  try {
    fuzz::Require(!std::isnan(ReadLeadingNumber(sLine)), "a number read as NaN", sLine);
  } catch (const clsError& err) {
    fuzz::Require(err.Number() == errOverflow, "a number raised something other than overflow", sLine);
  }
  double dMoney = CleanUpMoney(sLine);
  fuzz::Require(!std::isnan(dMoney), "an amount read as NaN", sLine);
  // Amounts go into SQL as text: that text must read back as the same text.
  std::string sText = NumText(dMoney);
  fuzz::Require(NumText(ReadLeadingNumber(sText)) == sText || !std::isfinite(dMoney), "an amount's text drifts", sLine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  fuzz::Screen();
  std::string sLine = fuzz::AsItem(pData, nSize);
  CheckKind(sLine);
  CheckNumbers(sLine);
  return 0;
}
