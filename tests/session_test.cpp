// Session lines in both layouts: what SetUp reads out of them, and the Session and Goods rows
// DBUpdate writes.
#include <gtest/gtest.h>

#include "records/clsItemSession.h"
#include "tests/RecordTestSupport.h"

namespace varn::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

struct SessionCase {
  const char* sLine;
  const char* sPC;
  const char* sStart;
  const char* sEnd;
  const char* sTime;
  double dblGoods;
  const char* sUser;
  double dblCharge;
  double dblTotal;
  const char* sMember;
  Texts vReports;
};

TEST(SessionSetUp, ReadsBothLayouts) {
  const SessionCase vCases[] = {
      {"PC01,10:00,11:30,1:30|1.50,,2.00|Guest:3.00,6.50,M123",
       "PC01",
       "10:00",
       "11:30",
       "1:30",
       3.5,
       "Guest",
       3,
       6.5,
       "M123",
       {}},
      {"PC01,10:00,11:30,1:30,$1.50,0,0,0,0,0,0,0,2.00,Guest:3.00,6.50,M123",
       "PC01",
       "10:00",
       "11:30",
       "1:30",
       3.5,
       "Guest",
       3,
       6.5,
       "M123",
       {}},
      // 15 old fields: no member id.
      {"PC04,08:08,08:45,0:37,0,0,0,$1.20,0,0,0,0,0,Guest:$2.25,$3.45",
       "PC04",
       "08:08",
       "08:45",
       "0:37",
       1.2,
       "Guest",
       2.25,
       3.45,
       " ",
       {}},
      // 14 old fields: no total, which the money reading reports once.
      {"PC04,08:08,08:45,0:37,0,0,0,$1.20,0,0,0,0,0,Guest:$2.25",
       "PC04",
       "08:08",
       "08:45",
       "0:37",
       1.2,
       "Guest",
       2.25,
       0,
       " ",
       {"00/modMainLog:mbIsNumber"}},
      // 17 old fields: what follows the member id is ignored.
      {"PC03,11:29,13:57,2:28,RM 1.50,0,RM 0.60,RM 2.40,0,0,0,0,0,Member:RM 6.00,RM 10.50,M1402,late",
       "PC03",
       "11:29",
       "13:57",
       "2:28",
       4.5,
       "Member",
       6,
       10.5,
       "M1402",
       {}},
      {"PC02,08:37,09:22,0:45|,,|Student:1.50,1.50", "PC02", "08:37", "09:22", "0:45", 0, "Student", 1.5, 1.5, " ", {}},
      {" PC11 , 10:04 ,11:47 , 1:43 |,2.00,|Staff : 0.00 , 2.00 ,  ",
       " PC11 ",
       "10:04",
       "11:47",
       "1:43",
       2,
       "Staff",
       0,
       2,
       " ",
       {}},
      {"PC05,10:17,11:55,1.5|,,|Guest:5.25,5.25", "PC05", "10:17", "11:55", "0:00", 0, "Guest", 5.25, 5.25, " ", {}},
      {"PC05,10:17,11:55,|,,|Guest:5.25,5.25", "PC05", "10:17", "11:55", "0:00", 0, "Guest", 5.25, 5.25, " ", {}},
      {"PC05,10:17,11:55,   |,,|Guest:5.25,5.25", "PC05", "10:17", "11:55", "0:00", 0, "Guest", 5.25, 5.25, " ", {}},
      {"PC05,10:17,11:55,01:38:00|,,|Guest:5.25,5.25",
       "PC05",
       "10:17",
       "11:55",
       "01:38:00",
       0,
       "Guest",
       5.25,
       5.25,
       " ",
       {}},
      {"PC05,10:17,11:55,-1:00|,,|Guest:5.25,5.25", "PC05", "10:17", "11:55", "0:00", 0, "Guest", 5.25, 5.25, " ", {}},
      // A "|" makes the new layout even with the old number of commas.
      {"PC06,10:42,11:38,0:56,0,0,0,0,0,0,0,0,0|2.40|Member:2.40,4.80,M1433",
       "PC06",
       "10:42",
       "11:38",
       "0:56",
       2.4,
       "Member",
       2.4,
       4.8,
       "M1433",
       {}},
      {"PC07,09:23,12:01,2:38|,2.00,,2.40,,2.50,,,5.00|Guest:8.25,20.15,|extra",
       "PC07",
       "09:23",
       "12:01",
       "2:38",
       11.9,
       "Guest",
       8.25,
       20.15,
       " ",
       {}},
  };
  for (const SessionCase& c : vCases) {
    SCOPED_TRACE(c.sLine);
    RecordDb db;
    db.mUsers.mKeys = {{"Guest", 1}, {"Member", 2}, {"Student", 3}, {"Staff", 4}};
    clsItemSession session;
    ASSERT_TRUE(session.SetUp(c.sLine, enuInsert));
    EXPECT_EQ(session.PC_No(), c.sPC);
    EXPECT_EQ(session.StartTime(), c.sStart);
    EXPECT_EQ(session.EndTime(), c.sEnd);
    EXPECT_EQ(session.TotalTime(), c.sTime);
    EXPECT_DOUBLE_EQ(session.TotalGoods(), c.dblGoods);
    EXPECT_EQ(session.User_ID(), db.mUsers.mKeys.at(c.sUser));
    EXPECT_DOUBLE_EQ(session.UserCharge(), c.dblCharge);
    EXPECT_DOUBLE_EQ(session.Total(), c.dblTotal);
    EXPECT_EQ(session.MemberID(), c.sMember);
    EXPECT_EQ(db.mUsers.mnCreated, 0);
    EXPECT_EQ(db.Reports(), c.vReports);
    EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
  }
}

TEST(SessionSetUp, TheOldLayoutIsConvertedToTheNewOne) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 4}};
  clsItemSession oldLine;
  clsItemSession newLine;
  ASSERT_TRUE(oldLine.SetUp("PC01,10:00,11:30,1:30,$1.50,0,0,0,0,0,0,0,2.00,Guest:3.00,6.50,M123", enuInsert));
  ASSERT_TRUE(newLine.SetUp("PC01,10:00,11:30,1:30|1.5,0,0,0,0,0,0,0,2|Guest:3.00,6.50,M123", enuInsert));
  int32_t lKey = 1;
  for (clsItemSession* pSession : {&oldLine, &newLine}) {
    pSession->Session_ID(lKey++);
    pSession->Date_ID(3);
    ASSERT_TRUE(pSession->DBUpdate(enuInsert));
  }
  Rows vSessions = db.Rows(
      "SELECT PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,UserCharge,Total,MemberID FROM Session ORDER BY "
      "Session_ID");
  ASSERT_EQ(vSessions.size(), 2u);
  EXPECT_EQ(vSessions[0], vSessions[1]);
  Rows vGoods = db.Rows(
      "SELECT Session_ID,Date_ID,Goods_1,Goods_2,Goods_3,Goods_4,Goods_5,Goods_6,Goods_7,Goods_8,Goods_9 FROM Goods "
      "ORDER BY Session_ID");
  ASSERT_EQ(vGoods.size(), 2u);
  EXPECT_EQ(vGoods[0], (Texts{"1", "3", "1.5", "0", "0", "0", "0", "0", "0", "0", "2"}));
  EXPECT_EQ(vGoods[1], (Texts{"2", "3", "1.5", "0", "0", "0", "0", "0", "0", "0", "2"}));
}

TEST(SessionSetUp, MissingFieldsFailWhereTheyAreRead) {
  struct Case {
    const char* sLine;
    Texts vReports;
  };
  const Case vCases[] = {
      {"PC01,10:00,11:30,1:30|1.50", {"00/clsItemSession:SetUp"}},
      {"PC01,10:00,11:30|1.50|Guest:1.00,1.00", {"04/clsItemSession:SetUp"}},
      {"PC01,10:00|1.50|Guest:1.00,1.00", {"03/clsItemSession:SetUp"}},
      {"PC01|1.50|Guest:1.00,1.00", {"02/clsItemSession:SetUp"}},
      {"PC01,10:00,11:30,1:30|1.50|", {"06/clsItemSession:SetUp"}},
      {"PC01,10:00,11:30,1:30|1.50|Guest:1.00", {"20/clsItemSession:SetUp"}},
      // 13 old fields: no user group at all.
      {"PC01,10:00,11:30,1:30,$1.50,0,0,0,0,0,0,0,2.00", {"06/clsItemSession:SetUp"}},
      {"PC01,10:00,11:30,1:30,$1.50,0,0,0", {"03/clsItemSession:msConvertToNewFormat", "00/clsItemSession:SetUp"}},
      {"PC01,10:00", {"01/clsItemSession:msConvertToNewFormat", "00/clsItemSession:SetUp"}},
  };
  for (const Case& c : vCases) {
    SCOPED_TRACE(c.sLine);
    RecordDb db;
    db.mUsers.mKeys = {{"Guest", 1}};
    clsItemSession session;
    EXPECT_FALSE(session.SetUp(c.sLine, enuInsert));
    EXPECT_EQ(db.Reports(), c.vReports);
    EXPECT_EQ(db.LastBox().substr(0, 3), "9\r\n");
    EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
  }
}

TEST(SessionSetUp, ANewCategoryIsCreatedAndAFailedOneFailsTheLine) {
  RecordDb db;
  clsItemSession session;
  ASSERT_TRUE(session.SetUp("PC01,10:00,11:30,1:30|1|Visitor:1.00,2.00", enuInsert));
  EXPECT_EQ(db.mUsers.mnCreated, 1);
  EXPECT_EQ(session.User_ID(), db.mUsers.mKeys.at("Visitor"));
  // A user field without ":" names no category, and none can be made for it.
  clsItemSession noCategory;
  EXPECT_FALSE(noCategory.SetUp("PC01,10:00,11:30,1:30|1|Visitor 1.00,2.00", enuInsert));
  EXPECT_TRUE(db.Reports().empty());
}

clsItemSession ParsedSession(const std::string& sLine, int32_t lSessionID, int32_t lDateID, int nLineNo) {
  clsItemSession session;
  session.Session_ID(lSessionID);
  session.Date_ID(lDateID);
  session.LineNo(nLineNo);
  EXPECT_TRUE(session.SetUp(sLine, enuInsert));
  return session;
}

const char* kExample = "PC01,10:00,11:30,1:30|1.50,,2.00|Guest:3.00,6.50,M123";
const char* kSessionColumns =
    "SELECT Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,UserCharge,Total,MemberID "
    "FROM Session ORDER BY Session_ID";

TEST(SessionDBUpdate, InsertsAndUpdatesWithTheStatementsAsWritten) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 4}, {"Member", 5}};
  clsItemSession session = ParsedSession(kExample, 57, 3, 12);
  db.Statements();
  ASSERT_TRUE(session.DBUpdate(enuInsert));
  EXPECT_EQ(
      db.Statements(),
      (Texts{"INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,"
             "UserCharge,Total,MemberID) VALUES (57,3,12,'PC01','10:00','11:30','1:30',3.5,4,3,6.5,'M123')",
             "INSERT INTO Goods (Date_ID,Session_ID,Goods_1,Goods_2,Goods_3) VALUES (3,57,1.5,0,2);"}));
  EXPECT_EQ(db.Rows(kSessionColumns),
            (Rows{{"57", "3", "12", "PC01", "10:00", "11:30", "1:30", "3.5", "4", "3.0", "6.5", "M123"}}));
  EXPECT_EQ(db.Rows("SELECT Session_ID,Date_ID,Goods_1,Goods_2,Goods_3 FROM Goods"),
            (Rows{{"57", "3", "1.5", "0", "2"}}));

  ASSERT_TRUE(session.DBUpdate(enuUpdate));
  EXPECT_EQ(
      db.Statements(),
      (Texts{"UPDATE Session SET Date_ID=3,LineNo=12,PC_No='PC01',StartTime='10:00',EndTime='11:30',"
             "TotalTime='1:30',TotalGoods=3.5,User_ID=4,UserCharge=3,Total=6.5,MemberID='M123' WHERE Session_ID=57",
             "UPDATE Goods SET Session_ID=57,Date_ID=3,Goods_1=1.5,Goods_2=0,Goods_3=2 WHERE Session_ID=57"}));

  clsItemSession changed = ParsedSession("PC02,12:00,12:45,0:45|0.25|Member:1.25,1.50", 57, 4, 13);
  ASSERT_TRUE(changed.DBUpdate(enuUpdate));
  EXPECT_EQ(db.Rows(kSessionColumns),
            (Rows{{"57", "4", "13", "PC02", "12:00", "12:45", "0:45", "0.25", "5", "1.25", "1.5", " "}}));
  EXPECT_EQ(db.Rows("SELECT Session_ID,Date_ID,Goods_1,Goods_2,Goods_3 FROM Goods"),
            (Rows{{"57", "4", "0.25", "0", "2"}}));
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

TEST(SessionDBUpdate, QuotesInTextsAreStoredExactly) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 1}};
  clsItemSession session = ParsedSession("Kid's corner,10:00,11:30,1:30|1|Guest:1,2,O'Neil 'M1'", 1, 3, 2);
  ASSERT_TRUE(session.DBUpdate(enuInsert));
  EXPECT_EQ(db.Rows("SELECT PC_No,MemberID FROM Session"), (Rows{{"Kid's corner", "O'Neil 'M1'"}}));
  session.PC_No("PC'2");
  ASSERT_TRUE(session.DBUpdate(enuUpdate));
  EXPECT_EQ(db.Rows("SELECT PC_No,MemberID FROM Session"), (Rows{{"PC'2", "O'Neil 'M1'"}}));
  EXPECT_TRUE(db.Reports().empty());
}

TEST(SessionDBUpdate, AKeyAlreadyStoredIsRetriedOnceWithTheNextKey) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 4}};
  db.Prepare(
      "INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,UserCharge,"
      "Total,MemberID) VALUES (57,1,1,'PC09','08:00','09:00','1:00',0,4,1,1,' ');");
  clsItemSession session = ParsedSession(kExample, 57, 3, 12);
  ASSERT_TRUE(session.DBUpdate(enuInsert));
  EXPECT_EQ(session.Session_ID(), 58);
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.Rows("SELECT Session_ID,Date_ID,PC_No FROM Session ORDER BY Session_ID"),
            (Rows{{"57", "1", "PC09"}, {"58", "3", "PC01"}}));
  EXPECT_EQ(db.Rows("SELECT Session_ID,Date_ID,Goods_1,Goods_3 FROM Goods"), (Rows{{"58", "3", "1.5", "2"}}));

  // Both the key and the next one taken: one report, as a failure of DBUpdate, and no goods row.
  clsItemSession again = ParsedSession(kExample, 57, 3, 13);
  EXPECT_FALSE(again.DBUpdate(enuInsert));
  EXPECT_EQ(db.Reports(), Texts{"01/clsItemSession:DBUpdate"});
  EXPECT_EQ(db.LastBox().substr(0, 10), "-2423534\r\n");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Session"), "2");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Goods"), "1");
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

TEST(SessionDBUpdate, AnUpdateRefusedForADuplicateAnswersFalseWithoutAReport) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 4}};
  ASSERT_TRUE(ParsedSession(kExample, 1, 3, 1).DBUpdate(enuInsert));
  ASSERT_TRUE(ParsedSession(kExample, 2, 3, 2).DBUpdate(enuInsert));
  db.Prepare("CREATE UNIQUE INDEX OneRowPerLine ON Session (Date_ID, LineNo);");
  clsItemSession moved = ParsedSession("PC07,10:00,11:00,1:00|9|Guest:1,1", 2, 3, 1);
  EXPECT_FALSE(moved.DBUpdate(enuUpdate));
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.Rows("SELECT Session_ID,LineNo,PC_No FROM Session ORDER BY Session_ID"),
            (Rows{{"1", "1", "PC01"}, {"2", "2", "PC01"}}));
  EXPECT_EQ(db.Rows("SELECT Session_ID,Goods_1 FROM Goods ORDER BY Session_ID"), (Rows{{"1", "1.5"}, {"2", "1.5"}}));
}

TEST(SessionDBUpdate, ActionsOtherThanInsertAndUpdateAreReportedAndWriteNothing) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 4}};
  clsItemSession session = ParsedSession(kExample, 5, 3, 1);
  for (varneDBAction eAction : {enuUnspecified, enuDelete}) {
    EXPECT_FALSE(session.DBUpdate(eAction));
    EXPECT_EQ(db.Reports(), Texts{"04/clsItemSession:mbDBUpdate15"});
  }
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Session"), "0");
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Goods"), "0");
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

TEST(SessionDBUpdate, AGoodsRowThatCannotBeWrittenFailsTheSession) {
  RecordDb db;
  db.mUsers.mKeys = {{"Guest", 4}};
  db.Prepare("CREATE TRIGGER NoGoods BEFORE INSERT ON Goods BEGIN SELECT RAISE(ABORT, 'goods are closed'); END;");
  clsItemSession session = ParsedSession(kExample, 5, 3, 1);
  EXPECT_FALSE(session.DBUpdate(enuInsert));
  EXPECT_EQ(db.Reports(), Texts{"10/clsItemGoods:DBUpdate"});
  EXPECT_NE(db.LastBox().find("goods are closed"), std::string::npos);
}

}  // namespace
}  // namespace varn::test
