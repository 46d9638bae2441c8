#include "records/clsItemSession.h"

#include <vector>

#include "db/modMainLog.h"
#include "records/Money.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

// Fields of a group as the log's runtime splits them: an empty text has no field at all, so
// an empty user group fails where its first field is read.
std::vector<std::string_view> Fields(std::string_view sText, char cDelimiter) {
  if (sText.empty()) return {};
  return SplitViews(sText, cDelimiter);
}

// A field that the line lacks raises subscript out of range (9).
std::string_view FieldAt(const std::vector<std::string_view>& vFields, size_t n) {
  if (n >= vFields.size()) RaiseError(errSubscript);
  return vFields[n];
}

IUserCategories& UserCategories() {
  IUserCategories* pUsers = ImportService().LogFile();
  if (!pUsers) RaiseError(errObjectNotSet);
  return *pUsers;
}

std::string Whole(int64_t lValue) { return NumText(lValue); }

// An empty text with room for a whole statement, so that building one appends in place.
std::string Reserved() {
  std::string s;
  s.reserve(320);
  return s;
}

}  // namespace

bool clsItemSession::SetUp(const std::string& sLine, int32_t /*eWhatAction*/) {
  bool bResult = false;
  clsTrap trap("clsItemSession:SetUp");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    // The fields are read as views of the line, or of its conversion when it has the older layout.
    std::string sConverted;
    std::string_view sWork = sLine;
    if (!mbIsNewFormat(sLine)) sWork = sConverted = msConvertToNewFormat(sLine);
    // A line that could not be converted has been reported there, once.
    if (sWork.empty()) return;
    std::vector<std::string_view> vGroups = Fields(sWork, '|');
    std::string_view sSessionGroup = FieldAt(vGroups, 0);
    std::string_view sGoodsGroup = FieldAt(vGroups, 1);
    std::string_view sUserGroup = FieldAt(vGroups, 2);
    mGoods = std::make_shared<clsItemGoods>();
    if (!mGoods->SetUp(sGoodsGroup)) return;
    std::vector<std::string_view> vSession = Fields(sSessionGroup, ',');
    std::vector<std::string_view> vUser = Fields(sUserGroup, ',');

    trap.Step("01");
    msPC_No = FieldAt(vSession, 0);
    trap.Step("02");
    msStartTime = Trim(FieldAt(vSession, 1));
    trap.Step("03");
    msEndTime = Trim(FieldAt(vSession, 2));
    trap.Step("04");
    msTotalTime = msCheckForCorrectTime(FieldAt(vSession, 3));
    trap.Step("05");
    mdblTotalGoods = mGoods->TotalGoods();
    trap.Step("06");
    std::string sUserName;
    std::string sCharge;
    mGetUserAndCharge(FieldAt(vUser, 0), sUserName, sCharge);
    // A session is never stored without its category: "Guest 1.50" or ":1.50" names none.
    if (sUserName.empty()) RaiseError(errTypeMismatch, "No user category (a name before a colon) in the session");

    trap.Step("15");
    Int16 nUserID = UserCategories().GetUserID(sUserName);
    if (nUserID == -1) return;
    trap.Step("16");
    if (nUserID == 0) {
      trap.Step("17");
      nUserID = UserCategories().CreateUser(sUserName);
      if (nUserID < 1) return;
    }
    trap.Step("18");
    mlUser_ID = nUserID;
    trap.Step("19");
    mdblUserCharge = CleanUpMoney(sCharge);
    trap.Step("20");
    mdblTotal = CleanUpMoney(Trim(FieldAt(vUser, 1)));
    trap.Step("21");
    if (vUser.size() > 2) msMemberID = Trim(vUser[2]);
    if (msMemberID.empty()) msMemberID = " ";
    bResult = true;
  });
  return bResult;
}

bool clsItemSession::DBUpdate(int32_t eDBAction) {
  bool bResult = false;
  clsTrap trap("clsItemSession:DBUpdate");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    trap.Step("01");
    if (mbDBUpdate15(eDBAction)) {
      if (!mGoods) RaiseError(errObjectNotSet);
      mGoods->Session_ID(mlSession_ID);
      mGoods->Date_ID(mlDate_ID);
      bResult = mGoods->DBUpdate(eDBAction);
    }
  });
  return bResult;
}

bool clsItemSession::mbIsNewFormat(const std::string& sLine) { return sLine.find('|') != std::string::npos; }

std::string clsItemSession::msConvertToNewFormat(const std::string& sLine) {
  std::string sResult;
  clsTrap trap("clsItemSession:msConvertToNewFormat");
  bool bDone = trap.Run([&] {
    trap.Step("00");
    std::vector<std::string_view> vFields = SplitViews(sLine, ',');
    size_t nLast = vFields.size() - 1;
    trap.Step("01");
    // The fields it takes are all there before any is copied: a long line is held no more often.
    FieldAt(vFields, 12);
    for (size_t n = 0; n <= 3; ++n) sResult.append(vFields[n]).append(",");
    trap.Step("02");
    sResult.pop_back();
    sResult += "|";
    trap.Step("03");
    for (size_t n = 4; n <= 12; ++n) {
      AppendNumText(sResult, CleanUpMoney(vFields[n]));
      sResult += ',';
    }
    trap.Step("04");
    sResult.pop_back();
    sResult += "|";
    trap.Step("05");
    for (size_t n = 13; n <= nLast; ++n) sResult.append(vFields[n]).append(",");
    trap.Step("06");
    if (nLast > 14) sResult.pop_back();
  });
  if (!bDone) sResult.clear();
  return sResult;
}

std::string clsItemSession::msCheckForCorrectTime(std::string_view sText) {
  std::string sResult;
  // Part of SetUp or DBUpdate, which ends the hourglass.
  clsHourglass hourglass(clsHourglass::enuLeaveOn);
  clsTrap trap("clsItemSession:msCheckForCorrectTime");
  bool bDone = trap.Run([&] {
    trap.Step("00");
    sResult = "0:00";
    trap.Step("01");
    std::string sTrimmed = Trim(sText);
    if (sTrimmed.empty()) return;
    trap.Step("02");
    bool bTimeChars = true;
    for (char c : sTrimmed) {
      trap.Step("03");
      if (c < '0' || c > ':') bTimeChars = false;
      trap.Step("04");
    }
    trap.Step("05");
    if (bTimeChars) sResult = sTrimmed;
  });
  if (!bDone) sResult = "0:00";
  return sResult;
}

void clsItemSession::mGetUserAndCharge(std::string_view sText, std::string& sUserName, std::string& sCharge) {
  // Part of SetUp or DBUpdate, which ends the hourglass.
  clsHourglass hourglass(clsHourglass::enuLeaveOn);
  clsTrap trap("clsItemSession:mGetUserAndCharge");
  trap.Run([&] {
    trap.Step("00");
    size_t nColon = sText.find(':');
    if (nColon == std::string_view::npos) return;
    trap.Step("01");
    sUserName = Trim(sText.substr(0, nColon));
    sCharge = sText.substr(nColon + 1);
  });
}

bool clsItemSession::mbDBUpdate15(int32_t eDBAction) {
  bool bResult = false;
  bool bRetryInsert = false;
  // Part of SetUp or DBUpdate, which ends the hourglass.
  clsHourglass hourglass(clsHourglass::enuLeaveOn);
  auto sInsert = [&] {
    return Reserved() +
           "INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,"
           "User_ID,UserCharge,Total,MemberID) VALUES (" +
           Whole(mlSession_ID) + "," + Whole(mlDate_ID) + "," + Whole(mnLineNo.Value()) + ",'" + SqlText(msPC_No) +
           "','" + SqlText(msStartTime) + "','" + SqlText(msEndTime) + "','" + SqlText(msTotalTime) + "'," +
           NumText(mdblTotalGoods) + "," + Whole(mlUser_ID) + "," + NumText(mdblUserCharge) + "," + NumText(mdblTotal) +
           ",'" + SqlText(msMemberID) + "')";
  };
  clsTrap trap("clsItemSession:mbDBUpdate15");
  // A key that the database already holds: an INSERT tries the next key once, an UPDATE
  // answers False without a report.
  trap.Handle([&](const clsError& err) {
    if (err.Number() != errDBUniqueKey) return false;
    bRetryInsert = eDBAction == enuInsert;
    return true;
  });
  trap.Run([&] {
    trap.Step("00");
    std::string sSQL;
    trap.Step("01");
    if (eDBAction == enuInsert) {
      trap.Step("02");
      sSQL = sInsert();
    }
    if (eDBAction == enuUpdate) {
      trap.Step("03");
      sSQL = Reserved() + "UPDATE Session SET Date_ID=" + Whole(mlDate_ID) + ",LineNo=" + Whole(mnLineNo.Value()) + ",PC_No='" +
             SqlText(msPC_No) + "',StartTime='" + SqlText(msStartTime) + "',EndTime='" + SqlText(msEndTime) +
             "',TotalTime='" + SqlText(msTotalTime) + "',TotalGoods=" + NumText(mdblTotalGoods) +
             ",User_ID=" + Whole(mlUser_ID) + ",UserCharge=" + NumText(mdblUserCharge) +
             ",Total=" + NumText(mdblTotal) + ",MemberID='" + SqlText(msMemberID) +
             "' WHERE Session_ID=" + Whole(mlSession_ID);
    }
    trap.Step("04");
    SharedConnection().Execute(sSQL, nullptr, -1);
    bResult = true;
  });
  if (bRetryInsert) {
    // A second refusal is not this procedure's to handle: it ends DBUpdate as its own failure.
    ++mlSession_ID;
    SharedConnection().Execute(sInsert(), nullptr, -1);
    bResult = true;
  }
  return bResult;
}

}  // namespace varn
