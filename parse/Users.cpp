// The processor's user list: the User table loaded once, looked up by name without regard
// to letter case, and grown by the users that session lines name for the first time.
#include "db/Recordset.h"
#include "parse/clsItemLogFile.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

void clsItemLogFile::mGetUsers() {
  clsTrap trap("clsItemLogFile:mGetUsers");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    const std::string sSQL = "SELECT * FROM User";
    trap.Step("00");
    mUsers = std::make_shared<Collection<clsItemUser>>();
    trap.Step("01");
    Recordset rs;
    trap.Step("02");
    rs.Open(sSQL, SharedConnection(), adOpenDynamic, adLockReadOnly, -1);
    trap.Step("03");
    if (!rs.BOF() && !rs.EOF_()) {
      trap.Step("04");
      rs.MoveFirst();
      while (!rs.EOF_()) {
        trap.Step("05");
        auto pUser = std::make_shared<clsItemUser>();
        trap.Step("06");
        pUser->User_ID(rs.Fields("User_ID").ToLong());
        trap.Step("07");
        pUser->UserName(rs.Fields("UserName").ToText());
        trap.Step("08");
        mUsers->Add(pUser, pUser->UserName());
        trap.Step("09");
        rs.MoveNext();
      }
    }
    trap.Step("10");
    rs.Close();
  });
}

Int16 clsItemLogFile::GetUserID(const std::string& sUserName) {
  Int16 nResult;
  clsTrap trap("clsItemLogFile:GetUserID");
  // A name not in the list answers 0 silently; anything else is shown here, not reported.
  trap.Handle([&](const clsError& err) {
    if (err.Number() == errInvalidCall) return true;
    nResult = -1;
    Screen().MsgBox("Error matching User Category " + sUserName + " for the session", vbOKOnly + vbCritical, kAppTitle);
    return true;
  });
  trap.Run([&] {
    trap.Step("00");
    if (!mUsers || mUsers->Count() == 0) return;
    trap.Step("01");
    const auto& pUser = mUsers->Item(sUserName);
    trap.Step("02");
    nResult = Int16(int64_t{pUser->User_ID()});
  });
  return nResult;
}

Int16 clsItemLogFile::CreateUser(const std::string& sUserName) {
  Int16 nResult;
  if (sUserName.empty()) return nResult;
  clsTrap trap("clsItemLogFile:CreateUser");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    int32_t lKey = GetNextID(enuUserTable);
    if (lKey > 0) {
      trap.Step("01");
      auto pUser = std::make_shared<clsItemUser>();
      trap.Step("02");
      pUser->User_ID(lKey);
      trap.Step("03");
      pUser->UserName(sUserName);
      trap.Step("04");
      // A user whose row was not written must not be handed to a session: it would refer to
      // nothing. Insert has shown why.
      if (!pUser->Insert()) return;
      trap.Step("05");
      mUsers->Add(pUser, pUser->UserName());
    }
    trap.Step("06");
    nResult = Int16(int64_t{lKey});
  });
  return nResult;
}

}  // namespace varn
