// The history of imported dates: loading it, the duplicate check of a log file, and deletion.
#include <sys/stat.h>

#include "db/Recordset.h"
#include "runtime/Text.h"
#include "runtime/Utf8.h"
#include "service/clsLogAnalysis.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {
// The history key of a date written as text: "dd/mm/yyyy", or the text itself when it is no
// date, so that it matches nothing.
std::string HistoryKey(const std::string& sDate) {
  auto date = ParseDate(sDate);
  return date ? FormatDate(*date, "dd/mm/yyyy") : sDate;
}

// The text less its last n characters (UTF-8 aware); raises 5 when it is shorter.
std::string DropLastCharacters(const std::string& sText, size_t n) {
  size_t nEnd = sText.size();
  for (size_t nDropped = 0; nDropped < n; ++nDropped) {
    if (nEnd == 0) RaiseError(errInvalidCall);
    nEnd = PreviousCharacterStart(sText, nEnd);
  }
  return sText.substr(0, nEnd);
}
}  // namespace

std::string clsLogAnalysis::msNameDate(const std::string& sFilePath) {
  // A bare name has no folder part, and so no name: it fails like a name too short.
  bool bHasFolder = sFilePath.find_first_of("\\/") != std::string::npos;
  return DropLastCharacters(bHasFolder ? FileNameOf(sFilePath) : std::string{}, 4);
}

void clsLogAnalysis::GetHistoryDates() {
  clsHourglass hourglass;
  const std::string sSQL = "SELECT * FROM DateRange";
  clsTrap trap("clsLogAnalysis:GetHistoryDates");
  mbHistoryLoaded = trap.Run([&] {
    trap.Step("00");
    Recordset rs;
    trap.Step("01");
    mHistoryLogDates = std::make_shared<HistoryCollection>();
    trap.Step("03");
    if (!mConnection) RaiseError(errObjectNotSet);
    std::shared_ptr<Connection> pConnection = mConnection->DBConnection();
    if (const auto* pKept = pConnection->Cached<HistoryRows>(enuWhileRowsUnchanged)) {
      for (const HistoryRow& row : pKept->vRows) mAddHistoryItem(row);
      return;
    }
    std::vector<HistoryRow> vRows;
    rs.Open(sSQL, *pConnection, adOpenForwardOnly, adLockReadOnly, -1);
    trap.Step("04");
    if (!rs.BOF() && !rs.EOF_()) {
      trap.Step("05");
      while (!rs.EOF_()) {
        trap.Step("06");
        HistoryRow row{};
        trap.Step("07");
        row.lDate_ID = rs.Fields("Date_ID").ToLong();
        trap.Step("08");
        row.dblDateTotal = rs.Fields("DateTotal").ToDouble();
        trap.Step("09");
        row.logDate = rs.Fields("LogDate").ToDate();
        trap.Step("10");
        row.importedDate = rs.Fields("DateImported").ToDate();
        trap.Step("11");
        row.sKey = FormatDate(row.logDate, "dd/mm/yyyy");
        mAddHistoryItem(row);
        vRows.push_back(row);
        trap.Step("12");
        rs.MoveNext();
      }
      trap.Step("13");
      rs.Close();
    }
    pConnection->Keep(HistoryRows{std::move(vRows)});
  });
}

void clsLogAnalysis::mAddHistoryItem(const HistoryRow& row) {
  auto pItem = std::make_shared<clsItemDateRange>();
  pItem->Date_ID(row.lDate_ID);
  pItem->DateTotal(row.dblDateTotal);
  pItem->LogDate(row.logDate);
  pItem->ImportedDate(row.importedDate);
  mHistoryLogDates->Add(pItem, row.sKey);
}

bool clsLogAnalysis::IsAlreadyImported(const std::string& sFileName, std::string* psDateImported) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsLogAnalysis:IsAlreadyImported");
  trap.Handle([](const clsError& err) { return err.Number() == errInvalidCall; })
      .Custom([](const clsError& err) { return "Cannot find match for the log date.\r\n" + err.Description(); });
  trap.Run([&] {
    trap.Step("00");
    if (!mHistoryLogDates) RaiseError(errObjectNotSet);
    if (mHistoryLogDates->Count() == 0) return;
    trap.Step("01");
    std::string sKey = HistoryKey(sFileName);
    const auto& pItem = mHistoryLogDates->Item(sKey);
    trap.Step("02");
    if (FormatDate(pItem->LogDate(), "dd/mm/yyyy") != sKey) return;
    trap.Step("03");
    mMatchedLogDate = pItem->LogDate();
    mlMatchedDate_ID = pItem->Date_ID();
    trap.Step("04");
    if (psDateImported) *psDateImported = CStr(pItem->ImportedDate());
    bResult = true;
  });
  return bResult;
}

bool clsLogAnalysis::mbFileCheck(const std::string& sFilePath) {
  // A file that passes leaves the hourglass on for the import that follows.
  clsHourglass hourglass(clsHourglass::enuLeaveOn);
  bool bResult = false;
  clsTrap trap("clsLogAnalysis:mbFileCheck");
  trap.Run([&] {
    trap.Step("00");
    if (sFilePath.empty()) {
      hourglass.Restore();
      return;
    }
    trap.Step("01");
    trap.Step("02");
    std::string sFileName = msNameDate(sFilePath);
    trap.Step("03");
    if (IsAlreadyImported(sFileName)) {
      std::string sPrompt = "Records are already imported.\r\nDo you wish to update?";
      if (Screen().MsgBox(sPrompt, vbYesNo + vbQuestion, kAppTitle) != vbYes) {
        mbUpdateDeclined = true;
        hourglass.Restore();
        return;
      }
      mWhatDBAction = enuUpdate;
    } else {
      mWhatDBAction = enuInsert;
    }
    trap.Step("04");
    if (mbDoesExist(sFilePath)) {
      bResult = true;
      return;
    }
    hourglass.Restore();
  });
  return bResult;
}

bool clsLogAnalysis::mbDoesExist(const std::string& sFilePath) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsLogAnalysis:mbDoesExist");
  trap.Run([&] {
    trap.Step("00");
    if (Trim(sFilePath).empty()) return;
    // Hidden, archive and read-only files all count: any regular file at the path.
    trap.Step("01");
    struct stat info {};
    bResult = ::stat(sFilePath.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  });
  return bResult;
}

bool clsLogAnalysis::DeleteLogDate(const std::string& sDate) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsLogAnalysis:DeleteLogDate");
  trap.Run([&] {
    trap.Step("00");
    std::string sKey = HistoryKey(Replace(sDate, ".", "/"));
    trap.Step("01");
    if (!mHistoryLogDates) RaiseError(errObjectNotSet);
    int32_t lDateID = mHistoryLogDates->Item(sKey)->Date_ID();
    Connection& connection = *mConnection->DBConnection();
    // The day's rows are removed here, not left to a trigger that a database made by hand may
    // lack; all of them or none.
    TransactionGuard transaction(connection);
    auto DeleteOfDay = [&](const std::string& sTable) {
      int64_t lDeleted = 0;
      connection.Execute("DELETE FROM " + sTable + " WHERE Date_ID=" + NumText(int64_t{lDateID}), &lDeleted, -1);
      return lDeleted;
    };
    DayRowsRemoved removed;
    trap.Step("02");
    removed.lGoods = DeleteOfDay("Goods");
    trap.Step("03");
    removed.lSessions = DeleteOfDay("Session");
    removed.lShifts = DeleteOfDay("Shift");
    trap.Step("04");
    DeleteOfDay("DateRange");
    trap.Step("05");
    transaction.Commit();
    mRemoved = removed;
    bResult = true;
  });
  // The history always matches the table, so a deleted date is never "updated" afterwards.
  if (mConnection && mConnection->IsConnected()) GetHistoryDates();
  return bResult;
}

}  // namespace varn
