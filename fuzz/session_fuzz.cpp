// The session parser on any item, through SetUp on a real database: a line it takes, with no
// statement failed on the way, is stored by its INSERT and reads back as held.
#include <cstddef>
#include <cstdint>
#include <string>

#include "db/Recordset.h"
#include "fuzz/FuzzSupport.h"
#include "records/Money.h"
#include "records/clsItemSession.h"
#include "runtime/Text.h"

using namespace varn;

namespace {

std::string Stored(const Recordset& rs, const char* pColumn) {
  const Variant& v = rs.Fields(pColumn);
  return v.IsNull() ? "NULL" : v.ToText();
}

// Doubles go into SQL as their 15-digit text; that text read back gives the same text.
std::string AsStoredNumber(double d) { return NumText(ReadLeadingNumber(NumText(d))); }

void CheckStored(const clsItemSession& session, const std::string& sLine) {
  Recordset rs;
  rs.Open("SELECT * FROM Session WHERE Session_ID=" + NumText(int64_t{session.Session_ID()}), SharedConnection());
  fuzz::Require(!rs.EOF_(), "a stored session is missing", sLine);
  fuzz::Require(Stored(rs, "PC_No") == session.PC_No() && Stored(rs, "StartTime") == session.StartTime() &&
                    Stored(rs, "EndTime") == session.EndTime() && Stored(rs, "TotalTime") == session.TotalTime() &&
                    Stored(rs, "MemberID") == session.MemberID(),
                "a session's texts were not stored as held", sLine);
  fuzz::Require(NumText(rs.Fields("Total").ToDouble()) == AsStoredNumber(session.Total()) &&
                    NumText(rs.Fields("UserCharge").ToDouble()) == AsStoredNumber(session.UserCharge()) &&
                    NumText(rs.Fields("TotalGoods").ToDouble()) == AsStoredNumber(session.TotalGoods()),
                "a session's amounts were not stored as held", sLine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::string sLine = fuzz::AsItem(pData, nSize);
  fuzz::clsInputTransaction transaction;
  uint64_t lFailures = fuzz::DatabaseFailures();
  clsItemSession session;
  session.Date_ID(1);
  session.LineNo(3);
  session.Session_ID(7);
  if (!session.SetUp(sLine, enuInsert) || fuzz::DatabaseFailures() != lFailures) return 0;
  fuzz::Require(session.DBUpdate(enuInsert), "a session that set up was not stored", sLine);
  CheckStored(session, sLine);
  fuzz::Require(session.DBUpdate(enuUpdate), "a stored session was not updated", sLine);
  return 0;
}
