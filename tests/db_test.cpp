// The database layer end to end on real SQLite files: the report database's statements,
// error numbers, nested and lost transactions, the statement trace, the refusal of files
// that are no report database, and the sign-on report.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/Recordset.h"
#include "db/SqliteBackend.h"
#include "db/clsAccessDatabase.h"
#include "db/clsConnection.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn {
namespace {

using test::ReadFile;
using test::SqlExec;
using test::SqlRows;
using test::SqlValue;
using test::TempFolder;
using test::WriteFile;

std::unique_ptr<Connection> NewReportDatabase(const std::string& sPath, int nWaitSeconds = 30) {
  SqliteOptions options;
  options.nWaitSeconds = nWaitSeconds;
  options.bCreate = true;
  return std::make_unique<Connection>(OpenSqliteReportDatabase(sPath, options));
}

std::set<std::string> FilesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

// The error a call raises (number 0 when it raises none).
template <class Fn>
clsError ErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const clsError& err) {
    return err;
  }
  return clsError(0, "");
}

void MakeForeignDatabase(const std::string& sPath) {
  sqlite3* pDb = nullptr;
  ASSERT_EQ(sqlite3_open(sPath.c_str(), &pDb), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(pDb, "CREATE TABLE Customers (Id INTEGER, Name TEXT); INSERT INTO Customers VALUES (1,'A');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(pDb);
}

TEST(ReportDatabase, NewFileGetsTheFiveTablesIndexesAndDurableJournal) {
  TempFolder folder;
  std::string sPath = folder / "varnrpt.mdb";
  auto pConn = NewReportDatabase(sPath);
  EXPECT_EQ(pConn->State(), adStateOpen);
  auto vObjects = SqlRows(sPath, "SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite_%' ORDER BY type, name");
  std::vector<std::vector<std::string>> vExpected = {
      {"index", "GoodsDate"},  {"index", "SessionDateLine"}, {"index", "ShiftDateLine"},
      {"table", "DateRange"},  {"table", "Goods"},           {"table", "Session"},
      {"table", "Shift"},      {"table", "User"},            {"trigger", "DateRangeDeleted"}};
  EXPECT_EQ(vObjects, vExpected);
  EXPECT_EQ(SqlRows(sPath, "SELECT name FROM pragma_table_info('Goods') ORDER BY cid"),
            (std::vector<std::vector<std::string>>{{"Date_ID"}, {"Session_ID"}}));
  EXPECT_EQ(SqlValue(sPath, "PRAGMA journal_mode"), "delete");
  // Nothing but the database is left beside it.
  pConn->Close();
  EXPECT_EQ(FilesIn(folder.Path()), std::set<std::string>{"varnrpt.mdb"});
  // Opening it again finds the same database and keeps its rows.
  SqlExec(sPath, "INSERT INTO User VALUES (1,'Member')");
  auto pAgain = NewReportDatabase(sPath);
  EXPECT_EQ(pAgain->State(), adStateOpen);
  EXPECT_EQ(SqlValue(sPath, "SELECT UserName FROM User"), "Member");
}

TEST(ReportDatabase, TheSystemsStatementsRunAsWritten) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pConn = NewReportDatabase(sPath);
  struct Step {
    std::string sSql;
    int64_t lAffected;
  };
  const Step vSteps[] = {
      {"INSERT INTO User (User_ID,USerName) VALUES (12,'Member')", 1},
      {"INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (7,'25/12/2003',1234.5,'26/12/2003 "
       "09:15:00')",
       1},
      {"INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,"
       "UserCharge,Total,MemberID) VALUES (57,7,12,'PC01','10:00','11:30','1:30',3.5,12,3,6.5,'M123')",
       1},
      {"UPDATE Session SET Date_ID=7,LineNo=12,PC_No='PC01',StartTime='10:00',EndTime='11:30',TotalTime='1:30',"
       "TotalGoods=3.5,User_ID=12,UserCharge=3,Total=6.5,MemberID='M123' WHERE Session_ID=57",
       1},
      {"INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime) VALUES (12,7,3,'Anne','','25/12/2003 "
       "08:00:00')",
       1},
      {"ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER", 0},
      {"ALTER TABLE Goods ADD COLUMN Goods_2 NUMBER", 0},
      {"INSERT INTO Goods (Date_ID,Session_ID,Goods_1,Goods_2) VALUES (7,57,1.5,0);", 1},
      {"UPDATE Goods SET Session_ID=57,Date_ID=7,Goods_1=2,Goods_2=0.25 WHERE Session_ID=57", 1},
      {"DELETE * FROM Goods WHERE Date_ID=8", 0},
  };
  for (const Step& step : vSteps) {
    int64_t lAffected = -1;
    EXPECT_NO_THROW(pConn->Execute(step.sSql, &lAffected, -1)) << step.sSql;
    EXPECT_EQ(lAffected, step.lAffected) << step.sSql;
  }

  // Values come back as they were written: texts stay texts, keys whole numbers.
  Recordset rs;
  rs.Open("SELECT * FROM Session", *pConn, adOpenDynamic, adLockReadOnly, -1);
  ASSERT_FALSE(rs.EOF_());
  EXPECT_EQ(rs.Fields("TotalTime"), Variant(std::string("1:30")));
  EXPECT_EQ(rs.Fields("session_id"), Variant(int64_t{57}));
  EXPECT_EQ(rs.Fields("Total"), Variant(6.5));
  EXPECT_EQ(rs.Fields("UserCharge"), Variant(3.0));
  rs.Close();
  rs.Open("SELECT * FROM User", *pConn);
  EXPECT_EQ(rs.Fields("UserName"), Variant(std::string("Member")));
  rs.Close();

  for (const char* pQuery : {"SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yy') ='25/12/03'",
                             "SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yyyy') ='25/12/2003'"}) {
    rs.Open(pQuery, *pConn);
    ASSERT_FALSE(rs.EOF_()) << pQuery;
    EXPECT_EQ(rs.Fields("Date_ID"), Variant(int64_t{7}));
    EXPECT_EQ(rs.Fields("LogDate"), Variant(std::string("25/12/2003")));
    EXPECT_EQ(rs.Fields("DateImported"), Variant(std::string("26/12/2003 09:15:00")));
    rs.Close();
  }
  rs.Open("SELECT MAX(Session_ID) AS [ID] FROM Session", *pConn);
  EXPECT_EQ(rs.Fields("ID"), Variant(int64_t{57}));
  rs.Close();
  EXPECT_EQ(SqlRows(sPath, "SELECT Goods_1, Goods_2 FROM Goods"), (std::vector<std::vector<std::string>>{{"2", "0.25"}}));

  // Deleting the date takes its sessions, shifts and goods with it.
  int64_t lAffected = 0;
  pConn->Execute("DELETE * FROM DateRange WHERE Date_ID=7", &lAffected);
  EXPECT_EQ(lAffected, 1);
  for (const char* pTable : {"DateRange", "Session", "Shift", "Goods"}) {
    EXPECT_EQ(SqlValue(sPath, std::string("SELECT COUNT(*) FROM ") + pTable), "0") << pTable;
  }
  EXPECT_EQ(SqlValue(sPath, "SELECT COUNT(*) FROM User"), "1");
}

TEST(ReportDatabase, FormatReadsStoredDatesDayFirstAndGivesNullForOtherValues) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pConn = NewReportDatabase(sPath);
  struct Case {
    std::string sStored;  // SQL literal
    Variant vShort;
    Variant vLong;
  };
  const Case vCases[] = {
      {"'25/12/2003'", std::string("25/12/03"), std::string("25/12/2003")},
      {"'05/01/2004 08:00:00'", std::string("05/01/04"), std::string("05/01/2004")},
      {"'2003-12-25'", std::string("25/12/03"), std::string("25/12/2003")},
      {"'1/2/99'", std::string("01/02/99"), std::string("01/02/1999")},
      {"'31/02/2003'", Null{}, Null{}},
      {"'not a date'", Null{}, Null{}},
      {"''", Null{}, Null{}},
      {"NULL", Null{}, Null{}},
  };
  int64_t lKey = 0;
  for (const Case& c : vCases) {
    ++lKey;
    pConn->Execute("INSERT INTO DateRange (Date_ID,LogDate) VALUES (" + NumText(lKey) + "," + c.sStored + ")");
    Recordset rs;
    rs.Open("SELECT Format(LogDate,'dd/mm/yy') AS S, Format(LogDate,'DD/MM/YYYY') AS L FROM DateRange WHERE Date_ID=" +
                NumText(lKey),
            *pConn);
    EXPECT_EQ(rs.Fields("S"), c.vShort) << c.sStored;
    EXPECT_EQ(rs.Fields("L"), c.vLong) << c.sStored;
  }
  Recordset rs;
  EXPECT_NE(ErrorOf([&] { rs.Open("SELECT Format(LogDate,'yyyy') FROM DateRange", *pConn); }).Number(), 0);
}

TEST(ReportDatabase, FailedStatementsCarryTheirNumberAndChangeNothing) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pConn = NewReportDatabase(sPath);
  pConn->Execute("INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (41,1,1)");
  SqlExec(sPath, "CREATE TRIGGER NoBadShift BEFORE INSERT ON Shift WHEN NEW.SignOn='bad' BEGIN SELECT RAISE(ABORT,'bad "
                 "shift'); END;");
  struct Case {
    std::string sSql;
    int32_t lNumber;
  };
  const Case vCases[] = {
      {"INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (41,2,2)", errDBUniqueKey},
      {"INSERT INTO Goods (Date_ID,Session_ID) VALUES (1,41)", 0},
      {"INSERT INTO Goods (Date_ID,Session_ID) VALUES (1,41)", errDBUniqueKey},
      {"INSERT INTO Shift (Shift_ID,SignOn) VALUES (1,'bad')", errDBStatement},
      {"INSERT INTO User (User_ID,UserName) VALUES (1,'It's')", errDBStatement},
      {"SELECT * FROM NoSuchTable", errDBStatement},
      {"", errDBStatement},
      {"   ", errDBStatement},
      {"INSERT INTO User VALUES (5,'x'); DROP TABLE Goods", errDBStatement},
  };
  uint64_t lFailures = pConn->FailureCount();
  for (const Case& c : vCases) {
    clsError err = ErrorOf([&] { pConn->Execute(c.sSql); });
    EXPECT_EQ(err.Number(), c.lNumber) << c.sSql << ": " << err.Description();
    if (c.lNumber != 0) {
      EXPECT_FALSE(err.Description().empty()) << c.sSql;
      EXPECT_EQ(pConn->FailureCount(), ++lFailures) << c.sSql;
    }
  }
  EXPECT_NE(ErrorOf([&] { pConn->Execute("INSERT INTO Session (Session_ID) VALUES (41)"); }).Description().find("UNIQUE"),
            std::string::npos);
  EXPECT_EQ(SqlValue(sPath, "SELECT COUNT(*) FROM User"), "0");
  EXPECT_EQ(SqlValue(sPath, "SELECT COUNT(*) FROM Shift"), "0");
  EXPECT_EQ(SqlValue(sPath, "SELECT COUNT(*) FROM sqlite_master WHERE name='Goods'"), "1");
  EXPECT_EQ(SqlValue(sPath, "SELECT Date_ID FROM Session WHERE Session_ID=41"), "1");
  // A quote doubled as the records write it stores the text exactly.
  pConn->Execute("INSERT INTO User (User_ID,USerName) VALUES (2,'" + SqlText("It's") + "')");
  EXPECT_EQ(SqlValue(sPath, "SELECT UserName FROM User WHERE User_ID=2"), "It's");
}

TEST(ReportDatabase, NestedTransactionsEndTheInnermostAndCommitOnlyAtTheOutermost) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pConn = NewReportDatabase(sPath);
  auto Users = [&] { return SqlRows(sPath, "SELECT User_ID FROM User ORDER BY User_ID"); };

  uint64_t lEpoch = pConn->SchemaEpoch();
  EXPECT_EQ(pConn->BeginTrans(), 1);
  EXPECT_NE(pConn->SchemaEpoch(), lEpoch);
  pConn->Execute("INSERT INTO User VALUES (1,'a')");
  EXPECT_EQ(pConn->BeginTrans(), 2);
  pConn->Execute("INSERT INTO User VALUES (2,'b')");
  lEpoch = pConn->SchemaEpoch();
  pConn->RollbackTrans();
  EXPECT_NE(pConn->SchemaEpoch(), lEpoch);
  EXPECT_EQ(pConn->TransactionDepth(), 1);
  EXPECT_EQ(pConn->BeginTrans(), 2);
  pConn->Execute("INSERT INTO User VALUES (3,'c')");
  lEpoch = pConn->SchemaEpoch();
  pConn->Execute("ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER");
  EXPECT_NE(pConn->SchemaEpoch(), lEpoch);
  pConn->CommitTrans();
  // Nothing is visible to others before the outermost commit.
  EXPECT_TRUE(Users().empty());
  lEpoch = pConn->SchemaEpoch();
  pConn->CommitTrans();
  EXPECT_EQ(pConn->SchemaEpoch(), lEpoch);
  EXPECT_EQ(pConn->TransactionDepth(), 0);
  EXPECT_EQ(Users(), (std::vector<std::vector<std::string>>{{"1"}, {"3"}}));
  EXPECT_EQ(SqlValue(sPath, "SELECT COUNT(*) FROM pragma_table_info('Goods') WHERE name='Goods_1'"), "1");

  pConn->BeginTrans();
  pConn->Execute("INSERT INTO User VALUES (4,'d')");
  pConn->BeginTrans();
  pConn->Execute("INSERT INTO User VALUES (5,'e')");
  pConn->CommitTrans();
  pConn->RollbackTrans();
  EXPECT_EQ(Users(), (std::vector<std::vector<std::string>>{{"1"}, {"3"}}));

  EXPECT_NE(ErrorOf([&] { pConn->CommitTrans(); }).Number(), 0);
  EXPECT_NE(ErrorOf([&] { pConn->RollbackTrans(); }).Number(), 0);
  EXPECT_EQ(pConn->TransactionDepth(), 0);
}

TEST(ReportDatabase, ATransactionTheEngineEndedRefusesEverythingUntilTheOutermostRollback) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pConn = NewReportDatabase(sPath);
  SqlExec(sPath, "CREATE TRIGGER EndAll BEFORE INSERT ON Shift WHEN NEW.SignOn='boom' BEGIN SELECT RAISE(ROLLBACK,'"
                 "ended'); END;");
  pConn->BeginTrans();
  pConn->Execute("INSERT INTO User VALUES (1,'a')");
  pConn->BeginTrans();
  pConn->Execute("INSERT INTO User VALUES (2,'b')");
  EXPECT_NE(ErrorOf([&] { pConn->Execute("INSERT INTO Shift (Shift_ID,SignOn) VALUES (1,'boom')"); }).Number(), 0);

  uint64_t lFailures = pConn->FailureCount();
  EXPECT_NE(ErrorOf([&] { pConn->Execute("INSERT INTO User VALUES (3,'c')"); }).Number(), 0);
  EXPECT_NE(ErrorOf([&] { pConn->Query("SELECT * FROM User"); }).Number(), 0);
  EXPECT_NE(ErrorOf([&] { pConn->CommitTrans(); }).Number(), 0);
  EXPECT_NE(ErrorOf([&] { pConn->BeginTrans(); }).Number(), 0);
  EXPECT_GT(pConn->FailureCount(), lFailures);
  EXPECT_EQ(pConn->TransactionDepth(), 2);
  pConn->RollbackTrans();
  // The inner rollback does not yet free the connection: the outer level was lost too.
  EXPECT_NE(ErrorOf([&] { pConn->CommitTrans(); }).Number(), 0);
  EXPECT_NE(ErrorOf([&] { pConn->Execute("INSERT INTO User VALUES (4,'d')"); }).Number(), 0);
  pConn->RollbackTrans();
  EXPECT_EQ(pConn->TransactionDepth(), 0);
  EXPECT_EQ(SqlValue(sPath, "SELECT COUNT(*) FROM User"), "0");

  // Usable again, and a new transaction commits normally.
  pConn->BeginTrans();
  pConn->Execute("INSERT INTO User VALUES (5,'e')");
  pConn->CommitTrans();
  EXPECT_EQ(SqlRows(sPath, "SELECT User_ID FROM User"), (std::vector<std::vector<std::string>>{{"5"}}));
}

TEST(ReportDatabase, ASecondWriterWaitsForTheFirstAndGivesUpAfterItsWait) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pFirst = NewReportDatabase(sPath);
  auto pSecond = NewReportDatabase(sPath, 1);
  pFirst->BeginTrans();
  pFirst->Execute("INSERT INTO User VALUES (1,'a')");
  auto tStart = std::chrono::steady_clock::now();
  clsError err = ErrorOf([&] { pSecond->BeginTrans(); });
  EXPECT_EQ(err.Number(), errDBFailure) << err.Description();
  EXPECT_GE(std::chrono::steady_clock::now() - tStart, std::chrono::milliseconds(900));
  EXPECT_EQ(pSecond->TransactionDepth(), 0);

  auto pPatient = NewReportDatabase(sPath, 20);
  std::thread writer([&] {
    pPatient->BeginTrans();
    pPatient->Execute("INSERT INTO User VALUES (2,'b')");
    pPatient->CommitTrans();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  pFirst->CommitTrans();
  writer.join();
  EXPECT_EQ(SqlRows(sPath, "SELECT User_ID FROM User ORDER BY 1"), (std::vector<std::vector<std::string>>{{"1"}, {"2"}}));
}

TEST(ReportDatabase, AKilledWriterLosesOnlyWhatItHadNotCommitted) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  NewReportDatabase(sPath)->Close();
  pid_t nChild = fork();
  ASSERT_GE(nChild, 0);
  if (nChild == 0) {
    auto pConn = NewReportDatabase(sPath);
    pConn->BeginTrans();
    pConn->Execute("INSERT INTO User VALUES (1,'kept')");
    pConn->CommitTrans();
    pConn->BeginTrans();
    pConn->Execute("INSERT INTO User VALUES (2,'lost')");
    pConn->Execute("UPDATE User SET UserName='changed' WHERE User_ID=1");
    kill(getpid(), SIGKILL);
  }
  int nStatus = 0;
  waitpid(nChild, &nStatus, 0);
  ASSERT_TRUE(WIFSIGNALED(nStatus));
  auto pConn = NewReportDatabase(sPath);
  QueryResult result = pConn->Query("SELECT User_ID, UserName FROM User");
  ASSERT_EQ(result.vRows.size(), 1u);
  EXPECT_EQ(result.vRows[0][1], Variant(std::string("kept")));
  EXPECT_EQ(pConn->Query("PRAGMA integrity_check").vRows[0][0], Variant(std::string("ok")));
}

TEST(ReportDatabase, RecordsetWalksRowsAndRefusesReadsWithoutACurrentRow) {
  TempFolder folder;
  std::string sPath = folder / "r.mdb";
  auto pConn = NewReportDatabase(sPath);
  Recordset rs;
  rs.Open("SELECT * FROM Goods", *pConn, adOpenDynamic, adLockOptimistic, -1);
  EXPECT_TRUE(rs.EOF_());
  EXPECT_TRUE(rs.BOF());
  ASSERT_EQ(rs.FieldCount(), 2);
  EXPECT_EQ(rs.FieldName(0), "Date_ID");
  EXPECT_EQ(rs.FieldName(1), "Session_ID");
  EXPECT_EQ(ErrorOf([&] { rs.Fields("Date_ID"); }).Number(), 3021);
  EXPECT_EQ(ErrorOf([&] { rs.MoveLast(); }).Number(), 3021);
  EXPECT_EQ(ErrorOf([&] { rs.FieldName(2); }).Number(), 3265);
  rs.Close();

  for (int64_t lKey : {3, 1, 2}) pConn->Execute("INSERT INTO User VALUES (" + NumText(lKey) + ",NULL)");
  rs.Open("SELECT * FROM User ORDER BY User_ID", *pConn);
  std::vector<Variant> vKeys;
  for (; !rs.EOF_(); rs.MoveNext()) vKeys.push_back(rs.Fields("USER_ID"));
  EXPECT_EQ(vKeys, (std::vector<Variant>{int64_t{1}, int64_t{2}, int64_t{3}}));
  EXPECT_EQ(ErrorOf([&] { rs.MoveNext(); }).Number(), 3021);
  EXPECT_EQ(ErrorOf([&] { rs.Fields("UserName"); }).Number(), 3021);
  rs.MoveLast();
  EXPECT_EQ(rs.Fields("User_ID"), Variant(int64_t{3}));
  EXPECT_TRUE(rs.Fields("UserName").IsNull());
  EXPECT_EQ(ErrorOf([&] { rs.Fields("Nothing"); }).Number(), 3265);
  rs.MoveFirst();
  EXPECT_EQ(rs.Fields("User_ID"), Variant(int64_t{1}));
  rs.Close();
  EXPECT_EQ(ErrorOf([&] { rs.EOF_(); }).Number(), 3704);

  pConn->Close();
  EXPECT_EQ(pConn->State(), adStateClosed);
  EXPECT_NE(ErrorOf([&] { rs.Open("SELECT * FROM User", *pConn); }).Number(), 0);
}

TEST(ReportDatabase, TraceFileHoldsEveryStatementOnItsOwnLine) {
  TempFolder folder;
  std::string sTrace = folder / "trace.sql";
  GlobalDatabaseSettings().sTraceFile = sTrace;
  clsAccessDatabase database;
  database.OpenDatabase(folder / "r.mdb");
  GlobalDatabaseSettings() = DatabaseSettings{};
  auto pConn = database.GetConnection();
  pConn->Execute("INSERT INTO User VALUES (1,'a')");
  pConn->BeginTrans();
  pConn->Execute("INSERT INTO User\r\nVALUES (2,'b\\c')");
  pConn->CommitTrans();
  EXPECT_ANY_THROW(pConn->Execute("SELECT * FROM Nowhere"));
  Recordset rs;
  rs.Open("SELECT * FROM User", *pConn);
  EXPECT_EQ(ReadFile(sTrace),
            "INSERT INTO User VALUES (1,'a')\n"
            "INSERT INTO User\\r\\nVALUES (2,'b\\\\c')\n"
            "SELECT * FROM Nowhere\n"
            "SELECT * FROM User\n");
  // The trace setting belongs to databases opened while it was set.
  clsAccessDatabase other;
  other.OpenDatabase(folder / "s.mdb");
  other.GetConnection()->Execute("INSERT INTO User VALUES (1,'a')");
  EXPECT_EQ(Split(ReadFile(sTrace), "\n").size(), 5u);
}

TEST(ReportDatabase, OpeningAnotherDatabaseClosesTheFirstConnection) {
  TempFolder folder;
  clsAccessDatabase database;
  database.OpenDatabase(folder / "a.mdb");
  auto pFirst = database.GetConnection();
  EXPECT_EQ(database.GetConnection(), pFirst);
  database.OpenDatabase(folder / "b.mdb");
  EXPECT_EQ(pFirst->State(), adStateClosed);
  database.GetConnection()->Execute("INSERT INTO User VALUES (1,'b')");
  EXPECT_EQ(SqlValue(folder / "b.mdb", "SELECT COUNT(*) FROM User"), "1");
  EXPECT_EQ(SqlValue(folder / "a.mdb", "SELECT COUNT(*) FROM User"), "0");
  // A failed open leaves nothing connected, not the earlier database.
  EXPECT_ANY_THROW(database.OpenDatabase(folder.Path().string()));
  EXPECT_FALSE(database.Connected());
}

TEST(SignOn, OpensOrCreatesTheNamedDatabase) {
  auto pScreen = test::UseRecordingUI();
  TempFolder folder;
  clsConnection connection;
  EXPECT_EQ(ErrorOf([&] { connection.IsConnected(); }).Number(), errObjectNotSet);
  EXPECT_EQ(ErrorOf([&] { connection.DBConnection(); }).Number(), errObjectNotSet);
  EXPECT_TRUE(connection.SignOn(folder / "varnrpt.mdb"));
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_EQ(connection.DBConnection(), connection.DBConnection());
  EXPECT_TRUE(pScreen->mvBoxes.empty());
  EXPECT_EQ(pScreen->mvPointers, (std::vector<int>{vbHourglass, vbDefault}));
  EXPECT_EQ(SqlValue(folder / "varnrpt.mdb", "SELECT COUNT(*) FROM sqlite_master WHERE type='table'"), "5");
}

TEST(SignOn, ABlankPathOpensTheDatabaseBesideTheComponent) {
  auto pScreen = test::UseRecordingUI();
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  ASSERT_FALSE(ec);
  EXPECT_EQ(ComponentFolder(), exe.parent_path().string());
  EXPECT_EQ(DefaultDatabasePath(), exe.parent_path().string() + "/varnrpt.mdb");
  bool bExisted = std::filesystem::exists(DefaultDatabasePath());
  for (const char* pBlank : {"", "   "}) {
    clsConnection connection;
    EXPECT_TRUE(connection.SignOn(pBlank)) << "[" << pBlank << "]";
    EXPECT_TRUE(connection.IsConnected());
    connection.DBConnection()->Close();
  }
  clsConnection omitted;
  EXPECT_TRUE(omitted.SignOn());
  omitted.DBConnection()->Close();
  EXPECT_TRUE(pScreen->mvBoxes.empty());
  EXPECT_TRUE(std::filesystem::exists(DefaultDatabasePath()));
  if (!bExisted) std::filesystem::remove(DefaultDatabasePath());
}

// Files that are no report database, and paths that name no file: one report each, ending
// in "Error openning Conetion", and nothing created or changed.
TEST(SignOn, AFileThatIsNoReportDatabaseIsReportedOnceAndLeftAlone) {
  TempFolder folder;
  std::string sGood = folder / "good.mdb";
  NewReportDatabase(sGood)->Close();
  std::string sReadOnly = folder / "readonly.mdb";
  std::filesystem::copy_file(sGood, sReadOnly);
  chmod(sReadOnly.c_str(), 0444);
  std::string sPasswd = folder / "passwd";
  std::filesystem::copy_file("/etc/passwd", sPasswd);
  std::string sForeign = folder / "foreign.db";
  MakeForeignDatabase(sForeign);
  std::string sEmpty = WriteFile(folder / "empty.mdb", "");
  std::string sDamaged = WriteFile(folder / "damaged.mdb", ReadFile(sGood).substr(0, 100) + std::string(4000, 'x'));
  std::filesystem::create_directory(folder / "sub");
  std::map<std::string, std::string> bytesBefore;
  for (const std::string& sName : FilesIn(folder.Path())) {
    if (sName != "sub") bytesBefore[sName] = ReadFile(folder / sName);
  }

  struct Case {
    std::string sPath;
    std::string sReason;  // a part of the description
  };
  const Case vCases[] = {
      {folder / "sub", "folder"},
      {folder.Path().string() + "/", "folder"},
      {folder / "missing/varnrpt.mdb", "does not exist"},
      {sPasswd, "not a report database"},
      {sReadOnly, "read-only"},
      {sForeign, "no table DateRange"},
      {sEmpty, "not a report database"},
      {sDamaged, "not a report database"},
      {"  " + sGood + "  ", "does not exist"},
      {sGood + " ", "blanks"},
  };
  for (const Case& c : vCases) {
    auto pScreen = test::UseRecordingUI();
    clsConnection connection;
    EXPECT_FALSE(connection.SignOn(c.sPath)) << c.sPath;
    EXPECT_FALSE(connection.IsConnected()) << c.sPath;
    EXPECT_EQ(ErrorOf([&] { connection.DBConnection(); }).Number(), errObjectNotSet);
    ASSERT_EQ(pScreen->mvBoxes.size(), 1u) << c.sPath;
    const auto& box = pScreen->mvBoxes[0];
    EXPECT_EQ(box.nStyle, vbOKOnly + vbCritical);
    EXPECT_EQ(box.sTitle, "Varn Log Process");
    std::vector<std::string> vLines = Split(box.sPrompt, "\r\n");
    ASSERT_EQ(vLines.size(), 5u) << box.sPrompt;
    EXPECT_EQ(vLines[0], NumText(int64_t{errDBFailure}));
    EXPECT_EQ(vLines[1], "01/clsConnection:SignOn");
    EXPECT_NE(vLines[2].find(c.sPath), std::string::npos) << vLines[2];
    EXPECT_NE(vLines[2].find(c.sReason), std::string::npos) << vLines[2];
    EXPECT_EQ(vLines[3], "");
    EXPECT_EQ(vLines[4], "Error openning Conetion");
    EXPECT_EQ(pScreen->MousePointer(), vbDefault);
  }
  std::map<std::string, std::string> bytesAfter;
  for (const std::string& sName : FilesIn(folder.Path())) {
    if (sName != "sub") bytesAfter[sName] = ReadFile(folder / sName);
  }
  EXPECT_EQ(bytesAfter, bytesBefore);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Path() / "sub"));

  // The same object signs on once it is given a good path.
  auto pScreen = test::UseRecordingUI();
  clsConnection connection;
  EXPECT_FALSE(connection.SignOn(sPasswd));
  EXPECT_TRUE(connection.SignOn(sGood));
  EXPECT_TRUE(connection.IsConnected());
  EXPECT_EQ(pScreen->mvBoxes.size(), 1u);
}

}  // namespace
}  // namespace varn
