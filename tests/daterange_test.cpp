// The log date's record on a real report database: the key found or allocated by date, the
// row inserted and updated statement for statement, the day totals, and the refused writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/modMainLog.h"
#include "records/clsItemDateRange.h"
#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn {
namespace {

using Rows = std::vector<std::vector<std::string>>;

class DateRangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mpScreen = test::UseRecordingUI();
    mpService = test::UseTestService(msDBPath);
    ASSERT_TRUE(mpService->IsConnected());
    SharedConnection().TraceTo(msTracePath);
  }
  void TearDown() override {
    SharedConnection().TraceTo("");
    mpService.reset();
    gobjLogAnalysis.reset();
  }

  Rows StoredRows() const {
    return test::SqlRows(msDBPath, "SELECT Date_ID, LogDate, DateTotal, DateImported FROM DateRange ORDER BY Date_ID");
  }
  // The statements executed since the last call, one per line.
  std::vector<std::string> TakeStatements() {
    std::vector<std::string> vAll = Split(test::ReadFile(msTracePath), "\n");
    vAll.pop_back();  // the text after the last line break
    std::vector<std::string> vNew(vAll.begin() + static_cast<long>(mnTraced), vAll.end());
    mnTraced = vAll.size();
    return vNew;
  }
  void StoreDate(int nID, const std::string& sLogDate) {
    test::SqlExec(msDBPath, "INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (" +
                                std::to_string(nID) + ",'" + sLogDate + "',0,'" + sLogDate + " 10:00:00')");
  }

  test::TempFolder mFolder;
  std::string msDBPath = mFolder / "report.db";
  std::string msTracePath = mFolder / "trace.sql";
  size_t mnTraced = 0;
  std::shared_ptr<clsRecordingUI> mpScreen;
  std::shared_ptr<test::TestService> mpService;
};

TEST_F(DateRangeTest, InsertsThenUpdatesTheRowOfTheDateUnderItsNewKey) {
  StoreDate(6, "24/12/2003");
  clsItemDateRange rec;
  ASSERT_TRUE(rec.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  EXPECT_EQ(rec.LogDate(), DateSerial(2003, 12, 25));
  EXPECT_EQ(rec.Date_ID(), 7);
  ASSERT_TRUE(rec.SetUp("End Total 1234.50", enuDateTotal, enuInsert));
  EXPECT_EQ(TakeStatements(), (std::vector<std::string>{
                                  "SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yy') ='25/12/03'",
                                  "SELECT MAX(Date_ID) AS [ID] FROM DateRange",
                              }));

  Date dtBefore = Now();
  ASSERT_TRUE(rec.DBUpdate(enuInsert));
  Date dtAfter = Now();
  EXPECT_GE(rec.ImportedDate().dSerial, dtBefore.dSerial);
  EXPECT_LE(rec.ImportedDate().dSerial, dtAfter.dSerial);
  std::string sInserted = CStr(rec.ImportedDate());
  EXPECT_EQ(TakeStatements(),
            std::vector<std::string>{"INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES "
                                     "(7,'25/12/2003',1234.5,'" +
                                     sInserted + "')"});
  EXPECT_EQ(StoredRows(),
            (Rows{{"6", "24/12/2003", "0.0", "24/12/2003 10:00:00"}, {"7", "25/12/2003", "1234.5", sInserted}}));

  rec.DateTotal(99.5);
  ASSERT_TRUE(rec.DBUpdate(enuUpdate));
  std::string sUpdated = CStr(rec.ImportedDate());
  EXPECT_EQ(TakeStatements(), std::vector<std::string>{"UPDATE DateRange SET LogDate='25/12/2003',DateTotal=99.5,"
                                                       "DateImported='" +
                                                       sUpdated + "' WHERE Date_ID=7"});
  EXPECT_EQ(StoredRows(),
            (Rows{{"6", "24/12/2003", "0.0", "24/12/2003 10:00:00"}, {"7", "25/12/2003", "99.5", sUpdated}}));
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
}

TEST_F(DateRangeTest, FindsAStoredDateByItsDayAndGivesANewDateTheNextKey) {
  clsItemDateRange first;
  ASSERT_TRUE(first.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  EXPECT_EQ(first.Date_ID(), 1) << "an empty table starts at key 1";
  ASSERT_TRUE(first.DBUpdate(enuInsert));

  // The same day written otherwise, with a time of day that the record drops.
  clsItemDateRange again;
  ASSERT_TRUE(again.SetUp("#25.12.03 14:05:10#", enuLogDate, enuInsert));
  EXPECT_EQ(again.Date_ID(), 1);
  EXPECT_EQ(again.LogDate(), DateSerial(2003, 12, 25));

  StoreDate(41, "01/01/2004");
  clsItemDateRange next;
  ASSERT_TRUE(next.SetUp("#26/12/2003", enuLogDate, enuInsert));
  EXPECT_EQ(next.Date_ID(), 42);
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
}

TEST_F(DateRangeTest, KeepsTheFirstDateOfTheFileAndIgnoresALineThatIsNoDate) {
  StoreDate(3, "26/12/2003");
  clsItemDateRange rec;
  EXPECT_TRUE(rec.SetUp("#Total#", enuLogDate, enuInsert));
  EXPECT_EQ(rec.Date_ID(), 0);
  EXPECT_EQ(rec.LogDate(), Date{});

  ASSERT_TRUE(rec.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  EXPECT_TRUE(rec.SetUp("#26/12/2003#", enuLogDate, enuInsert));
  EXPECT_EQ(rec.LogDate(), DateSerial(2003, 12, 25));
  EXPECT_EQ(rec.Date_ID(), 4);
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
}

TEST_F(DateRangeTest, AnUpdateTakesTheMatchedDateAndItsStoredKeyWhateverTheLineSays) {
  StoreDate(5, "24/12/2003");
  StoreDate(7, "25/12/2003");
  mpService->meAction = enuUpdate;
  mpService->mMatched = DateSerial(2003, 12, 25);

  clsItemDateRange rec;
  ASSERT_TRUE(rec.SetUp("#24/12/2003#", enuLogDate, enuUpdate));
  EXPECT_EQ(rec.LogDate(), DateSerial(2003, 12, 25));
  EXPECT_EQ(rec.Date_ID(), 7);

  ASSERT_TRUE(rec.SetUp("End Total 10", enuDateTotal, enuUpdate));
  ASSERT_TRUE(rec.DBUpdate(enuUpdate));
  EXPECT_EQ(test::SqlValue(msDBPath, "SELECT DateTotal FROM DateRange WHERE Date_ID=7"), "10.0");
  EXPECT_EQ(test::SqlValue(msDBPath, "SELECT DateTotal FROM DateRange WHERE Date_ID=5"), "0.0");
  EXPECT_EQ(test::SqlValue(msDBPath, "SELECT COUNT(*) FROM DateRange"), "2");
}

TEST_F(DateRangeTest, DayTotalLinesAddUp) {
  struct TotalCase {
    std::vector<const char*> vLines;
    double dExpected;
  };
  const TotalCase cases[] = {
      {{"End Total 10", "End Total 5.25"}, 15.25},
      {{"End Total 1,234.50"}, 1},
      {{"END TOTAL 99.5"}, 99.5},
      {{"end total 1 234.50"}, 1234.5},
      {{"End Total"}, 0},
      {{"End Total End Total 3"}, 3},
      {{"End Total 1e400"}, 0},
  };
  for (const TotalCase& c : cases) {
    clsItemDateRange rec;
    for (const char* sLine : c.vLines) EXPECT_TRUE(rec.SetUp(sLine, enuDateTotal, enuInsert)) << sLine;
    EXPECT_DOUBLE_EQ(rec.DateTotal(), c.dExpected) << c.vLines.front();
  }
  // Only the overflowing amount was worth a report.
  ASSERT_EQ(mpScreen->mvBoxes.size(), 1u);
  EXPECT_EQ(mpScreen->mvBoxes[0].sPrompt, "6\r\n01/clsItemDateRange:mdblCleanUpEndTotal\r\nOverflow");

  clsItemDateRange rec;
  rec.DateTotal(2.5);
  EXPECT_TRUE(rec.SetUp(">> 25.12.2003 07:52:34 Sign On: Anne", enuSignOn, enuInsert));
  EXPECT_EQ(rec.DateTotal(), 2.5);
  EXPECT_EQ(rec.Date_ID(), 0);
  EXPECT_TRUE(TakeStatements().empty()) << "totals never touch the database";
}

TEST_F(DateRangeTest, AnActionOtherThanInsertOrUpdateIsReportedAndWritesNothing) {
  clsItemDateRange rec;
  ASSERT_TRUE(rec.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  for (int32_t eAction : {enuUnspecified, enuDelete}) {
    mpScreen->mvBoxes.clear();
    EXPECT_FALSE(rec.DBUpdate(eAction)) << eAction;
    ASSERT_EQ(mpScreen->mvBoxes.size(), 1u) << eAction;
    EXPECT_TRUE(StartsWith(mpScreen->mvBoxes[0].sPrompt,
                           NumText(int64_t{errDBStatement}) + "\r\n03/clsItemDateRange:DBUpdate\r\n"))
        << mpScreen->mvBoxes[0].sPrompt;
    EXPECT_NE(rec.ImportedDate(), Date{}) << "the time is taken before the statement fails";
  }
  EXPECT_TRUE(StoredRows().empty());
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
}

TEST_F(DateRangeTest, AWriteTheDatabaseRefusesIsReported) {
  clsItemDateRange rec;
  ASSERT_TRUE(rec.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  // Another writer took the key between the lookup and the insert.
  StoreDate(rec.Date_ID(), "01/01/2004");
  EXPECT_FALSE(rec.DBUpdate(enuInsert));
  ASSERT_EQ(mpScreen->mvBoxes.size(), 1u);
  EXPECT_TRUE(StartsWith(mpScreen->mvBoxes[0].sPrompt,
                         NumText(int64_t{errDBUniqueKey}) + "\r\n03/clsItemDateRange:DBUpdate\r\n"))
      << mpScreen->mvBoxes[0].sPrompt;
  EXPECT_EQ(StoredRows(), (Rows{{"1", "01/01/2004", "0.0", "01/01/2004 10:00:00"}}));
}

TEST_F(DateRangeTest, AFailedLookupIsReportedAndTheDateLineIsNotTaken) {
  test::SqlExec(msDBPath, "ALTER TABLE DateRange RENAME TO OldDateRange");
  clsItemDateRange rec;
  EXPECT_FALSE(rec.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  EXPECT_EQ(rec.Date_ID(), 0);
  EXPECT_EQ(rec.LogDate(), DateSerial(2003, 12, 25)) << "the date taken before the lookup stays";
  ASSERT_EQ(mpScreen->mvBoxes.size(), 1u);
  EXPECT_NE(mpScreen->mvBoxes[0].sPrompt.find("\r\n02/clsItemDateRange:mlGetID\r\n"), std::string::npos)
      << mpScreen->mvBoxes[0].sPrompt;
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
}

}  // namespace
}  // namespace varn
