// The import of one log file: the duplicate check, then one transaction that holds everything
// the import writes, committed only when the whole file has been read and written.
#include <cstdint>
#include <memory>

#include "db/modMainLog.h"
#include "runtime/FieldReader.h"
#include "runtime/Text.h"
#include "service/clsLogAnalysis.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

bool clsLogAnalysis::ProcessLogFile(const std::string& sFilePath) {
  clsHourglass hourglass;
  bool bResult = false;
  // A failed import shows the default pointer before it tidies up.
  auto Failed = [&] {
    hourglass.Restore();
    return mbFailureEnding();
  };
  mbUpdateDeclined = false;
  clsTrap trap("clsLogAnalysis:ProcessLogFile");
  bool bRan = trap.Run([&] {
    trap.Step("00");
    if (!IsConnected()) {
      Screen().MsgBox("Not connected", vbOKOnly + vbCritical, kAppTitle);
      bResult = Failed();
      return;
    }
    trap.Step("01");
    if (!mbFileCheck(sFilePath)) {
      bResult = Failed();
      return;
    }
    // One transaction for the whole import, begun before anything is read: a failure at any
    // point, a killed process included, leaves the database as it was. Beginning it takes the
    // write lock, so a second importer waits and then works on what this one committed.
    TransactionGuard importTransaction(SharedConnection());
    if (!mbConfirmUnderLock(sFilePath)) {
      importTransaction.Rollback();
      bResult = Failed();
      return;
    }
    mRemoved = {};
    mLogFile = std::make_shared<clsItemLogFile>();
    mLogFile->NamedAfter(FileNameOf(sFilePath), ParseDate(msNameDate(sFilePath)));
    // An update finds the day's rows under the key the history gave it, those of lines before
    // the date line too.
    if (mWhatDBAction == enuUpdate) mLogFile->DateRange()->Date_ID(mlMatchedDate_ID);
    trap.Step("02");
    if (!mbProcessFile(sFilePath)) {
      mLogFile.reset();
      importTransaction.Rollback();
      bResult = Failed();
      return;
    }
    trap.Step("03");
    mProgress->SetLabel("Updating database ...");
    if (!mbUpdateDB()) {
      mLogFile.reset();
      importTransaction.Rollback();
      bResult = Failed();
      return;
    }
    importTransaction.Commit();
    mProgress->Reset();
    mProgress->Hide();
    mLogFile.reset();
    bResult = true;
  });
  if (!bRan) {
    // The transaction guard has rolled back; the history must not show what was undone.
    mLogFile.reset();
    if (mConnection && mConnection->IsConnected()) GetHistoryDates();
  }
  return bResult;
}

bool clsLogAnalysis::mbFailureEnding() {
  mWhatDBAction = enuUnspecified;
  if (mProgress) mProgress->Hide();
  // Whatever the import had begun is rolled back: the history shows the table as it is.
  if (mConnection && mConnection->IsConnected() && mHistoryLogDates) GetHistoryDates();
  return false;
}

bool clsLogAnalysis::mbConfirmUnderLock(const std::string& sFilePath) {
  // Another importer may have stored or deleted this date between the question and the lock.
  GetHistoryDates();
  std::string sNameDate = msNameDate(sFilePath);
  bool bImported = IsAlreadyImported(sNameDate);
  if (mWhatDBAction == enuUpdate && !bImported) mWhatDBAction = enuInsert;
  if (mWhatDBAction == enuInsert && bImported) {
    // Reported as every failure of the import is, from the step that asked.
    ReportError(errDuplicateKey, "clsLogAnalysis:ProcessLogFile", "01", {},
                "The log date " + sNameDate + " was already imported meanwhile by another import; nothing of " +
                    FileNameOf(sFilePath) + " was written.");
    return false;
  }
  return true;
}

std::string UnreadableLine::Heading() const {
  return "line " + NumText(int64_t{lLineNo}) + " unreadable (" + sReason + "): ";
}

int64_t clsLogAnalysis::mlGetLines(clsFieldReader& reader) {
  clsHourglass hourglass;
  int64_t nResult = 0;
  clsTrap trap("clsLogAnalysis:mlGetLines");
  trap.Run([&] {
    int64_t nCount = 0;
    while (!reader.AtEnd()) {
      trap.Step("02");
      bool bBlank = IsBlankItem(reader.NextItem());
      trap.Step("03");
      if (!bBlank) ++nCount;
    }
    trap.Step("05");
    nResult = nCount;
  });
  return nResult;
}

bool clsLogAnalysis::mbProcessFile(const std::string& sFilePath) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsLogAnalysis:mbProcessFile");
  trap.Run([&] {
    trap.Step("00");
    // One private copy of the file, read now: the count and the reading both see the log as it
    // was when the import began, whatever the shop's program appends meanwhile.
    clsFieldReader reader;
    trap.Step("01");
    reader.Open(sFilePath);
    int64_t nItems = mlGetLines(reader);
    if (nItems > INT16_MAX) {
      RaiseError(errOverflow, "The log " + FileNameOf(sFilePath) + " has " + GroupedNumber(nItems) +
                                  " items; one import takes at most " + GroupedNumber(INT16_MAX) + ".");
    }
    Int16 nCount(nItems);
    trap.Step("02");
    mProgress->Initilise(nCount, sFilePath);
    trap.Step("03");
    mProgress->Show();
    trap.Step("05");
    reader.Rewind();
    Int16 nLineNumber;
    clsLineInReading lineInReading(FileNameOf(sFilePath));
    trap.Step("06");
    while (!reader.AtEnd()) {
      trap.Step("07");
      std::string sItem = reader.ReadItem();
      trap.Step("08");
      if (IsBlankItem(sItem)) continue;
      ++nLineNumber;
      lineInReading.Line(nLineNumber.Value(), sItem);
      trap.Step("09");
      Screen().DoEvents();
      trap.Step("10");
      mProgress->UpdateProgress(nLineNumber);
      trap.Step("11");
      switch (mLogFile->ProcessLine(sItem, nLineNumber)) {
        case enuLineTaken:
          break;
        case enuLineUncategorised:
          trap.Step("12");
          mUncategorisedLines.append("\r\n").append(sItem);
          break;
        case enuLineUnreadable:
          mvUnreadableLines.push_back({sFilePath, nLineNumber.Value(), std::move(sItem), lineInReading.FirstReport()});
          break;
        case enuLineStopsFile:
          hourglass.Restore();
          return;
      }
    }
    trap.Step("13");
    reader.Close();
    // Without a date line the rows could never be found again, and a second import would
    // store them twice.
    trap.Step("14");
    if (!mLogFile->HasLogDate()) {
      RaiseError(errInvalidCall, "No date line in " + sFilePath + ": nothing of it was imported.");
    }
    bResult = true;
  });
  return bResult;
}

bool clsLogAnalysis::mbUpdateDB() {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsLogAnalysis:mbUpdateDB");
  trap.Run([&] {
    trap.Step("01");
    TransactionGuard writeTransaction(SharedConnection());
    trap.Step("02");
    int32_t lDateID = mLogFile->DateRange()->Date_ID();
    bool bWritten = mLogFile->DBUpdateALL(mWhatDBAction);
    mRemoved = mLogFile->Removed();
    trap.Step("03");
    GetHistoryDates();
    if (!bWritten) {
      // The whole import's transaction is rolled back by the caller: removing the date here
      // could only delete an earlier import of it.
      writeTransaction.Rollback();
      return;
    }
    trap.Step("04");
    writeTransaction.Commit();
    mlLastDate_ID = lDateID;
    bResult = true;
  });
  return bResult;
}

}  // namespace varn
