// User categories: the User table loaded into the processor's list, names found without regard
// to letter case, and new ones stored the first time a session line names them.
#include <gtest/gtest.h>

#include "parse/clsItemLogFile.h"
#include "records/clsItemSession.h"
#include "tests/RecordTestSupport.h"

namespace varn::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

// The processor of an import under way, as session records reach it.
struct Import {
  explicit Import(RecordDb& db) : mDb(db), mpLogFile(std::make_shared<clsItemLogFile>()) {
    db.mpService->mpUsers = mpLogFile.get();
  }
  ~Import() { mDb.mpService->mpUsers = &mDb.mUsers; }

  bool Session(const std::string& sLine, int32_t lSessionID, clsItemSession* pSession = nullptr) {
    clsItemSession session;
    session.Session_ID(lSessionID);
    session.Date_ID(1);
    session.LineNo(static_cast<int>(lSessionID));
    if (!session.SetUp(sLine, enuInsert)) return false;
    if (pSession) *pSession = session;
    return session.DBUpdate(enuInsert);
  }

  RecordDb& mDb;
  std::shared_ptr<clsItemLogFile> mpLogFile;
};

TEST(Users, ANewCategoryIsStoredOnceAndTheNextGetsTheNextKey) {
  RecordDb db;
  Import import(db);
  db.Statements();
  ASSERT_TRUE(import.Session("PC01,10:00,11:00,1:00|1|Guest:1.00,2.00", 1));
  EXPECT_EQ(db.Statements("INSERT INTO User"), Texts{"INSERT INTO User (User_ID,USerName) VALUES (1,'Guest')"});
  ASSERT_TRUE(import.Session("PC02,10:00,11:00,1:00|1|Guest:1.00,2.00", 2));
  ASSERT_TRUE(import.Session("PC03,10:00,11:00,1:00|1|Student:1.00,2.00", 3));
  EXPECT_EQ(db.Statements("INSERT INTO User"), Texts{"INSERT INTO User (User_ID,USerName) VALUES (2,'Student')"});
  EXPECT_EQ(db.Rows("SELECT User_ID,UserName FROM User ORDER BY User_ID"), (Rows{{"1", "Guest"}, {"2", "Student"}}));
  EXPECT_EQ(db.Rows("SELECT Session_ID,User_ID FROM Session ORDER BY Session_ID"),
            (Rows{{"1", "1"}, {"2", "1"}, {"3", "2"}}));
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

TEST(Users, AStoredCategoryIsFoundInAnyLetterCase) {
  RecordDb db;
  db.Prepare(
      "INSERT INTO User (User_ID,UserName) VALUES (5,'Member'); INSERT INTO User (User_ID,UserName) VALUES "
      "(9,'Staff');");
  Import import(db);
  EXPECT_EQ(import.mpLogFile->GetUserID("MEMBER"), 5);
  EXPECT_EQ(import.mpLogFile->GetUserID("staff"), 9);
  EXPECT_EQ(import.mpLogFile->GetUserID("Guest"), 0);
  EXPECT_EQ(import.mpLogFile->GetUserID(""), 0);
  ASSERT_TRUE(import.Session("PC01,10:00,11:00,1:00|1|member:1.00,2.00,M1", 1));
  EXPECT_EQ(db.Value("SELECT User_ID FROM Session WHERE Session_ID=1"), "5");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM User"), "2");
  EXPECT_TRUE(db.Reports().empty());
}

TEST(Users, AnEmptyTableGivesAnEmptyListAndAnEmptyNameMakesNothing) {
  RecordDb db;
  Import import(db);
  EXPECT_EQ(import.mpLogFile->GetUserID("Guest"), 0);
  EXPECT_EQ(import.mpLogFile->CreateUser(""), 0);
  EXPECT_FALSE(import.Session("PC01,10:00,11:00,1:00|1|Guest 1.00,2.00", 1));
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM User"), "0");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Session"), "0");
  EXPECT_TRUE(db.Reports().empty());
}

TEST(Users, ANameWithAQuoteIsStoredExactlyAndFoundAgain) {
  RecordDb db;
  {
    Import import(db);
    ASSERT_TRUE(import.Session("PC01,10:00,11:00,1:00|1|O'Brien's club:1.00,2.00", 1));
  }
  EXPECT_EQ(db.Rows("SELECT User_ID,UserName FROM User"), (Rows{{"1", "O'Brien's club"}}));
  Import next(db);
  EXPECT_EQ(next.mpLogFile->GetUserID("o'brien's CLUB"), 1);
  EXPECT_TRUE(db.Reports().empty());
}

TEST(Users, ACategoryThatCannotBeStoredFailsTheLineAndIsNotKept) {
  RecordDb db;
  db.Prepare("CREATE TRIGGER NoNewUsers BEFORE INSERT ON User BEGIN SELECT RAISE(ABORT, 'no new users'); END;");
  Import import(db);
  uint64_t lFailures = SharedConnection().FailureCount();
  EXPECT_FALSE(import.Session("PC01,10:00,11:00,1:00|1|Guest:1.00,2.00", 1));
  EXPECT_EQ(db.Reports(), Texts{"01/clsItemUser:Insert"});
  EXPECT_NE(db.LastBox().find("no new users"), std::string::npos);
  EXPECT_GT(SharedConnection().FailureCount(), lFailures);
  EXPECT_EQ(import.mpLogFile->GetUserID("Guest"), 0);
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Session"), "0");

  SqlExec(db.Path(), "DROP TRIGGER NoNewUsers;");
  EXPECT_TRUE(import.Session("PC01,10:00,11:00,1:00|1|Guest:1.00,2.00", 2));
  EXPECT_EQ(db.Rows("SELECT User_ID,UserName FROM User"), (Rows{{"1", "Guest"}}));
  EXPECT_EQ(db.Value("SELECT User_ID FROM Session WHERE Session_ID=2"), "1");
}

TEST(Users, AKeyTooWideForALineIsShownAndFailsTheLine) {
  RecordDb db;
  db.Prepare("INSERT INTO User (User_ID,UserName) VALUES (40000,'Big');");
  Import import(db);
  EXPECT_EQ(import.mpLogFile->GetUserID("Big"), -1);
  ASSERT_EQ(db.mpUI->mvBoxes.size(), 1u);
  EXPECT_EQ(db.mpUI->mvBoxes[0].sPrompt, "Error matching User Category Big for the session");
  EXPECT_EQ(db.mpUI->mvBoxes[0].nStyle, 16);
  EXPECT_EQ(db.mpUI->mvBoxes[0].sTitle, "Varn Log Process");
  EXPECT_FALSE(import.Session("PC01,10:00,11:00,1:00|1|big:1.00,2.00", 1));
  EXPECT_EQ(db.mpUI->mvBoxes.size(), 2u);
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Session"), "0");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM User"), "1");

  // The next key does not fit either: the row is written, the line still fails.
  EXPECT_EQ(import.mpLogFile->CreateUser("Bigger"), 0);
  EXPECT_EQ(db.Reports().back(), "06/clsItemLogFile:CreateUser");
  EXPECT_EQ(db.Value("SELECT UserName FROM User WHERE User_ID=40001"), "Bigger");
}

TEST(Users, LoadingStopsAtARowItCannotTake) {
  struct Case {
    const char* sRows;
    const char* sReport;
  };
  const Case vCases[] = {
      {"INSERT INTO User VALUES (1,'Guest'); INSERT INTO User VALUES (2,'GUEST'); INSERT INTO User VALUES (3,'Staff');",
       "08/clsItemLogFile:mGetUsers"},
      {"INSERT INTO User VALUES (1,'Guest'); INSERT INTO User VALUES (2,NULL); INSERT INTO User VALUES (3,'Staff');",
       "07/clsItemLogFile:mGetUsers"},
  };
  for (const Case& c : vCases) {
    SCOPED_TRACE(c.sRows);
    RecordDb db;
    db.Prepare(c.sRows);
    Import import(db);
    EXPECT_EQ(db.Reports(), Texts{c.sReport});
    EXPECT_EQ(import.mpLogFile->GetUserID("guest"), 1);
    EXPECT_EQ(import.mpLogFile->GetUserID("Staff"), 0);
    EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
  }
}

}  // namespace
}  // namespace varn::test
