// The date and day-total lines on any item, through SetUp on a real database: a date the
// record takes gets a key, and its row is stored and reads back as held.
#include <cstdlib>

#include "fuzz/FuzzSupport.h"
#include "parse/LineClassification.h"
#include "records/clsItemDateRange.h"
#include "runtime/Text.h"

using namespace varn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  if (nSize == 0) return 0;
  std::string sLine = fuzz::AsItem(pData + 1, nSize - 1);
  fuzz::clsInputTransaction transaction;
  eLogField eField = enuNoField;
  // A line of neither kind still reaches both readers, picked by the first byte.
  if (meIdentifyTable(sLine, eField) != enuDateRangeTable) eField = pData[0] & 1 ? enuLogDate : enuDateTotal;
  clsItemDateRange dateRange;
  // A day total adds to a date already taken, as in a log.
  if (eField == enuDateTotal && !dateRange.SetUp("#03/02/2025#", enuLogDate, enuInsert)) std::abort();
  if (!dateRange.SetUp(sLine, eField, enuInsert) || dateRange.Date_ID() == 0) return 0;
  fuzz::Require(dateRange.DBUpdate(enuInsert), "a date that set up was not stored", sLine);
  fuzz::Require(fuzz::Values("SELECT LogDate FROM DateRange WHERE Date_ID = " +
                             NumText(int64_t{dateRange.Date_ID()})) == std::vector{CStr(dateRange.LogDate())},
                "a date was not stored as held", sLine);
  fuzz::Require(dateRange.DBUpdate(enuUpdate), "a stored date was not updated", sLine);
  return 0;
}
