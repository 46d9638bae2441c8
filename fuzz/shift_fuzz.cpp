// The sign-on and sign-off parser on any item, through SetUp on a real database: a line it
// takes is stored by its INSERT and reads back as held.

#include "fuzz/FuzzSupport.h"
#include "records/clsItemShift.h"
#include "runtime/Text.h"

using namespace varn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  if (nSize == 0) return 0;
  // The first byte picks the kind, so both readers see every text.
  eLogField eField = pData[0] & 1 ? enuSignOn : enuSignOff;
  std::string sLine = fuzz::AsItem(pData + 1, nSize - 1);
  fuzz::clsInputTransaction transaction;
  clsItemShift shift;
  shift.Date_ID(1);
  shift.LineNo(2);
  shift.Shift_ID(5);
  if (!shift.SetUp(sLine, eField)) return 0;
  fuzz::Require(shift.DBUpdate(enuInsert), "a shift that set up was not stored", sLine);
  fuzz::Require(fuzz::Values("SELECT SignOn, SignOff, SignDateTime FROM Shift WHERE Shift_ID = 5") ==
                    std::vector<std::string>{shift.SignOn(), shift.SignOff(), CStr(shift.Time())},
                "a shift was not stored as held", sLine);
  fuzz::Require(shift.DBUpdate(enuUpdate), "a stored shift was not updated", sLine);
  return 0;
}
