// The log file processor: lines in, records held in memory, one write pass at the end.
#include "parse/clsItemLogFile.h"

#include <vector>

#include "db/Connection.h"
#include "parse/LineClassification.h"
#include "records/Money.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {
const char* TableName(eLogTable eTable) { return eTable == enuSessionTable ? "Session" : "Shift"; }
}  // namespace

clsItemLogFile::clsItemLogFile() {
  mGetUsers();
  mDateRange = std::make_shared<clsItemDateRange>();
}

void clsItemLogFile::NamedAfter(const std::string& sFileName, std::optional<Date> nameDay) {
  msFileName = sFileName;
  mNameDay = nameDay;
}

bool clsItemLogFile::mbIsNamedDay(const std::string& sLine) const {
  std::optional<Date> dtLine = clsItemDateRange::LineDate(sLine);
  if (!dtLine) return false;
  std::string sLineDay = FormatDate(*dtLine, "dd/mm/yyyy");
  if (mNameDay && sLineDay != FormatDate(*mNameDay, "dd/mm/yyyy")) {
    RaiseError(errInvalidCall, "The log " + msFileName + " is dated " + sLineDay + ", not " +
                                   FormatDate(*mNameDay, "dd/mm/yyyy") + ": nothing of it was imported.");
  }
  return true;
}

bool clsItemLogFile::mbDatabaseFailedSince(uint64_t lFailures) const {
  return SharedConnection().FailureCount() != lFailures;
}

eLineOutcome clsItemLogFile::ProcessLine(const std::string& sLine, Int16 nLineNumber) {
  eLineOutcome eResult = enuLineStopsFile;
  clsHourglass hourglass;
  clsTrap trap("clsItemLogFile:ProcessLine");
  trap.Run([&] {
    // A statement that fails while the file is read stops the file: a user, a goods column or
    // the date's row missing would leave the import incomplete.
    uint64_t lFailures = SharedConnection().FailureCount();
    varneDBAction eAction = ImportService().WhatDBAction();
    trap.Step("00");
    eLogField eField = enuNoField;
    bool bRead = true;
    switch (meIdentifyTable(sLine, eField)) {
      case enuDateRangeTable:
        trap.Step("01");
        // The first date line that reads as a date gives the day; later ones (the next day's,
        // when the shop stays open past midnight) change nothing.
        if (eField == enuLogDate && (mDateRangeWritten || !mbIsNamedDay(sLine))) break;
        if (!mDateRange->SetUp(sLine, eField, eAction)) return;
        // A day total only adds to the record, which the write pass brings to the row.
        if (eField != enuLogDate) break;
        trap.Step("02");
        if (!mDateRange->DBUpdate(eAction)) return;
        mDateRangeWritten = true;
        break;
      case enuShiftTable:
        trap.Step("04");
        bRead = mbProcessShift(sLine, nLineNumber, eField);
        break;
      case enuSessionTable:
        trap.Step("03");
        bRead = mbProcessSession(sLine, nLineNumber);
        break;
      default:
        eResult = enuLineUncategorised;
        return;
    }
    if (mbStopFile || mbDatabaseFailedSince(lFailures)) return;
    eResult = bRead ? enuLineTaken : enuLineUnreadable;
  });
  return eResult;
}

int32_t clsItemLogFile::mlNextKey(eLogTable eTable, int32_t& lCounter) {
  if (lCounter == 0) lCounter = GetNextID(eTable);
  if (lCounter == -1) {
    Screen().MsgBox(std::string("Error getting next ID for ") + TableName(eTable), vbOKOnly + vbCritical, kAppTitle);
    return 0;
  }
  if (lCounter == 0) {
    // The allocation failed and has been reported: numbering from 1 would reuse stored keys.
    mbStopFile = true;
    return 0;
  }
  lCounter = CLng(int64_t{lCounter} + 1);
  return lCounter;
}

int32_t clsItemLogFile::mlKeyFor(eLogTable eTable, Int16 nLineNumber, int32_t& lCounter, int32_t& lNewCounter,
                                 bool& bNewInUpdate, clsTrap& trap) {
  trap.Step("00");
  if (ImportService().WhatDBAction() != enuUpdate) {
    trap.Step("01");
    return mlNextKey(eTable, lCounter);
  }
  trap.Step("02");
  int32_t lFound = GetExistingID(eTable, nLineNumber, mDateRange->Date_ID());
  if (lFound == -1) {
    Screen().MsgBox(std::string("Error getting next ID for ") + TableName(eTable), vbOKOnly + vbCritical, kAppTitle);
    return 0;
  }
  if (lFound == 0) {
    mbStopFile = true;
    return 0;
  }
  if (lFound != kNoExistingID) return lFound;
  // A line added to the log since the first import: inserted with a fresh key.
  bNewInUpdate = true;
  return mlNextKey(eTable, lNewCounter);
}

bool clsItemLogFile::mbProcessSession(const std::string& sLine, Int16 nLineNumber) {
  bool bResult = false;
  clsHourglass hourglass;
  clsTrap trap("clsItemLogFile:mbProcessSession");
  trap.Run([&] {
    bool bNewInUpdate = false;
    int32_t lKey = mlKeyFor(enuSessionTable, nLineNumber, mSessionID, mNewSessionID, bNewInUpdate, trap);
    // No key: the file stops, or the line is left as an update leaves it (reported, if at all, there).
    bResult = lKey == 0;
    if (bResult) return;
    trap.Step("04");
    auto pSession = std::make_shared<clsItemSession>();
    trap.Step("05");
    pSession->LineNo(nLineNumber);
    trap.Step("06");
    pSession->Session_ID(lKey);
    trap.Step("07");
    if (!pSession->SetUp(sLine, ImportService().WhatDBAction())) return;
    trap.Step("08");
    mvSessions.push_back(std::move(pSession));
    if (bNewInUpdate) mNewSessionLines.insert(nLineNumber);
    bResult = true;
  });
  return bResult;
}

bool clsItemLogFile::mbProcessShift(const std::string& sLine, Int16 nLineNumber, eLogField eField) {
  bool bResult = false;
  clsHourglass hourglass;
  clsTrap trap("clsItemLogFile:mbProcessShift");
  trap.Run([&] {
    bool bNewInUpdate = false;
    int32_t lKey = mlKeyFor(enuShiftTable, nLineNumber, mShiftID, mNewShiftID, bNewInUpdate, trap);
    // No key: the file stops, or the line is left as an update leaves it (reported, if at all, there).
    bResult = lKey == 0;
    if (bResult) return;
    trap.Step("04");
    auto pShift = std::make_shared<clsItemShift>();
    trap.Step("06");
    pShift->LineNo(nLineNumber);
    trap.Step("07");
    pShift->Shift_ID(lKey);
    trap.Step("08");
    if (!pShift->SetUp(sLine, eField)) return;
    trap.Step("09");
    mvShifts.push_back(std::move(pShift));
    if (bNewInUpdate) mNewShiftLines.insert(nLineNumber);
    bResult = true;
  });
  return bResult;
}

bool clsItemLogFile::DBUpdateALL(int32_t eWhatAction) {
  bool bResult = false;
  clsHourglass hourglass;
  clsTrap trap("clsItemLogFile:DBUpdateALL");
  trap.Run([&] {
    trap.Step("00");
    if (mDateRange->DateTotal() == 0) {
      trap.Step("01");
      mDateRange->DateTotal(mdblRecalcDateTotal());
    }
    trap.Step("02");
    if (!mDateRange->DBUpdate(enuUpdate)) return;
    auto ActionFor = [eWhatAction](const std::unordered_set<int32_t>& newLines, int32_t lLineNo) {
      return eWhatAction == enuUpdate && newLines.count(lLineNo) ? int32_t{enuInsert} : eWhatAction;
    };
    // Every record takes the day's key now, lines before the date line too.
    int32_t lDateID = mDateRange->Date_ID();
    trap.Step("03");
    for (const auto& pSession : mvSessions) {
      pSession->Date_ID(lDateID);
      trap.Step("05");
      if (!pSession->DBUpdate(ActionFor(mNewSessionLines, pSession->LineNo()))) return;
    }
    trap.Step("06");
    for (const auto& pShift : mvShifts) {
      pShift->Date_ID(lDateID);
      trap.Step("08");
      if (!pShift->DBUpdate(ActionFor(mNewShiftLines, pShift->LineNo()))) return;
    }
    trap.Step("09");
    if (eWhatAction == enuUpdate) mRemoveStaleRows();
    mReset();
    bResult = true;
  });
  return bResult;
}

namespace {

// The keys a query gives that are not among the kept ones.
std::vector<int32_t> KeysNotAmong(Connection& conn, const std::string& sSql,
                                  const std::unordered_set<int32_t>& setKept) {
  std::vector<int32_t> vKeys;
  for (const auto& vRow : conn.Query(sSql).vRows) {
    int32_t lKey = vRow.at(0).ToLong();
    if (!setKept.count(lKey)) vKeys.push_back(lKey);
  }
  return vKeys;
}

// The rows deleted by key.
int64_t DeleteKeys(Connection& conn, const std::string& sTable, const std::string& sKey,
                   const std::vector<int32_t>& vKeys) {
  if (vKeys.empty()) return 0;
  std::string sSQL = "DELETE FROM " + sTable + " WHERE " + sKey + " IN (";
  for (int32_t lKey : vKeys) sSQL.append(NumText(int64_t{lKey})).append(",");
  sSQL.back() = ')';
  int64_t lDeleted = 0;
  conn.Execute(sSQL, &lDeleted, -1);
  return lDeleted;
}

}  // namespace

void clsItemLogFile::mRemoveStaleRows() {
  // The day's rows that no line of the log wrote: their line was removed, moved, turned into
  // another kind or can no longer be read. A first import of the log would not have them.
  std::unordered_set<int32_t> setSessions, setShifts;
  for (const auto& pSession : mvSessions) setSessions.insert(pSession->Session_ID());
  for (const auto& pShift : mvShifts) setShifts.insert(pShift->Shift_ID());
  Connection& conn = SharedConnection();
  std::string sOfDay = " WHERE Date_ID=" + NumText(int64_t{mDateRange->Date_ID()});
  std::vector<int32_t> vSessions = KeysNotAmong(conn, "SELECT Session_ID FROM Session" + sOfDay, setSessions);
  std::vector<int32_t> vGoods = KeysNotAmong(conn, "SELECT Session_ID FROM Goods" + sOfDay, setSessions);
  vGoods.insert(vGoods.end(), vSessions.begin(), vSessions.end());
  mRemoved.lGoods = DeleteKeys(conn, "Goods", "Session_ID", vGoods);
  mRemoved.lSessions = DeleteKeys(conn, "Session", "Session_ID", vSessions);
  mRemoved.lShifts =
      DeleteKeys(conn, "Shift", "Shift_ID", KeysNotAmong(conn, "SELECT Shift_ID FROM Shift" + sOfDay, setShifts));
}

double clsItemLogFile::mdblRecalcDateTotal() {
  double dblTotal = 0;
  clsHourglass hourglass;
  clsTrap trap("clsItemLogFile:mdblRecalcDateTotal");
  double dblResult = 0;
  trap.Run([&] {
    trap.Step("00");
    trap.Step("1");
    for (const auto& pSession : mvSessions) {
      trap.Step("02");
      double dblSession = pSession->Total();
      trap.Step("03");
      dblTotal = AddAmounts(dblTotal, dblSession);
    }
    trap.Step("04");
    dblResult = dblTotal;
  });
  return dblResult;
}

void clsItemLogFile::mReset() {
  mvSessions.clear();
  mvShifts.clear();
  mDateRange = std::make_shared<clsItemDateRange>();
  mSessionID = 0;
  mShiftID = 0;
  mNewSessionLines.clear();
  mNewShiftLines.clear();
  mNewSessionID = 0;
  mNewShiftID = 0;
}

}  // namespace varn
