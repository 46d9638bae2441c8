// The records of an import on a real report database: session, goods, shift and log-date lines read
// and written, the goods columns the table grows, the user categories, and a whole day through the
// command line. The lists of lines are tests/data/records-lines.txt, each with what its record made
// of it, and the day's statements are golden traces; after a deliberate change,
// VARN_UPDATE_EXPECTED=1 rewrites those files for review.
#include <gtest/gtest.h>

#include <regex>

#include "db/Connection.h"
#include "parse/clsItemLogFile.h"
#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

const char* kExample = "PC01,10:00,11:30,1:30|1.50,,2.00|Guest:3.00,6.50,M123";
const char* kStoredDates = "INSERT INTO DateRange VALUES (5,'24/12/2003',0,'24/12/2003'),(7,'25/12/2003',0,'')";

class Records : public ::testing::Test {
 protected:
  Records() { mDb.mKeys = {{"Guest", 1}, {"Member", 2}, {"Student", 3}, {"Staff", 4}}; }
  // Every box must have been looked at, and none may leave the hourglass showing.
  void TearDown() override {
    EXPECT_EQ(Shown(), "");
    EXPECT_EQ(mpUI->MousePointer(), vbDefault);
  }

  // The error number and location of every box since the last call ("9 02/clsItemGoods:SetUp; ..."),
  // the whole text of a box that has no location.
  std::string Shown() {
    std::string sShown;
    for (; mnBoxes < mpUI->mvBoxes.size(); ++mnBoxes) {
      Texts vLines = Split(mpUI->mvBoxes[mnBoxes].sPrompt, "\r\n");
      sShown += (sShown.empty() ? "" : "; ") + vLines[0] + (vLines.size() > 1 ? " " + vLines[1] : "");
    }
    return sShown;
  }
  std::string LastBox() const { return mpUI->mvBoxes.back().sPrompt; }
  // The rows of a query, each as "a|b|c".
  Texts Lines(const std::string& sSql) const {
    Texts vLines;
    for (const auto& vRow : SqlRows(mDb.Path(), sSql)) {
      vLines.push_back(vRow[0]);
      for (size_t n = 1; n < vRow.size(); ++n) vLines.back() += "|" + vRow[n];
    }
    return vLines;
  }
  // The goods columns added since the last call ("1,2,").
  std::string Added() {
    std::string sAdded;
    for (const auto& s : mDb.Statements("ALTER TABLE Goods ADD COLUMN ")) sAdded += s.substr(35, s.size() - 42) + ",";
    return sAdded;
  }
  // A session line read and written for date 3; false when either fails.
  bool Store(const std::string& sLine, int32_t lKey, int nLineNo = 1, int32_t eAction = enuInsert) {
    clsItemSession session;
    session.Session_ID(lKey);
    session.Date_ID(3);
    session.LineNo(nLineNo);
    return session.SetUp(sLine, enuInsert) && session.DBUpdate(eAction);
  }
  // Goods read and inserted for a session of date 7.
  clsItemGoods Goods(const std::string& sField, int32_t lKey) {
    clsItemGoods goods;
    EXPECT_TRUE(goods.SetUp(sField)) << sField;
    goods.Session_ID(lKey);
    goods.Date_ID(7);
    EXPECT_TRUE(goods.DBUpdate(enuInsert)) << sField;
    return goods;
  }

  TempFolder mFolder;
  std::shared_ptr<clsRecordingUI> mpUI = UseRecordingUI();
  TestService mDb{mFolder / "report.db"};
  size_t mnBoxes = 0;
};

// Each case of records-lines.txt ("kind [line] what the record made of it"; a line without "[" is a
// comment) read by a record of its kind, with the dates of keys 5 and 7 stored: "fails" when it
// refused the line, then the boxes shown. Goods are stored and tell the columns they added, a date
// record tells the statements it ran and takes several lines (" / " between them).
TEST_F(Records, EachKindOfLineIsReadAsTheCasesFileSays) {
  mDb.Prepare(kStoredDates);
  std::string sOut;
  int32_t lGoodsKey = 0;
  for (const auto& sCase : Split(ReadFile(DataFile("records-lines.txt")), "\n")) {
    size_t nOpen = sCase.find('['), nClose = sCase.find(']');
    if (nOpen == std::string::npos) {
      sOut += sCase + "\n";
      continue;
    }
    std::string sKind = sCase.substr(0, nOpen), sLine = sCase.substr(nOpen + 1, nClose - nOpen - 1), sHeld;
    bool bRead = true;
    if (sKind == "goods ") {
      double dblTotal = Goods(sLine, ++lGoodsKey).TotalGoods();
      sHeld = NumText(dblTotal) + " = " +
              Lines("SELECT * FROM Goods WHERE Session_ID=" + NumText(int64_t{lGoodsKey}))[0] + " +" + Added();
    } else if (sKind == "session ") {
      clsItemSession s;
      bRead = s.SetUp(sLine, enuInsert);
      sHeld = s.PC_No() + "|" + s.StartTime() + "|" + s.EndTime() + "|" + s.TotalTime() + "|" +
              NumText(s.TotalGoods()) + "|" + NumText(int64_t{s.User_ID()}) + "|" + NumText(s.UserCharge()) + "|" +
              NumText(s.Total()) + "|" + s.MemberID();
    } else if (StartsWith(sKind, "shift")) {
      clsItemShift shift;
      bRead = shift.SetUp(sLine, sKind == "shift on " ? enuSignOn : sKind == "shift off " ? enuSignOff : enuNoField);
      sHeld = CStr(shift.Time()) + "|" + shift.SignOn() + "|" + shift.SignOff();
    } else {
      mDb.Statements();
      clsItemDateRange date;
      for (const auto& s : Split(sLine, " / ")) {
        bRead = date.SetUp(s, s[0] == '#' ? enuLogDate : s[0] == '>' ? enuSignOn : enuDateTotal, enuInsert) && bRead;
      }
      sHeld = CStr(date.LogDate()) + "|" + NumText(int64_t{date.Date_ID()}) + "|" + NumText(date.DateTotal()) + " (" +
              NumText(int64_t(mDb.Statements().size())) + " statements)";
    }
    std::string sShown = Shown();
    sOut += sCase.substr(0, nClose + 1) + " " + (bRead ? "" : "fails ") + sHeld +
            (sShown.empty() ? "" : " {" + sShown + "}") + "\n";
  }
  EXPECT_EQ(mDb.mnCreated, 1);  // Visitor: the line without ":" names no user and creates none
  sOut.pop_back();              // the end of the last line was read as one more, empty line
  EXPECT_EQ(DifferenceFromFile(sOut, "records-lines.txt"), "");
}

TEST_F(Records, ASessionKeyAlreadyStoredIsRetriedOnceWithTheNextKeyAndItsGoodsRowMustBeWritten) {
  mDb.Prepare("INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No) VALUES (57,1,1,'PC09');");
  ASSERT_TRUE(Store(kExample, 57));
  EXPECT_EQ(Lines("SELECT Session_ID,Date_ID,PC_No FROM Session ORDER BY 1"), (Texts{"57|1|PC09", "58|3|PC01"}));
  EXPECT_EQ(Lines("SELECT Session_ID,Date_ID,Goods_1,Goods_3 FROM Goods"), Texts{"58|3|1.5|2"});
  // Both the key and the next one taken: one report, as a failure of DBUpdate, and no goods row.
  EXPECT_FALSE(Store(kExample, 57));
  EXPECT_EQ(Shown(), "-2423534 01/clsItemSession:DBUpdate");
  EXPECT_EQ(Lines("SELECT (SELECT COUNT(*) FROM Session), (SELECT COUNT(*) FROM Goods)"), Texts{"2|1"});
  mDb.Prepare("CREATE TRIGGER NoGoods BEFORE INSERT ON Goods BEGIN SELECT RAISE(ABORT, 'goods are closed'); END;");
  EXPECT_FALSE(Store(kExample, 5));
  EXPECT_EQ(Shown(), "-2147217900 10/clsItemGoods:DBUpdate");
  EXPECT_NE(LastBox().find("goods are closed"), std::string::npos);
}

TEST_F(Records, ASessionUpdateRefusedForADuplicateAnswersFalseWithoutAReport) {
  ASSERT_TRUE(Store(kExample, 1, 1) && Store(kExample, 2, 2));
  mDb.Prepare("CREATE UNIQUE INDEX OneRowPerLine ON Session (Date_ID, LineNo);");
  EXPECT_FALSE(Store("PC07,10:00,11:00,1:00|9|Guest:1,1", 2, 1, enuUpdate));
  EXPECT_EQ(Lines("SELECT Session_ID,LineNo,PC_No,Goods_1 FROM Session JOIN Goods USING (Session_ID) ORDER BY 1"),
            (Texts{"1|1|PC01|1.5", "2|2|PC01|1.5"}));
}

TEST_F(Records, GoodsColumnsAnotherWriterAddedAreSeenOutsideATransactionAndNeverMisnumbered) {
  Goods("1,2", 1);
  SqlExec(mDb.Path(), "ALTER TABLE Goods ADD COLUMN Goods_3 NUMBER;");
  Goods("1,2,3,4", 2);
  EXPECT_EQ(Added(), "1,2,4,");
  EXPECT_EQ(SharedConnection().TransactionDepth(), 0);
  mDb.Prepare("DROP TABLE Goods; CREATE TABLE Goods (Session_ID, Date_ID, Goods_1, Note, goods_3, Goods_07)");
  Goods("1,2,3,4", 5);
  EXPECT_EQ(Added(), "2,4,");
  EXPECT_EQ(Lines("SELECT Goods_1,Goods_2,goods_3,Goods_4,Note,Goods_07 FROM Goods"), Texts{"1|2|3|4|NULL|NULL"});
}

TEST_F(Records, AFailingGoodsColumnIsReportedAndRolledBackAloneAndTheImportGoesOn) {
  // A STRICT table refuses a column of type NUMBER: a real database that cannot take the column.
  SqlExec(mDb.Path(), "DROP TABLE Goods");
  mDb.Prepare("CREATE TABLE Goods (Session_ID ANY, Date_ID ANY, Goods_1 ANY, Goods_2 ANY, Goods_3 ANY) STRICT");
  TransactionGuard import(SharedConnection());
  Goods("1,2,3", 1);
  clsItemGoods goods;
  EXPECT_TRUE(goods.SetUp("1,2,3,4"));
  EXPECT_EQ(Shown(), "-2147217900 02/clsItemGoods:SetUp");
  EXPECT_NE(LastBox().find("NUMBER"), std::string::npos);
  EXPECT_EQ(SharedConnection().TransactionDepth(), 1);
  EXPECT_DOUBLE_EQ(goods.TotalGoods(), 10);
  EXPECT_FALSE(goods.DBUpdate(enuInsert) || goods.DBUpdate(enuUpdate));
  EXPECT_EQ(Shown(), "-2147217900 10/clsItemGoods:DBUpdate; -2147217900 10/clsItemGoods:DBUpdate");
  Goods("4,5,6", 2);
  import.Commit();
  EXPECT_EQ(Lines("SELECT * FROM Goods ORDER BY 1"), (Texts{"1|7|1|2|3", "2|7|4|5|6"}));
}

TEST_F(Records, GoodsColumnsAreLookedAtAgainAfterARollback) {
  TransactionGuard first(SharedConnection());
  Goods("1,2,3", 1);
  first.Rollback();
  TransactionGuard import(SharedConnection());
  Goods("1,2", 1);
  import.Commit();
  EXPECT_EQ(Added(), "1,2,3,1,2,");
  EXPECT_EQ(Lines("SELECT * FROM Goods"), Texts{"7|1|1|2"});
}

TEST_F(Records, AnotherDatabaseHasItsOwnGoodsColumns) {
  // Both connections stand at the same point of their schema history; only the database differs.
  mDb.Prepare("ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER; ALTER TABLE Goods ADD COLUMN Goods_2 NUMBER;");
  TransactionGuard firstImport(SharedConnection());
  Goods("1", 1);
  TestService second(mFolder / "second.db");
  TransactionGuard secondImport(SharedConnection());
  Goods("5", 1);
  secondImport.Commit();
  EXPECT_EQ(SqlRows(second.Path(), "SELECT * FROM Goods"), (Rows{{"7", "1", "5"}}));
}

TEST_F(Records, AnUpdateTakesTheMatchedDateAndItsStoredKeyWhateverTheLineSays) {
  mDb.Prepare(kStoredDates);
  mDb.mMatched = DateSerial(2003, 12, 25);
  clsItemDateRange date;
  ASSERT_TRUE(date.SetUp("#24/12/2003#", enuLogDate, enuUpdate) && date.SetUp("End Total 10", enuDateTotal, enuUpdate));
  EXPECT_EQ(date.Date_ID(), 7);
  Date dtBefore = Now();
  ASSERT_TRUE(date.DBUpdate(enuUpdate));
  EXPECT_TRUE(dtBefore.dSerial <= date.ImportedDate().dSerial && date.ImportedDate().dSerial <= Now().dSerial);
  EXPECT_EQ(Lines("SELECT * FROM DateRange"),
            (Texts{"5|24/12/2003|0.0|24/12/2003", "7|25/12/2003|10.0|" + CStr(date.ImportedDate())}));
}

TEST_F(Records, AFailedDateWriteOrLookUpIsReported) {
  clsItemDateRange date, lost;
  ASSERT_TRUE(date.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  // Another writer takes the key between the look-up and the insert, then the table goes.
  SqlExec(mDb.Path(), "INSERT INTO DateRange VALUES (1,'01/01/2004',0,'01/01/2004 10:00:00')");
  EXPECT_FALSE(date.DBUpdate(enuInsert));
  SqlExec(mDb.Path(), "ALTER TABLE DateRange RENAME TO OldDateRange");
  EXPECT_FALSE(lost.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  EXPECT_EQ(CStr(lost.LogDate()) + "|" + NumText(int64_t{lost.Date_ID()}), "25/12/2003|0");  // taken before it
  EXPECT_EQ(Shown(), "-2423534 03/clsItemDateRange:DBUpdate; -2147217900 02/clsItemDateRange:mlGetID");
  EXPECT_EQ(Lines("SELECT Date_ID,LogDate FROM OldDateRange"), Texts{"1|01/01/2004"});
}

TEST_F(Records, AnActionOtherThanInsertOrUpdateIsReportedAndWritesNothing) {
  clsItemSession session;
  clsItemGoods goods;
  clsItemShift shift;
  clsItemDateRange date;
  ASSERT_TRUE(session.SetUp(kExample, enuInsert) && goods.SetUp("1,2") &&
              shift.SetUp(">> 25.12.2003 08:00:00 Sign On: Anne", enuSignOn) &&
              date.SetUp("#25/12/2003#", enuLogDate, enuInsert));
  mDb.Statements();
  for (int32_t eAction : {enuUnspecified, enuDelete}) {
    EXPECT_FALSE(session.DBUpdate(eAction) || goods.DBUpdate(eAction) || shift.DBUpdate(eAction) ||
                 date.DBUpdate(eAction));
    EXPECT_EQ(Shown(),
              "-2147217900 04/clsItemSession:mbDBUpdate15; -2147217900 10/clsItemGoods:DBUpdate; "
              "-2147217900 02/clsItemShift:DBUpdate; -2147217900 03/clsItemDateRange:DBUpdate");
  }
  EXPECT_NE(date.ImportedDate(), Date{});     // the time is taken before the statement fails
  EXPECT_EQ(mDb.Statements(), Texts(8, ""));  // nothing but the empty statements ran
}

TEST_F(Records, UserCategoriesAreLoadedUntilARowCannotBeTakenAndFoundInAnyCaseAndAKeyTooWideFailsTheLine) {
  mDb.Prepare("INSERT INTO User VALUES (5,'Member'), (9,'Staff'), (40000,'Big');");
  clsItemLogFile users;
  mDb.mpUsers = &users;
  const std::pair<const char*, int> vLookups[] = {{"MEMBER", 5}, {"staff", 9}, {"Guest", 0}, {"", 0}, {"Big", -1}};
  for (const auto& [sName, nKey] : vLookups) EXPECT_EQ(users.GetUserID(sName), nKey) << sName;
  EXPECT_EQ(users.CreateUser(""), 0);
  EXPECT_EQ(Shown(), "Error matching User Category Big for the session");
  EXPECT_EQ(NumText(int64_t{mpUI->mvBoxes.back().nStyle}) + " " + mpUI->mvBoxes.back().sTitle, "16 Varn Log Process");
  EXPECT_TRUE(Store("PC01,10:00,11:00,1:00|1|member:1.00,2.00,M1", 1));
  EXPECT_FALSE(Store("PC01,10:00,11:00,1:00|1|big:1.00,2.00", 2));
  EXPECT_EQ(Shown(), "Error matching User Category big for the session");
  // The next key does not fit either: the row is written, the line still fails.
  EXPECT_EQ(users.CreateUser("Bigger"), 0);
  EXPECT_EQ(Shown(), "6 06/clsItemLogFile:CreateUser");
  EXPECT_EQ(Lines("SELECT * FROM User"), (Texts{"5|Member", "9|Staff", "40000|Big", "40001|Bigger"}));
  EXPECT_EQ(Lines("SELECT Session_ID,User_ID FROM Session"), Texts{"1|5"});
  // Loading stops at a row it cannot take: a name held twice, or none.
  for (const auto& [sSecond, sShown] :
       {std::pair{"'GUEST'", "457 08/clsItemLogFile:mGetUsers"}, std::pair{"NULL", "94 07/clsItemLogFile:mGetUsers"}}) {
    mDb.Prepare("DELETE FROM User; INSERT INTO User VALUES (1,'Guest'), (2," + std::string(sSecond) + "), (3,'Staff')");
    clsItemLogFile loaded;
    EXPECT_EQ(Shown(), sShown);
    EXPECT_EQ(loaded.GetUserID("guest"), 1);
    EXPECT_EQ(loaded.GetUserID("Staff"), 0);
  }
}

TEST_F(Records, ACategoryThatCannotBeStoredFailsTheLineAndIsNotKept) {
  mDb.Prepare("CREATE TRIGGER NoNewUsers BEFORE INSERT ON User BEGIN SELECT RAISE(ABORT, 'no new users'); END;");
  clsItemLogFile users;
  mDb.mpUsers = &users;
  uint64_t lFailures = SharedConnection().FailureCount();
  EXPECT_FALSE(Store("PC01,10:00,11:00,1:00|1|Guest:1.00,2.00", 1));
  EXPECT_EQ(Shown(), "-2147217900 01/clsItemUser:Insert");
  EXPECT_NE(LastBox().find("no new users"), std::string::npos);
  EXPECT_GT(SharedConnection().FailureCount(), lFailures);
  EXPECT_EQ(users.GetUserID("Guest"), 0);
  SqlExec(mDb.Path(), "DROP TRIGGER NoNewUsers;");
  EXPECT_TRUE(Store("PC01,10:00,11:00,1:00|1|Guest:1.00,2.00", 2));
  EXPECT_EQ(Lines("SELECT * FROM User UNION ALL SELECT Session_ID,User_ID FROM Session"), (Texts{"1|Guest", "2|1"}));
}

// A whole day imported, then imported again as an update: every statement the command line runs
// is in the golden traces, with the time of the import masked.
TEST_F(Records, ADayImportedAndThenUpdatedRunsTheStatementsOfTheGoldenTraces) {
  std::string sLog = WriteFile(mFolder / "14-03-2004.log", ReadFile(DataFile("records-day.log")));
  const std::regex importTime(R"(((INSERT INTO|UPDATE) DateRange .*)'\d\d/\d\d/\d{4} \d\d:\d\d:\d\d')");
  for (const char* sGolden : {"records-day.trace", "records-day-update.trace"}) {
    std::string sTrace = mFolder / sGolden;
    EXPECT_EQ(RunVarnlog({"--trace-sql", sTrace, "--db", mFolder / "day.db", "import", "--yes", sLog}).nExit, 0);
    std::string sTraced = std::regex_replace(ReadFile(sTrace), importTime, "$1'<import time>'");
    EXPECT_EQ(DifferenceFromFile(sTraced, sGolden), "");
  }
}

}  // namespace
}  // namespace varn::test
