// The goods of a session: the amounts read out of the goods field, the goods columns the table
// gets, and the Goods row.
#include <gtest/gtest.h>

#include "db/Connection.h"
#include "records/clsItemGoods.h"
#include "tests/RecordTestSupport.h"

namespace varn::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

const char* kAddColumn = "ALTER TABLE Goods ADD COLUMN";

std::shared_ptr<clsItemGoods> StoredGoods(const std::string& sField, int32_t lSessionID, int32_t lDateID = 7) {
  auto pGoods = std::make_shared<clsItemGoods>();
  EXPECT_TRUE(pGoods->SetUp(sField));
  pGoods->Session_ID(lSessionID);
  pGoods->Date_ID(lDateID);
  EXPECT_TRUE(pGoods->DBUpdate(enuInsert));
  return pGoods;
}

TEST(GoodsSetUp, ReadsEveryPlaceOfTheFieldAndStoresItInItsColumn) {
  struct Case {
    const char* sField;
    double dblTotal;
    const char* sStored;  // Goods_1.. as stored, NULL past the places of the line
  };
  const Case vCases[] = {
      {" 2 , x3,4.5kg,,1e1", 16.5, "2|0|4.5|0|10"},
      {"1.50,,2", 3.5, "1.5|0|2|NULL|NULL"},
      {"", 0, "0|NULL|NULL|NULL|NULL"},
      {"2,3.5", 5.5, "2|3.5|NULL|NULL|NULL"},
      {"1,50", 51, "1|50|NULL|NULL|NULL"},
      {",,,,", 0, "0|0|0|0|0"},
  };
  RecordDb db;
  int32_t lSessionID = 100;
  for (const Case& c : vCases) {
    SCOPED_TRACE(c.sField);
    auto pGoods = StoredGoods(c.sField, ++lSessionID);
    EXPECT_DOUBLE_EQ(pGoods->TotalGoods(), c.dblTotal);
    EXPECT_EQ(db.Value("SELECT ifnull(Goods_1,'NULL')||'|'||ifnull(Goods_2,'NULL')||'|'||ifnull(Goods_3,'NULL')||'|'||"
                       "ifnull(Goods_4,'NULL')||'|'||ifnull(Goods_5,'NULL') FROM Goods WHERE Session_ID=" +
                       std::to_string(lSessionID)),
              c.sStored);
    EXPECT_EQ(db.Value("SELECT Date_ID FROM Goods WHERE Session_ID=" + std::to_string(lSessionID)), "7");
  }
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

TEST(GoodsDBUpdate, WritesTheStatementsAsWritten) {
  RecordDb db;
  auto pGoods = std::make_shared<clsItemGoods>();
  ASSERT_TRUE(pGoods->SetUp("1.50,,2"));
  pGoods->Session_ID(41);
  pGoods->Date_ID(7);
  db.Statements();
  ASSERT_TRUE(pGoods->DBUpdate(enuInsert));
  EXPECT_EQ(db.Statements("INSERT"),
            Texts{"INSERT INTO Goods (Date_ID,Session_ID,Goods_1,Goods_2,Goods_3) VALUES (7,41,1.5,0,2);"});
  ASSERT_TRUE(pGoods->DBUpdate(enuUpdate));
  EXPECT_EQ(db.Statements("UPDATE"),
            Texts{"UPDATE Goods SET Session_ID=41,Date_ID=7,Goods_1=1.5,Goods_2=0,Goods_3=2 WHERE Session_ID=41"});

  auto pChanged = std::make_shared<clsItemGoods>();
  ASSERT_TRUE(pChanged->SetUp("0.25,4"));
  pChanged->Session_ID(41);
  pChanged->Date_ID(8);
  ASSERT_TRUE(pChanged->DBUpdate(enuUpdate));
  EXPECT_EQ(db.Rows("SELECT Session_ID,Date_ID,Goods_1,Goods_2,Goods_3 FROM Goods"),
            (Rows{{"41", "8", "0.25", "4", "2"}}));
  EXPECT_TRUE(db.Reports().empty());
}

TEST(GoodsColumns, OnlyTheMissingColumnsAreAddedEachInItsOwnTransaction) {
  RecordDb db;
  StoredGoods("1,2,3", 1);
  EXPECT_EQ(db.Statements(kAddColumn),
            (Texts{"ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER", "ALTER TABLE Goods ADD COLUMN Goods_2 NUMBER",
                   "ALTER TABLE Goods ADD COLUMN Goods_3 NUMBER"}));
  StoredGoods("1,2,3,4,5", 2);
  EXPECT_EQ(db.Statements(kAddColumn),
            (Texts{"ALTER TABLE Goods ADD COLUMN Goods_4 NUMBER", "ALTER TABLE Goods ADD COLUMN Goods_5 NUMBER"}));
  StoredGoods("9", 3);
  EXPECT_TRUE(db.Statements(kAddColumn).empty());
  EXPECT_EQ(db.Columns("Goods"),
            (Texts{"Date_ID", "Session_ID", "Goods_1", "Goods_2", "Goods_3", "Goods_4", "Goods_5"}));
  EXPECT_EQ(db.Rows("SELECT Session_ID,Goods_1,Goods_2,Goods_3,Goods_4,Goods_5 FROM Goods ORDER BY Session_ID"),
            (Rows{{"1", "1", "2", "3", "NULL", "NULL"},
                  {"2", "1", "2", "3", "4", "5"},
                  {"3", "9", "NULL", "NULL", "NULL", "NULL"}}));
  EXPECT_EQ(SharedConnection().TransactionDepth(), 0);
  EXPECT_TRUE(db.Reports().empty());
}

TEST(GoodsColumns, AGapOrAnExtraColumnNeverMisnumbersTheGoodsColumns) {
  RecordDb db;
  db.Prepare(
      "DROP TABLE Goods;"
      "CREATE TABLE Goods (Session_ID INTEGER PRIMARY KEY, Date_ID INTEGER, Goods_1 NUMBER, Note TEXT, goods_3 NUMBER,"
      " Goods_07 NUMBER);");
  StoredGoods("1,2,3,4", 5);
  EXPECT_EQ(db.Statements(kAddColumn),
            (Texts{"ALTER TABLE Goods ADD COLUMN Goods_2 NUMBER", "ALTER TABLE Goods ADD COLUMN Goods_4 NUMBER"}));
  EXPECT_EQ(db.Rows("SELECT Goods_1,Goods_2,goods_3,Goods_4,Note,Goods_07 FROM Goods WHERE Session_ID=5"),
            (Rows{{"1", "2", "3", "4", "NULL", "NULL"}}));
  EXPECT_TRUE(db.Reports().empty());
}

// A STRICT table refuses a column of type NUMBER: a real database that cannot take the column.
const char* kStrictGoods =
    "DROP TABLE Goods;"
    "CREATE TABLE Goods (Session_ID INTEGER PRIMARY KEY, Date_ID INTEGER, Goods_1 REAL, Goods_2 REAL, Goods_3 REAL)"
    " STRICT;";

TEST(GoodsColumns, AFailingAlterTableIsReportedRolledBackAndItsRecordCannotBeWritten) {
  RecordDb db;
  db.Prepare(kStrictGoods);
  auto pGoods = std::make_shared<clsItemGoods>();
  EXPECT_TRUE(pGoods->SetUp("1,2,3,4"));
  EXPECT_EQ(db.Reports(), Texts{"02/clsItemGoods:SetUp"});
  EXPECT_NE(db.LastBox().find("NUMBER"), std::string::npos) << db.LastBox();
  EXPECT_EQ(SharedConnection().TransactionDepth(), 0);
  EXPECT_EQ(db.Columns("Goods").size(), 5u);
  EXPECT_DOUBLE_EQ(pGoods->TotalGoods(), 10);

  pGoods->Session_ID(9);
  pGoods->Date_ID(7);
  EXPECT_FALSE(pGoods->DBUpdate(enuInsert));
  EXPECT_FALSE(pGoods->DBUpdate(enuUpdate));
  EXPECT_EQ(db.Reports(), (Texts{"10/clsItemGoods:DBUpdate", "10/clsItemGoods:DBUpdate"}));
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Goods"), "0");
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);

  StoredGoods("1,2", 10);
  EXPECT_EQ(db.Rows("SELECT Goods_1,Goods_2,Goods_3 FROM Goods"), (Rows{{"1.0", "2.0", "NULL"}}));
}

TEST(GoodsColumns, InsideAnImportTheFailedColumnIsRolledBackAloneAndTheImportGoesOn) {
  RecordDb db;
  db.Prepare(kStrictGoods);
  Connection& conn = SharedConnection();
  TransactionGuard import(conn);
  StoredGoods("1,2,3", 1);
  auto pGoods = std::make_shared<clsItemGoods>();
  EXPECT_TRUE(pGoods->SetUp("1,2,3,4"));
  EXPECT_EQ(db.Reports(), Texts{"02/clsItemGoods:SetUp"});
  EXPECT_EQ(conn.TransactionDepth(), 1);
  StoredGoods("4,5,6", 2);
  import.Commit();
  EXPECT_EQ(db.Rows("SELECT Session_ID,Goods_1,Goods_2,Goods_3 FROM Goods ORDER BY Session_ID"),
            (Rows{{"1", "1.0", "2.0", "3.0"}, {"2", "4.0", "5.0", "6.0"}}));
}

TEST(GoodsColumns, InsideAnImportTheColumnsAreLookedAtOnceAndAgainAfterARollback) {
  RecordDb db;
  Connection& conn = SharedConnection();
  {
    TransactionGuard import(conn);
    for (int32_t lSession = 1; lSession <= 20; ++lSession) StoredGoods("1,2,3,4,5", lSession);
    EXPECT_EQ(db.Statements("SELECT").size(), 1u);
    import.Rollback();
  }
  EXPECT_EQ(db.Columns("Goods"), (Texts{"Date_ID", "Session_ID"}));
  TransactionGuard import(conn);
  StoredGoods("1,2", 1);
  EXPECT_EQ(db.Statements(kAddColumn),
            (Texts{"ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER", "ALTER TABLE Goods ADD COLUMN Goods_2 NUMBER"}));
  import.Commit();
  EXPECT_EQ(db.Rows("SELECT Session_ID,Goods_1,Goods_2 FROM Goods"), (Rows{{"1", "1", "2"}}));
  EXPECT_TRUE(db.Reports().empty());
}

TEST(GoodsColumns, AnotherDatabaseHasItsOwnColumns) {
  // Both connections stand at the same point of their schema history; only the database differs.
  RecordDb first;
  first.Prepare("ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER; ALTER TABLE Goods ADD COLUMN Goods_2 NUMBER;");
  TransactionGuard firstImport(SharedConnection());
  StoredGoods("1", 1);
  RecordDb second;
  TransactionGuard secondImport(SharedConnection());
  StoredGoods("5", 1);
  secondImport.Commit();
  EXPECT_EQ(second.Columns("Goods"), (Texts{"Date_ID", "Session_ID", "Goods_1"}));
  EXPECT_EQ(second.Rows("SELECT Goods_1 FROM Goods"), (Rows{{"5"}}));
  EXPECT_TRUE(second.Reports().empty());
}

TEST(GoodsColumns, OutsideATransactionAColumnAnotherWriterAddedIsSeen) {
  RecordDb db;
  StoredGoods("1,2", 1);
  SqlExec(db.Path(), "ALTER TABLE Goods ADD COLUMN Goods_3 NUMBER;");
  StoredGoods("1,2,3", 2);
  EXPECT_EQ(db.Statements(kAddColumn).size(), 2u);
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.Rows("SELECT Session_ID,Goods_3 FROM Goods ORDER BY Session_ID"), (Rows{{"1", "NULL"}, {"2", "3"}}));
}

TEST(GoodsDBUpdate, ActionsOtherThanInsertAndUpdateAreReportedAndWriteNothing) {
  RecordDb db;
  auto pGoods = std::make_shared<clsItemGoods>();
  ASSERT_TRUE(pGoods->SetUp("1,2"));
  pGoods->Session_ID(3);
  for (varneDBAction eAction : {enuUnspecified, enuDelete}) {
    EXPECT_FALSE(pGoods->DBUpdate(eAction));
    EXPECT_EQ(db.Reports(), Texts{"10/clsItemGoods:DBUpdate"});
  }
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Goods"), "0");
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

}  // namespace
}  // namespace varn::test
