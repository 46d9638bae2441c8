// Key allocation and the door to the import under way, through a test service signed on to
// a real report database.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/modMainLog.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn {
namespace {

using test::SqlExec;
using test::TempFolder;

class KeysTest : public ::testing::Test {
 protected:
  void SetUp() override { mpScreen = test::UseRecordingUI(); }
  void TearDown() override { gobjLogAnalysis.reset(); }

  std::string Database() const { return mFolder / "varnrpt.mdb"; }

  TempFolder mFolder;
  std::shared_ptr<clsRecordingUI> mpScreen;
};

TEST_F(KeysTest, NextIDIsOneForAnEmptyTableAndOneMoreThanTheHighestKey) {
  test::UseTestService(Database());
  for (int32_t eKind : {enuDateRangeTable, enuShiftTable, enuSessionTable, enuUserTable}) {
    EXPECT_EQ(GetNextID(eKind), 1) << eKind;
  }
  SqlExec(Database(),
          "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (41,1,1);"
          "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (7,1,2);"
          "INSERT INTO DateRange (Date_ID,LogDate) VALUES (3,'25/12/2003');"
          "INSERT INTO Shift (Shift_ID,Date_ID,LineNo) VALUES (12,3,3);"
          "INSERT INTO User (User_ID,UserName) VALUES (-5,'Neg');");
  EXPECT_EQ(GetNextID(enuSessionTable), 42);
  EXPECT_EQ(GetNextID(enuDateRangeTable), 4);
  EXPECT_EQ(GetNextID(enuShiftTable), 13);
  EXPECT_EQ(GetNextID(enuUserTable), -4);
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
  // On success the hourglass stays for the caller to restore.
  EXPECT_EQ(mpScreen->MousePointer(), vbHourglass);
}

TEST_F(KeysTest, NextIDSeesRowsOfTheOpenTransaction) {
  test::UseTestService(Database());
  SharedConnection().BeginTrans();
  SharedConnection().Execute("INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (9,1,1)");
  EXPECT_EQ(GetNextID(enuSessionTable), 10);
  SharedConnection().RollbackTrans();
  EXPECT_EQ(GetNextID(enuSessionTable), 1);
}

TEST_F(KeysTest, AKindOutsideTheTablesIsReportedAndGivesZero) {
  test::UseTestService(Database());
  EXPECT_EQ(GetNextID(9), 0);
  EXPECT_EQ(GetExistingID(0, 1, 1), 0);
  ASSERT_EQ(mpScreen->mvBoxes.size(), 2u);
  const std::string vLocations[] = {"08/modMainLog:GetNextID", "07/modMainLog:GetExistingID"};
  for (size_t n = 0; n < 2; ++n) {
    const auto& box = mpScreen->mvBoxes[n];
    std::vector<std::string> vLines = Split(box.sPrompt, "\r\n");
    ASSERT_EQ(vLines.size(), 5u) << box.sPrompt;
    EXPECT_EQ(vLines[0], NumText(int64_t{errDBStatement}));
    EXPECT_EQ(vLines[1], vLocations[n]);
    EXPECT_FALSE(vLines[2].empty());
    EXPECT_EQ(vLines[3], "");
    EXPECT_EQ(vLines[4], "Error getting ID for .");
    EXPECT_EQ(box.nStyle, 16);
    EXPECT_EQ(box.sTitle, "Varn Log Process");
  }
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
}

TEST_F(KeysTest, AKeyPastThirtyTwoBitsIsAnOverflowNotAWrappedKey) {
  test::UseTestService(Database());
  SqlExec(Database(), "INSERT INTO Shift (Shift_ID,Date_ID,LineNo) VALUES (2147483647,1,1)");
  EXPECT_EQ(GetNextID(enuShiftTable), 0);
  ASSERT_EQ(mpScreen->mvBoxes.size(), 1u);
  EXPECT_EQ(mpScreen->mvBoxes[0].sPrompt, "6\r\n12/modMainLog:GetNextID\r\nOverflow\r\n\r\nError getting ID for Shift.Shift_ID");
}

TEST_F(KeysTest, ExistingIDFindsTheRowOfThatLineAndDate) {
  test::UseTestService(Database());
  SqlExec(Database(),
          "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (7,3,12);"
          "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (8,4,12);"
          "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (9,3,13);"
          "INSERT INTO Shift (Shift_ID,Date_ID,LineNo) VALUES (5,3,12);"
          "INSERT INTO Shift (Shift_ID,Date_ID,LineNo) VALUES (6,3,12);");
  EXPECT_EQ(GetExistingID(enuSessionTable, 12, 3), 7);
  EXPECT_EQ(GetExistingID(enuSessionTable, 12, 4), 8);
  EXPECT_EQ(GetExistingID(enuSessionTable, 13, 3), 9);
  // Of several rows the last the query gives wins.
  EXPECT_EQ(GetExistingID(enuShiftTable, 12, 3), 6);
  // No row: a value that can never be taken for a key, and nothing to report.
  EXPECT_EQ(GetExistingID(enuSessionTable, 14, 3), kNoExistingID);
  EXPECT_EQ(GetExistingID(enuShiftTable, 12, 0), kNoExistingID);
  EXPECT_TRUE(mpScreen->mvBoxes.empty());

  // DateRange has no line numbers: the statement fails and the table is named in the report.
  EXPECT_EQ(GetExistingID(enuDateRangeTable, 1, 3), 0);
  ASSERT_EQ(mpScreen->mvBoxes.size(), 1u);
  EXPECT_TRUE(mpScreen->mvBoxes[0].sPrompt.ends_with("\r\n\r\nError getting ID for DateRange.Date_ID"))
      << mpScreen->mvBoxes[0].sPrompt;
  EXPECT_TRUE(StartsWith(mpScreen->mvBoxes[0].sPrompt, NumText(int64_t{errDBStatement}) +
                                                           "\r\n07/modMainLog:GetExistingID\r\n"));
}

TEST_F(KeysTest, NotConnectedGivesMinusOneWithoutABox) {
  test::UseTestService(mFolder.Path().string());  // a folder: the sign-on fails
  ASSERT_FALSE(gobjLogAnalysis->IsConnected());
  mpScreen = test::UseRecordingUI();
  EXPECT_EQ(GetNextID(enuSessionTable), -1);
  EXPECT_EQ(GetExistingID(enuSessionTable, 12, 3), -1);
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
  try {
    SharedConnection();
    ADD_FAILURE() << "a connection without a database";
  } catch (const clsError& err) {
    EXPECT_EQ(err.Number(), errObjectNotSet);
  }
}

TEST_F(KeysTest, TheDoorIsEmptyUntilAServiceIsInstalled) {
  for (auto fnDoor : {+[] { ImportService(); }, +[] { SharedConnection(); }}) {
    try {
      fnDoor();
      ADD_FAILURE() << "an empty door answered";
    } catch (const clsError& err) {
      EXPECT_EQ(err.Number(), errObjectNotSet);
    }
  }
  auto pService = test::UseTestService(Database());
  EXPECT_EQ(&ImportService(), pService.get());
  EXPECT_EQ(&SharedConnection(), pService->DBConnection()->DBConnection().get());
}

}  // namespace
}  // namespace varn
