// End-to-end imports of whole log files into real report databases.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every table's definition and rows, to compare a database before and after.
std::string Dump(const std::string& sDB) {
  std::string sDump;
  for (const auto& vTable : SqlRows(sDB, "SELECT name, sql FROM sqlite_master ORDER BY name")) {
    sDump += vTable[1] + "\n";
    if (vTable[1].rfind("CREATE TABLE", 0) != 0) continue;
    for (const auto& vRow : SqlRows(sDB, "SELECT * FROM \"" + vTable[0] + "\" ORDER BY 1")) {
      for (const auto& sValue : vRow) sDump += sValue + "|";
      sDump += "\n";
    }
  }
  return sDump;
}

std::string LogFile(const TempFolder& folder, const std::string& sName, const std::vector<std::string>& vLines) {
  std::string sText;
  for (const auto& sLine : vLines) sText += sLine + "\r\n";
  return WriteFile(folder / sName, sText);
}

class ImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mpScreen = UseRecordingUI();
    msDB = mFolder / "varnrpt.mdb";
    mpService = Open();
  }
  void TearDown() override {
    mpService.reset();
    gobjLogAnalysis.reset();
  }
  std::shared_ptr<clsLogAnalysis> Open() {
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(msDB);
    return pService;
  }
  std::string DayLog(const std::string& sName = "03-02-2025.log") {
    std::filesystem::copy_file(SourceDir() + "/tests/data/day-03-02-2025.log", mFolder / sName);
    return mFolder / sName;
  }
  size_t Boxes() const { return mpScreen->mvBoxes.size(); }

  TempFolder mFolder;
  std::string msDB;
  std::shared_ptr<clsRecordingUI> mpScreen;
  std::shared_ptr<clsLogAnalysis> mpService;
};

TEST_F(ImportTest, RealisticDayIsStoredRowByRow) {
  ASSERT_TRUE(mpService->IsConnected());
  SqlExec(msDB, "INSERT INTO User (User_ID, UserName) VALUES (10, 'MEMBER')");
  mpService = Open();

  ASSERT_TRUE(mpService->ProcessLogFile(DayLog()));
  EXPECT_EQ(mpService->WhatDBAction(), enuInsert);

  EXPECT_EQ(SqlRows(msDB, "SELECT Date_ID, LogDate, DateTotal FROM DateRange"),
            (Rows{{"1", "03/02/2025", "31.15"}}));
  // Keys start one above the gap left after the highest stored key; the unquoted PC04 line
  // fails to set up but still uses its key (5).
  EXPECT_EQ(SqlRows(msDB, "SELECT Session_ID, Date_ID, LineNo, PC_No, StartTime, EndTime, TotalTime, TotalGoods, "
                          "User_ID, UserCharge, Total, MemberID FROM Session ORDER BY Session_ID"),
            (Rows{{"2", "1", "3", "PC01", "08:45", "09:30", "0:45", "3.5", "11", "2.25", "5.75", " "},
                  {"3", "1", "4", "PC02", "08:50", "10:05", "1:15", "2.4", "10", "3.0", "5.4", "M1200"},
                  {"4", "1", "5", "PC03", "09:10", "09:40", "0:30", "6.5", "12", "1.0", "7.5", " "},
                  {"6", "1", "12", "PC05", "09:20", "10:20", "1:00", "2.0", "11", "3.0", "5.0", " "},
                  {"7", "1", "13", "PC06", "09:30", "10:00", "0:30", "0.0", "13", "1.5", "1.5", " "},
                  {"8", "1", "16", "PC01", "14:10", "15:00", "0:50", "1.0", "14", "0.0", "1.0", " "}}));
  EXPECT_EQ(SqlRows(msDB, "SELECT User_ID, UserName FROM User ORDER BY User_ID"),
            (Rows{{"10", "MEMBER"}, {"11", "Guest"}, {"12", "Student"}, {"13", "O'Brien"}, {"14", "Staff"}}));
  EXPECT_EQ(SqlRows(msDB, "SELECT Shift_ID, Date_ID, LineNo, SignOn, SignOff, SignDateTime FROM Shift ORDER BY 1"),
            (Rows{{"2", "1", "2", "Olga", "", "03/02/2025 08:30:00"},
                  {"3", "1", "14", "", "Olga", "03/02/2025 14:00:00"},
                  {"4", "1", "15", "Pete", "", "03/02/2025 14:01:00"},
                  {"5", "1", "17", "", "Pete", "03/02/2025 22:00:00"}}));
  EXPECT_EQ(SqlRows(msDB, "SELECT Session_ID, Date_ID, Goods_1, Goods_4, Goods_9 FROM Goods ORDER BY 1"),
            (Rows{{"2", "1", "1.5", "NULL", "NULL"},
                  {"3", "1", "0", "2.4", "NULL"},
                  {"4", "1", "1.5", "0", "5"},
                  {"6", "1", "2", "NULL", "NULL"},
                  {"7", "1", "0", "NULL", "NULL"},
                  {"8", "1", "0", "0", "1"}}));
  // A quoted line with commas stays one item; an unquoted one falls apart into several.
  EXPECT_EQ(mpService->UncategorisedLines(), "\r\nTill drawer jammed\r\nfixed\r\n09:15\r\n10:00\r\n0:45");
  // The broken PC04 session is reported (its conversion, then its set-up), nothing else.
  ASSERT_EQ(Boxes(), 2u);
  EXPECT_NE(mpScreen->mvBoxes[0].sPrompt.find("clsItemSession:msConvertToNewFormat"), std::string::npos);
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
  // The progress bar counted every non-blank item.
  EXPECT_EQ(mpScreen->msngHighestValue, 18);
  ASSERT_TRUE(mpService->HistoryLogDates());
  EXPECT_EQ(mpService->HistoryLogDates()->Item("03/02/2025")->Date_ID(), 1);
}

TEST_F(ImportTest, SecondImportAsksAndUpdatesInPlaceOrLeavesAlone) {
  std::string sLog = DayLog();
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  std::string sFirst = Dump(msDB);

  mpScreen->AnswerNext(vbNo);
  EXPECT_FALSE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuUnspecified);
  EXPECT_EQ(mpScreen->mvBoxes.back().sPrompt, "Records are already imported.\r\nDo you wish to update?");
  EXPECT_EQ(mpScreen->mvBoxes.back().nStyle, 36);
  EXPECT_EQ(Dump(msDB), sFirst);

  // The operator corrected a total and the log gained a late session.
  std::string sText = ReadFile(sLog);
  sText.replace(sText.find("Staff:0.00,1.00"), 15, "Staff:0.00,9.00");
  sText.replace(sText.find("End Total"), 0, "\"PC09,22:10,22:40,0:30|1.00|Late:1.00,2.00\"\r\n");
  WriteFile(sLog, sText);
  mpScreen->AnswerNext(vbYes);
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuUpdate);
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM DateRange"), "1");
  EXPECT_EQ(SqlValue(msDB, "SELECT Total FROM Session WHERE Session_ID=8"), "9.0");
  // Keys are kept. Lines without a stored row are numbered like a first import from the
  // highest stored key plus two: the broken PC04 line uses 10, the new line takes 11.
  EXPECT_EQ(SqlRows(msDB, "SELECT Session_ID, LineNo FROM Session ORDER BY 1"),
            (Rows{{"2", "3"}, {"3", "4"}, {"4", "5"}, {"6", "12"}, {"7", "13"}, {"8", "16"}, {"11", "18"}}));
  EXPECT_EQ(SqlValue(msDB, "SELECT Goods_1 FROM Goods WHERE Session_ID=11"), "1");
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM Shift"), "4");
}

TEST_F(ImportTest, NextDayContinuesTheKeysAfterAGap) {
  ASSERT_TRUE(mpService->ProcessLogFile(DayLog()));
  std::string sNext = LogFile(mFolder, "04-02-2025.log",
                              {"#04/02/2025#", ">> 04.02.2025 08:00:00 Sign On: Olga",
                               "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""});
  ASSERT_TRUE(mpService->ProcessLogFile(sNext));
  EXPECT_EQ(SqlRows(msDB, "SELECT Date_ID, LogDate, DateTotal FROM DateRange WHERE LogDate='04/02/2025'"),
            (Rows{{"2", "04/02/2025", "3.5"}}));
  EXPECT_EQ(SqlValue(msDB, "SELECT Session_ID FROM Session WHERE Date_ID=2"), "10");
  EXPECT_EQ(SqlValue(msDB, "SELECT Shift_ID FROM Shift WHERE Date_ID=2"), "7");
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM User WHERE UserName='Guest'"), "1");
}

TEST_F(ImportTest, FailedWriteLeavesTheDatabaseAsItWas) {
  SqlExec(msDB, "CREATE TRIGGER no_late_shift BEFORE INSERT ON Shift WHEN NEW.LineNo > 15 "
                "BEGIN SELECT RAISE(ABORT, 'shift refused'); END");
  mpService = Open();
  std::string sBefore = Dump(msDB);
  std::string sLog = DayLog();
  EXPECT_FALSE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuUnspecified);
  // No date, no users, no goods columns: the new date left nothing behind.
  EXPECT_EQ(Dump(msDB), sBefore);
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 0);
  EXPECT_NE(mpScreen->mvBoxes.back().sPrompt.find("shift refused"), std::string::npos);

  // An update that fails keeps the earlier import whole.
  SqlExec(msDB, "DROP TRIGGER no_late_shift");
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  SqlExec(msDB, "CREATE TRIGGER no_shift_update BEFORE UPDATE ON Shift BEGIN SELECT RAISE(ABORT, 'no'); END");
  std::string sImported = Dump(msDB);
  mpService = Open();
  mpScreen->AnswerNext(vbYes);
  EXPECT_FALSE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(Dump(msDB), sImported);
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 1);
}

TEST_F(ImportTest, AFailureWhileReadingOrTooManyItemsWritesNothing) {
  // A user that cannot be stored stops the file: a session must never lose its user.
  SqlExec(msDB, "CREATE TRIGGER no_users BEFORE INSERT ON User BEGIN SELECT RAISE(ABORT, 'no users'); END");
  mpService = Open();
  std::string sBefore = Dump(msDB);
  EXPECT_FALSE(mpService->ProcessLogFile(DayLog()));
  EXPECT_EQ(Dump(msDB), sBefore);
  SqlExec(msDB, "DROP TRIGGER no_users");

  std::vector<std::string> vLines{"#05/02/2025#"};
  vLines.resize(32800, "note");
  std::string sHuge = LogFile(mFolder, "05-02-2025.log", vLines);
  sBefore = Dump(msDB);
  size_t nBoxes = Boxes();
  EXPECT_FALSE(mpService->ProcessLogFile(sHuge));
  EXPECT_EQ(Dump(msDB), sBefore);
  ASSERT_EQ(Boxes(), nBoxes + 2);  // the counting and the reading both overflow
  EXPECT_EQ(mpScreen->mvBoxes[nBoxes].sPrompt.rfind("6\r\n03/clsLogAnalysis:mlGetLines\r\n", 0), 0u);
  EXPECT_EQ(mpScreen->mvBoxes[nBoxes + 1].sPrompt.rfind("6\r\n08/clsLogAnalysis:mbProcessFile\r\n", 0), 0u);
}

TEST_F(ImportTest, DayTotalBeforeTheDateLineAndFilesWithoutADate) {
  std::string sLog = LogFile(mFolder, "06-02-2025.log",
                             {"End Total 12.50", "#06/02/2025#", "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""});
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(SqlRows(msDB, "SELECT Date_ID, LogDate, DateTotal FROM DateRange"), (Rows{{"1", "06/02/2025", "12.5"}}));

  std::string sBefore = Dump(msDB);
  size_t nBoxes = Boxes();
  std::string sNoDate = LogFile(mFolder, "07-02-2025.log", {"\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""});
  EXPECT_FALSE(mpService->ProcessLogFile(sNoDate));
  std::string sEmpty = WriteFile(mFolder / "08-02-2025.log", "");
  EXPECT_FALSE(mpService->ProcessLogFile(sEmpty));
  EXPECT_EQ(Dump(msDB), sBefore);
  ASSERT_EQ(Boxes(), nBoxes + 2);
  EXPECT_NE(mpScreen->mvBoxes[nBoxes].sPrompt.find("No date line in " + sNoDate), std::string::npos);

  nBoxes = Boxes();
  EXPECT_FALSE(mpService->ProcessLogFile(mFolder / "09-02-2025.log"));
  EXPECT_EQ(Boxes(), nBoxes);
}

TEST_F(ImportTest, WithoutInitializeOrConnectionNothingIsImported) {
  auto pFresh = clsLogAnalysis::Create();
  EXPECT_THROW(pFresh->IsConnected(), clsError);
  EXPECT_FALSE(pFresh->ProcessLogFile(DayLog()));
  EXPECT_EQ(mpScreen->mvBoxes.back().sPrompt.rfind("91\r\n00/clsLogAnalysis:ProcessLogFile\r\n", 0), 0u);

  auto pUnconnected = Open();
  pUnconnected->Initialize(mFolder / "missing-folder/varnrpt.mdb");
  EXPECT_FALSE(pUnconnected->IsConnected());
  EXPECT_FALSE(pUnconnected->ProcessLogFile(mFolder / "03-02-2025.log"));
  EXPECT_EQ(mpScreen->mvBoxes.back().sPrompt, "Not connected");
  EXPECT_EQ(mpScreen->mvBoxes.back().nStyle, 16);
}

// The command line, run as the operator runs it.
int RunVarnlog(const std::string& sArguments) {
  const char* pBinary = std::getenv("VARN_BINARY_DIR");
  std::string sCommand = std::string(pBinary ? pBinary : ".") + "/varnlog " + sArguments + " >/dev/null 2>&1 </dev/null";
  int nStatus = std::system(sCommand.c_str());
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

TEST(CommandLine, ImportsFoldersInDateOrderAndConcurrently) {
  TempFolder folder;
  std::string sDB = folder / "shop.mdb";
  std::filesystem::create_directory(folder.Path() / "logs");
  for (std::string sDay : {"10-02-2025", "02-03-2025", "11-02-2025"}) {
    std::string sDate = sDay.substr(0, 2) + "/" + sDay.substr(3, 2) + "/" + sDay.substr(6);
    LogFile(folder, "logs/" + sDay + ".log", {"#" + sDate + "#", "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""});
  }
  WriteFile(folder / "logs/readme.txt", "not a log");
  EXPECT_EQ(RunVarnlog("--db " + sDB + " import " + (folder / "logs")), 0);
  EXPECT_EQ(SqlRows(sDB, "SELECT LogDate FROM DateRange ORDER BY Date_ID"),
            (Rows{{"10/02/2025"}, {"11/02/2025"}, {"02/03/2025"}}));
  // Without a terminal the update question is answered No: skipped, not failed.
  EXPECT_EQ(RunVarnlog("--db " + sDB + " import " + (folder / "logs/10-02-2025.log")), 0);
  EXPECT_EQ(RunVarnlog("--db " + sDB + " import " + (folder / "logs/31-12-2025.log")), 1);
  EXPECT_EQ(RunVarnlog("--db " + sDB + " import"), 2);
  EXPECT_EQ(RunVarnlog("--db " + sDB + " frobnicate"), 2);

  // Two operators importing different days into one database at the same moment.
  std::vector<std::string> vDays;
  for (int nDay = 1; nDay <= 8; ++nDay) {
    std::string sDay = (nDay < 10 ? "0" : "") + std::to_string(nDay) + "-04-2025";
    std::vector<std::string> vLines{"#" + sDay.substr(0, 2) + "/04/2025#"};
    for (int n = 0; n < 200; ++n) vLines.push_back("\"PC01,08:10,08:40,0:30|2.00,1.00|Guest:1.50,4.50\"");
    vDays.push_back(LogFile(folder, sDay + ".log", vLines));
  }
  std::string sFirst, sSecond;
  for (size_t n = 0; n < vDays.size(); ++n) (n % 2 ? sSecond : sFirst) += " " + vDays[n];
  std::string sBinary = std::string(std::getenv("VARN_BINARY_DIR")) + "/varnlog --db " + sDB + " import";
  int nStatus = std::system((sBinary + sFirst + " >/dev/null 2>&1 & " + sBinary + sSecond +
                             " >/dev/null 2>&1; a=$?; wait $!; b=$?; exit $((a + b))")
                                .c_str());
  EXPECT_EQ(WEXITSTATUS(nStatus), 0);
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM DateRange"), "11");
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Session"), "1603");
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(DISTINCT Session_ID) FROM Goods"), "1603");
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM (SELECT Date_ID FROM Session GROUP BY Date_ID HAVING COUNT(*) = 200)"),
            "8");
}

}  // namespace
}  // namespace varn::test
