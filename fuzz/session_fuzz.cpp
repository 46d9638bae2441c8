// The session parser on any item, through SetUp on a real database: a line it takes, with no
// statement failed on the way, is stored by its INSERT and reads back as held.

#include "fuzz/FuzzSupport.h"
#include "records/Money.h"
#include "records/clsItemSession.h"
#include "runtime/Text.h"

using namespace varn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // Doubles go into SQL as their 15-digit text; that text read back gives the same text.
  auto AsStoredNumber = [](double d) { return NumText(ReadLeadingNumber(NumText(d))); };
  std::string sLine = fuzz::AsItem(pData, nSize);
  fuzz::clsInputTransaction transaction;
  uint64_t lFailures = SharedConnection().FailureCount();
  clsItemSession session;
  session.Date_ID(1);
  session.LineNo(3);
  session.Session_ID(7);
  if (!session.SetUp(sLine, enuInsert) || SharedConnection().FailureCount() != lFailures) return 0;
  fuzz::Require(session.DBUpdate(enuInsert), "a session that set up was not stored", sLine);
  fuzz::Require(
      fuzz::Values("SELECT PC_No, StartTime, EndTime, TotalTime, MemberID, Total, UserCharge, TotalGoods "
                   "FROM Session WHERE Session_ID = 7") ==
          std::vector<std::string>{session.PC_No(), session.StartTime(), session.EndTime(), session.TotalTime(),
                                   session.MemberID(), AsStoredNumber(session.Total()),
                                   AsStoredNumber(session.UserCharge()), AsStoredNumber(session.TotalGoods())},
      "a session was not stored as held", sLine);
  fuzz::Require(session.DBUpdate(enuUpdate), "a stored session was not updated", sLine);
  return 0;
}
