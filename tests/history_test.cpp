// The history of imported dates, the duplicate check of a log file, and deletion.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string DayLog(const TempFolder& folder, const std::string& sName, const std::string& sDate) {
  return WriteFile(folder / sName, "#" + sDate + "#\r\n>> " + sDate + " 08:00:00 Sign On: Ann\r\n"
                   "\"PC01,08:10,08:40,0:30|2.00,1.00|Guest:1.50,4.50\"\r\nEnd Total 4.50\r\n");
}

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mpScreen = UseRecordingUI();
    msDB = mFolder / "varnrpt.mdb";
    Open();
  }
  void TearDown() override {
    mpService.reset();
    gobjLogAnalysis.reset();
  }
  void Open() {
    mpService = clsLogAnalysis::Create();
    mpService->Initialize(msDB);
  }
  std::string LastBox() const { return mpScreen->mvBoxes.empty() ? "" : mpScreen->mvBoxes.back().sPrompt; }

  TempFolder mFolder;
  std::string msDB;
  std::shared_ptr<clsRecordingUI> mpScreen;
  std::shared_ptr<clsLogAnalysis> mpService;
};

TEST_F(HistoryTest, LoadsEveryStoredDateInDatabaseOrder) {
  ASSERT_TRUE(mpService->HistoryLogDates());
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 0);
  EXPECT_FALSE(mpService->IsAlreadyImported("12-05-2003"));
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);

  SqlExec(msDB, "INSERT INTO DateRange VALUES (2, '12/05/2003', 99.5, '13/05/2003 09:15:00');"
                "INSERT INTO DateRange VALUES (7, '01/01/2004', 0, '02/01/2004');"
                "INSERT INTO DateRange VALUES (5, '31/12/1999', 12.25, '01/01/2000 00:00:01')");
  Open();
  auto pHistory = mpService->HistoryLogDates();
  ASSERT_EQ(pHistory->Count(), 3);
  std::vector<int32_t> vKeys;
  for (const auto& pItem : *pHistory) vKeys.push_back(pItem->Date_ID());
  EXPECT_EQ(vKeys, (std::vector<int32_t>{2, 5, 7}));
  EXPECT_EQ(pHistory->Item("31/12/1999")->DateTotal(), 12.25);
  EXPECT_EQ(CStr(pHistory->Item("12/05/2003")->ImportedDate()), "13/05/2003 09:15:00");

  std::string sImported;
  EXPECT_TRUE(mpService->IsAlreadyImported("12-05-2003", &sImported));
  EXPECT_EQ(sImported, "13/05/2003 09:15:00");
  EXPECT_EQ(FormatDate(mpService->MatchedLogDate(), "dd/mm/yyyy"), "12/05/2003");
  EXPECT_TRUE(mpService->IsAlreadyImported("1.1.04", &sImported));
  EXPECT_EQ(sImported, "02/01/2004");
  // Names that are no date, or a date not imported, are simply not found: no report.
  for (const char* sName : {"notes", "", "13-05-2003", "31/02/2003"}) EXPECT_FALSE(mpService->IsAlreadyImported(sName));
  EXPECT_TRUE(mpScreen->mvBoxes.empty());

  // Two rows of one date stop the loading with a report; the rows before it stay loaded.
  SqlExec(msDB, "INSERT INTO DateRange VALUES (9, '12/05/2003', 1, '14/05/2003')");
  Open();
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 3);
  EXPECT_EQ(LastBox().rfind("457\r\n11/clsLogAnalysis:GetHistoryDates\r\n", 0), 0u);
}

TEST_F(HistoryTest, AnImportedDateIsAskedAboutBeforeItIsRead) {
  std::string sLog = DayLog(mFolder, "12-05-2003.log", "12/05/2003");
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuInsert);

  mpScreen->AnswerNext(vbNo);
  EXPECT_FALSE(mpService->ProcessLogFile(sLog));
  ASSERT_EQ(mpScreen->mvBoxes.size(), 1u);
  EXPECT_EQ(mpScreen->mvBoxes[0].sPrompt, "Records are already imported.\r\nDo you wish to update?");
  EXPECT_EQ(mpScreen->mvBoxes[0].nStyle, 36);
  EXPECT_EQ(mpScreen->mvBoxes[0].sTitle, "Varn Log Process");
  EXPECT_EQ(mpService->WhatDBAction(), enuUnspecified);

  mpScreen->AnswerNext(vbYes);
  EXPECT_TRUE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuUpdate);
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM Session"), "1");

  // A file named by no date is a first import; its own date line is what is stored.
  std::string sOther = DayLog(mFolder, "shop.log", "13/05/2003");
  EXPECT_TRUE(mpService->ProcessLogFile(sOther));
  EXPECT_EQ(mpService->WhatDBAction(), enuInsert);
  EXPECT_EQ(mpScreen->mvBoxes.size(), 2u);
  EXPECT_TRUE(mpService->IsAlreadyImported("13/05/2003"));
}

TEST_F(HistoryTest, DeletingADateRemovesAllItsRowsAndNothingElse) {
  ASSERT_TRUE(mpService->ProcessLogFile(DayLog(mFolder, "24-12-2003.log", "24/12/2003")));
  ASSERT_TRUE(mpService->ProcessLogFile(DayLog(mFolder, "25-12-2003.log", "25/12/2003")));
  std::string sKept = SqlValue(msDB, "SELECT Date_ID FROM DateRange WHERE LogDate='24/12/2003'");

  EXPECT_FALSE(mpService->DeleteLogDate("26.12.2003"));
  EXPECT_EQ(LastBox().rfind("5\r\n01/clsLogAnalysis:DeleteLogDate\r\n", 0), 0u);
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM Session"), "2");

  EXPECT_TRUE(mpService->DeleteLogDate("25.12.2003"));
  for (const char* sTable : {"DateRange", "Session", "Shift", "Goods"}) {
    EXPECT_EQ(SqlRows(msDB, std::string("SELECT DISTINCT Date_ID FROM ") + sTable), (Rows{{sKept}})) << sTable;
  }
  // The history follows the table at once: the deleted date is imported afresh, not "updated".
  EXPECT_FALSE(mpService->IsAlreadyImported("25/12/2003"));
  EXPECT_TRUE(mpService->DeleteLogDate("24/12/2003"));
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM Goods"), "0");
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 0);
}

std::string Varnlog(const std::string& sArguments, int* pnExit) {
  std::string sCommand = std::string(std::getenv("VARN_BINARY_DIR")) + "/varnlog " + sArguments + " 2>/dev/null";
  std::string sOut;
  FILE* pPipe = popen(sCommand.c_str(), "r");
  char sBuffer[512];
  while (fgets(sBuffer, sizeof sBuffer, pPipe)) sOut += sBuffer;
  int nStatus = pclose(pPipe);
  *pnExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
  return sOut;
}

TEST(HistoryCommands, ListCheckAndDeleteFromTheCommandLine) {
  TempFolder folder;
  std::string sDB = "--db " + (folder / "shop.mdb") + " ";
  int nExit = 0;
  Varnlog(sDB + "init", &nExit);
  ASSERT_EQ(nExit, 0);
  SqlExec(folder / "shop.mdb", "INSERT INTO DateRange VALUES (3, '25/12/2003', 364.95, '26/12/2003 09:15:00');"
                               "INSERT INTO DateRange VALUES (4, '24/12/2003', 10, '26/12/2003 09:00:00');"
                               "INSERT INTO DateRange VALUES (8, '24/12/2003', 11, '27/12/2003 09:00:00');"
                               "INSERT INTO Session (Session_ID, Date_ID, LineNo) VALUES (5, 3, 2)");
  // Every row is listed in date order, the duplicate date too, so it can be seen and removed.
  EXPECT_EQ(Varnlog(sDB + "history --csv", &nExit),
            "log_date,imported_on,day_total,date_id\n24/12/2003,26/12/2003 09:00:00,10,4\n"
            "24/12/2003,27/12/2003 09:00:00,11,8\n25/12/2003,26/12/2003 09:15:00,364.95,3\n");
  EXPECT_EQ(nExit, 0);
  EXPECT_NE(Varnlog(sDB + "history", &nExit).find("25/12/2003   26/12/2003 09:15:00"), std::string::npos);

  SqlExec(folder / "shop.mdb", "DELETE FROM DateRange WHERE Date_ID=8");
  EXPECT_EQ(Varnlog(sDB + "check /any/folder/25-12-2003.log", &nExit),
            "25-12-2003.log: 25/12/2003 already imported on 26/12/2003 09:15:00\n");
  EXPECT_EQ(Varnlog(sDB + "check 26-12-2003.log", &nExit), "26-12-2003.log: 26/12/2003 not imported yet\n");

  Varnlog(sDB + "delete 25.12.2003", &nExit);  // nobody to confirm it
  EXPECT_EQ(nExit, 1);
  EXPECT_EQ(SqlValue(folder / "shop.mdb", "SELECT COUNT(*) FROM Session"), "1");
  Varnlog(sDB + "delete --yes 25.12.2003", &nExit);
  EXPECT_EQ(nExit, 0);
  EXPECT_EQ(SqlRows(folder / "shop.mdb", "SELECT Date_ID FROM DateRange UNION ALL SELECT Date_ID FROM Session"),
            (Rows{{"4"}}));
  Varnlog(sDB + "delete --yes 25.12.2003", &nExit);
  EXPECT_EQ(nExit, 1);
  Varnlog(sDB + "delete", &nExit);
  EXPECT_EQ(nExit, 2);
}

}  // namespace
}  // namespace varn::test
