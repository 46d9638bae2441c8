// The report database on a PostgreSQL server: the same logs give the same rows as in an SQLite
// file, statements fail and roll back as they do there, and importers queue for the server.
// The server comes from VARN_PG_URI (ctest starts a throwaway one with tests/pg_server.sh);
// without it every test fails.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "db/clsAccessDatabase.h"
#include "records/clsItemSession.h"
#include "service/clsLogAnalysis.h"
#include "tests/RecordTestSupport.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

std::string ServerUri() {
  const char* pUri = std::getenv("VARN_PG_URI");
  if (!pUri || !*pUri) throw std::runtime_error("VARN_PG_URI is not set: ctest starts a server (tests/pg_server.sh)");
  return pUri;
}

// The server's URI with another database name.
std::string UriOf(const std::string& sDatabase) {
  std::string sUri = ServerUri();
  size_t nQuery = std::min(sUri.find('?'), sUri.size());
  size_t nPath = std::min(sUri.find('/', sUri.find("://") + 3), nQuery);
  return sUri.substr(0, nPath) + "/" + sDatabase + sUri.substr(nQuery);
}

// Rows of statements run with libpq itself, every value as the server's text ("NULL" for null).
Rows ServerRows(const std::string& sUri, const std::string& sSql) {
  PGconn* pConn = PQconnectdb(sUri.c_str());
  PGresult* pResult = PQexec(pConn, sSql.c_str());
  ExecStatusType eStatus = PQresultStatus(pResult);
  Rows vRows;
  for (int nRow = 0; nRow < PQntuples(pResult); ++nRow) {
    vRows.emplace_back();
    for (int n = 0; n < PQnfields(pResult); ++n) {
      vRows.back().push_back(PQgetisnull(pResult, nRow, n) ? "NULL" : PQgetvalue(pResult, nRow, n));
    }
  }
  std::string sError = PQerrorMessage(pConn);
  PQclear(pResult);
  PQfinish(pConn);
  if (eStatus != PGRES_TUPLES_OK && eStatus != PGRES_COMMAND_OK) throw std::runtime_error(sSql + ": " + sError);
  return vRows;
}

// A database of its own on the test server for one test, dropped afterwards.
class ServerDatabase {
 public:
  ServerDatabase() : msName("varn_test_" + std::to_string(getpid()) + "_" + std::to_string(++snCount)) {
    ServerRows(ServerUri(), "CREATE DATABASE " + msName);
  }
  ~ServerDatabase() {
    try {
      ServerRows(ServerUri(), "DROP DATABASE IF EXISTS " + msName + " WITH (FORCE)");
    } catch (const std::exception&) {  // a server that is gone took the database with it
    }
  }
  ServerDatabase(const ServerDatabase&) = delete;
  ServerDatabase& operator=(const ServerDatabase&) = delete;

  std::string Uri() const { return UriOf(msName); }
  Rows Query(const std::string& sSql) const { return ServerRows(Uri(), sSql); }
  std::string Value(const std::string& sSql) const {
    auto vRows = Query(sSql);
    return vRows.empty() ? "" : vRows[0].at(0);
  }

 private:
  static inline int snCount = 0;
  std::string msName;
};

std::shared_ptr<Connection> Open(const std::string& sPath) {
  clsAccessDatabase database;
  database.OpenDatabase(sPath);
  return database.GetConnection();
}

// A value in one form for both engines: numbers and texts as the component writes them, a
// date as its default text whether the engine hands it back with a midnight time or without.
std::string Normal(const Variant& value) {
  if (value.IsNull()) return "NULL";
  std::string sText = value.ToText();
  auto date = ParseDate(sText);
  return date ? CStr(*date) : sText;
}

// A query's column names and rows as the component reads them.
Texts Normalised(const QueryResult& result) {
  std::string sHeader;
  for (const auto& sColumn : result.vColumns) sHeader += sColumn + "|";
  Texts vLines{sHeader};
  for (const auto& vRow : result.vRows) {
    std::string sLine;
    for (size_t n = 0; n < vRow.size(); ++n) {
      // The time of the import differs between two imports; that it is a date is what counts.
      bool bWhen = result.vColumns[n] == "DateImported" && ParseDate(vRow[n].ToText());
      sLine += (bWhen ? "a date" : Normal(vRow[n])) + "|";
    }
    vLines.push_back(sLine);
  }
  return vLines;
}

Texts Tables(const std::string& sPath) {
  auto pConnection = Open(sPath);
  Texts vAll;
  for (const char* pTable : {"DateRange ORDER BY Date_ID", "Session ORDER BY Session_ID", "Goods ORDER BY Session_ID",
                             "Shift ORDER BY Shift_ID", "User ORDER BY User_ID"}) {
    vAll.push_back(std::string("-- ") + pTable);
    for (auto& sLine : Normalised(pConnection->Query(std::string("SELECT * FROM ") + pTable))) vAll.push_back(sLine);
  }
  return vAll;
}

std::string WriteLog(const TempFolder& folder, const std::string& sName, const Texts& vLines) {
  std::string sText;
  for (const auto& sLine : vLines) sText += sLine + "\r\n";
  return WriteFile(folder / sName, sText);
}

class PostgresImport : public ::testing::Test {
 protected:
  void SetUp() override { mpScreen = UseRecordingUI(); }
  void TearDown() override { gobjLogAnalysis.reset(); }

  // The same files imported into both databases, each answer given to each; both must show
  // the same boxes.
  void ImportIntoBoth(const Texts& vFiles, const std::vector<int>& vAnswers = {}) {
    std::vector<Texts> vShown;
    for (const std::string& sDb : {msSqlite, mServer.Uri()}) {
      for (int nAnswer : vAnswers) mpScreen->AnswerNext(nAnswer);
      size_t nFirst = mpScreen->mvBoxes.size();
      auto pService = clsLogAnalysis::Create();
      pService->Initialize(sDb);
      for (const auto& sFile : vFiles) EXPECT_TRUE(pService->ProcessLogFile(sFile)) << sFile << " into " << sDb;
      vShown.emplace_back();
      for (size_t n = nFirst; n < mpScreen->mvBoxes.size(); ++n) vShown.back().push_back(mpScreen->mvBoxes[n].sPrompt);
    }
    EXPECT_EQ(vShown[1], vShown[0]);
  }

  TempFolder mFolder;
  std::string msSqlite = mFolder / "varnrpt.mdb";
  ServerDatabase mServer;
  std::shared_ptr<clsRecordingUI> mpScreen;
};

TEST_F(PostgresImport, TheSameLogsGiveTheSameRowsAsInAnSqliteFile) {
  std::filesystem::copy_file(SourceDir() + "/examples/14-03-2024.log", mFolder / "14-03-2024.log");
  std::filesystem::copy_file(SourceDir() + "/tests/data/day-03-02-2025.log", mFolder / "03-02-2025.log");
  Texts vQuoted{"#05/02/2025#",
                ">> 05.02.2025 08:00:00 Sign On: O'Hara",
                "\"PC'Kid's corner,08:10,09:00,0:50|1.00,2.00|O'Brien:1.50,4.50,M'1\"",
                "\"PC01,09:00,10:00,1:00|,,,,,,,0.50|User:2.00,2.50\"",
                "<< 05.02.2025 12:00:00 Sign Off: O'Hara",
                "End Total 7"};
  std::string sQuoted = WriteLog(mFolder, "05-02-2025.log", vQuoted);
  ImportIntoBoth({mFolder / "14-03-2024.log", mFolder / "03-02-2025.log", sQuoted});
  Texts vTables = Tables(msSqlite);
  EXPECT_EQ(Tables(mServer.Uri()), vTables);
  EXPECT_EQ(mServer.Query("SELECT signon FROM shift WHERE signon LIKE '%''%'"), (Rows{{"O'Hara"}}));
  EXPECT_EQ(mServer.Query("SELECT pc_no, memberid FROM session WHERE pc_no LIKE '%Kid%'"), (Rows{{"PC'Kid's corner", "M'1"}}));
  EXPECT_EQ(mServer.Value("SELECT logdate FROM daterange WHERE date_id = 3"), "2025-02-05");

  // An update with a changed amount and a new line, then a deleted date with its rows.
  vQuoted.insert(vQuoted.begin() + 4, "\"PC02,10:30,11:00,0:30|0.80|Guest:1.00,1.80\"");
  vQuoted[3] = "\"PC01,09:00,10:00,1:00|,,,,,,,0.50|User:3.00,3.50\"";
  WriteLog(mFolder, "05-02-2025.log", vQuoted);
  ImportIntoBoth({sQuoted}, {vbYes});
  for (const std::string& sDb : {msSqlite, mServer.Uri()}) {
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(sDb);
    EXPECT_TRUE(pService->DeleteLogDate("03/02/2025"));
  }
  EXPECT_NE(Tables(msSqlite), vTables);
  EXPECT_EQ(Tables(mServer.Uri()), Tables(msSqlite));
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM session WHERE date_id = 2"), "0");
}

TEST_F(PostgresImport, AFailedWriteRollsTheWholeImportBack) {
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(mServer.Uri());
  mServer.Query(
      "CREATE FUNCTION refuse_late_shift() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
      "IF NEW.lineno > 15 THEN RAISE EXCEPTION 'shift refused'; END IF; RETURN NEW; END $$; "
      "CREATE TRIGGER refuse_late_shift BEFORE INSERT ON shift FOR EACH ROW EXECUTE FUNCTION refuse_late_shift()");
  std::string sLog = mFolder / "14-03-2024.log";
  std::filesystem::copy_file(SourceDir() + "/examples/14-03-2024.log", sLog);
  Texts vBefore = Tables(mServer.Uri());

  EXPECT_FALSE(pService->ProcessLogFile(sLog));
  EXPECT_NE(mpScreen->mvBoxes.back().sPrompt.find("shift refused"), std::string::npos);
  // No date, no users, no goods columns: the added columns went with the transaction.
  EXPECT_EQ(Tables(mServer.Uri()), vBefore);
  EXPECT_EQ(pService->HistoryLogDates()->Count(), 0);

  mServer.Query("DROP TRIGGER refuse_late_shift ON shift");
  ASSERT_TRUE(pService->ProcessLogFile(sLog));
  EXPECT_EQ(mServer.Query("SELECT count(*), min(session_id) FROM session"), (Rows{{"42", "2"}}));
  EXPECT_EQ(mServer.Value("SELECT date_id FROM daterange"), "1");
}

// Statements run on both engines, read back through the component, compared.
TEST(PostgresDialect, StatementsOfTheReportDialectRunAsInAnSqliteFile) {
  UseRecordingUI();
  TempFolder folder;
  ServerDatabase server;
  auto pFile = Open(folder / "r.mdb");
  auto pServer = Open(server.Uri());
  const Texts vSteps = {
      "INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (1,'25/12/2003',12.5,'25/12/2003 08:00:00')",
      "INSERT INTO DateRange (Date_ID,LogDate,DateTotal,DateImported) VALUES (2,'26/12/2003',0,'26/12/2003')",
      "SELECT * FROM DateRange WHERE Format(LogDate,'dd/mm/yy') ='25/12/03'",
      "SELECT Date_ID FROM DateRange WHERE Format(DateImported,'dd/mm/yyyy') ='26/12/2003'",
      "SELECT MAX(Date_ID) AS [ID] FROM DateRange",
      "INSERT INTO User (User_ID,USerName) VALUES (1,'O''Brien')",
      "INSERT INTO user (user_id,username) VALUES (2,'User [x]; DELETE * FROM Goods -- NUMBER')",
      "SELECT * FROM User",
      "ALTER TABLE Goods ADD COLUMN Goods_1 NUMBER",
      "INSERT INTO Goods (Date_ID,Session_ID,Goods_1) VALUES (1,7,2.5);",
      "INSERT INTO Goods (Date_ID,Session_ID,Goods_1) VALUES (2,8,0)",
      "INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No,StartTime,EndTime,TotalTime,TotalGoods,User_ID,UserCharge,"
      "Total,MemberID) VALUES (7,1,3,'PC01','09:00','09:53','0:53',2.5,1,1,3.5,' ')",
      "INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime) VALUES (1,1,2,'Olga','','25/12/2003 08:55:12')",
      "SELECT * FROM Goods ORDER BY Session_ID",
      "SELECT session_id, LINENO, pc_No FROM SESSION",
      "DELETE * FROM DateRange WHERE Date_ID=1",
      "SELECT COUNT(*) AS [N] FROM Goods",
      "SELECT * FROM Shift",
      "SELECT * FROM DateRange",
  };
  for (const std::string& sStep : vSteps) {
    if (StartsWith(sStep, "SELECT")) {
      EXPECT_EQ(Normalised(pServer->Query(sStep)), Normalised(pFile->Query(sStep))) << sStep;
    } else {
      int64_t lFile = -1, lServer = -2;
      pFile->Execute(sStep, &lFile);
      pServer->Execute(sStep, &lServer);
      EXPECT_EQ(lServer, lFile) << sStep;
    }
  }
  // A bare alias is folded like any unquoted name; the recordset finds fields in any case.
  EXPECT_EQ(pServer->Query("SELECT COUNT(*) AS N FROM Goods").vColumns, Texts{"n"});
  EXPECT_EQ(server.Query("SELECT username FROM \"user\" ORDER BY 1"),
            (Rows{{"O'Brien"}, {"User [x]; DELETE * FROM Goods -- NUMBER"}}));
  EXPECT_EQ(server.Value("SELECT data_type FROM information_schema.columns WHERE column_name = 'goods_1'"),
            "double precision");
}

int32_t ErrorOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const clsError& err) {
    return err.Number();
  }
  return 0;
}

// Inside a transaction a failed statement leaves the rest of it going, nested levels end the
// innermost, and the numbers are the same on both engines.
TEST(PostgresDialect, FailuresInsideTransactionsBehaveAsInAnSqliteFile) {
  UseRecordingUI();
  TempFolder folder;
  ServerDatabase server;
  const std::string sInsert = "INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (";
  struct Refusal {
    std::string sSql;
    int32_t lNumber;
  };
  const std::vector<Refusal> vRefusals = {
      {sInsert + "1,1,1,'again')", errDBUniqueKey},
      {"SELECT * FROM Nowhere", errDBStatement},
      {"SELECT 1; DELETE FROM Shift", errDBStatement},
      {"SELECT E'\\''; DELETE FROM Shift; --'", errDBStatement},
      {"SELECT $$;$$; DELETE FROM Shift", errDBStatement},
      {"SELECT * FROM", errDBStatement},
      {"-- a comment alone", errDBStatement},
      {"INSERT INTO Shift (Shift_ID) VALUES ('x')", errDBStatement},
      {"", errDBStatement},
  };
  for (const std::string& sDb : {folder / "r.mdb", server.Uri()}) {
    SCOPED_TRACE(sDb);
    auto pConnection = Open(sDb);
    pConnection->BeginTrans();
    pConnection->Execute(sInsert + "1,1,1,'kept')");
    for (const auto& refusal : vRefusals) {
      EXPECT_EQ(ErrorOf([&] { pConnection->Execute(refusal.sSql); }), refusal.lNumber) << refusal.sSql << " on " << sDb;
    }
    pConnection->Execute(sInsert + "2,1,2,'after the failures')");
    pConnection->BeginTrans();
    pConnection->Execute(sInsert + "3,1,3,'undone')");
    EXPECT_EQ(ErrorOf([&] { pConnection->Execute(sInsert + "2,1,2,'twice')"); }), errDBUniqueKey);
    pConnection->RollbackTrans();
    pConnection->BeginTrans();
    pConnection->Execute(sInsert + "4,1,4,'nested')");
    pConnection->CommitTrans();
    pConnection->CommitTrans();
    EXPECT_EQ(Normalised(pConnection->Query("SELECT Shift_ID, SignOn FROM Shift ORDER BY Shift_ID")),
              (Texts{"Shift_ID|SignOn|", "1|kept|", "2|after the failures|", "4|nested|"}))
        << sDb;
  }
}

TEST(PostgresDialect, AConnectionTheServerEndsRefusesTheRestOfItsTransaction) {
  UseRecordingUI();
  ServerDatabase server;
  auto pConnection = Open(server.Uri());
  pConnection->BeginTrans();
  pConnection->Execute("INSERT INTO User (User_ID,UserName) VALUES (1,'lost')");
  auto pid = pConnection->Query("SELECT pg_backend_pid()").vRows.at(0).at(0).ToText();
  server.Query("SELECT pg_terminate_backend(" + pid + ")");
  EXPECT_EQ(ErrorOf([&] { pConnection->Execute("INSERT INTO User (User_ID,UserName) VALUES (2,'x')"); }), errDBFailure);
  EXPECT_EQ(ErrorOf([&] { pConnection->CommitTrans(); }), errDBFailure);
  pConnection->RollbackTrans();
  EXPECT_EQ(server.Value("SELECT count(*) FROM \"user\""), "0");
}

// The session writer's one retry on a key the server already holds, in the import's transaction.
TEST(PostgresRecords, TheSessionInsertTakesTheNextKeyWhenTheServerHoldsIt) {
  auto pScreen = UseRecordingUI();
  ServerDatabase server;
  auto pService = UseTestService(server.Uri());
  FixedUsers users;
  users.mKeys = {{"Guest", 4}};
  pService->mpUsers = &users;
  {
    TransactionGuard transaction(SharedConnection());
    SharedConnection().Execute("INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No) VALUES (57,1,1,'PC09')");
    clsItemSession session;
    session.Session_ID(57);
    session.Date_ID(3);
    session.LineNo(Int16(12));
    ASSERT_TRUE(session.SetUp("PC01,10:00,11:30,1:30|1.50,,2.00|Guest:3.00,6.50,M123", enuInsert));
    ASSERT_TRUE(session.DBUpdate(enuInsert));
    EXPECT_EQ(session.Session_ID(), 58);
    transaction.Commit();
  }
  EXPECT_TRUE(pScreen->mvBoxes.empty());
  EXPECT_EQ(server.Query("SELECT session_id, date_id, pc_no FROM session ORDER BY 1"),
            (Rows{{"57", "1", "PC09"}, {"58", "3", "PC01"}}));
  EXPECT_EQ(server.Query("SELECT session_id, goods_1, goods_3 FROM goods"), (Rows{{"58", "1.5", "2"}}));
  gobjLogAnalysis.reset();
}

std::string Varnlog() { return std::string(std::getenv("VARN_BINARY_DIR")) + "/varnlog"; }

// The command line in a process of its own, its output in sOutput.
pid_t Start(const Texts& vArgs, const std::string& sOutput) {
  pid_t pid = fork();
  if (pid == 0) {
    FILE* pOut = std::freopen(sOutput.c_str(), "w", stdout);
    if (pOut) dup2(fileno(stdout), STDERR_FILENO);
    std::freopen("/dev/null", "r", stdin);
    std::vector<char*> vArgv;
    std::string sProgram = Varnlog();
    vArgv.push_back(sProgram.data());
    for (const auto& sArg : vArgs) vArgv.push_back(const_cast<char*>(sArg.c_str()));
    vArgv.push_back(nullptr);
    execv(sProgram.c_str(), vArgv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int nStatus = 0;
  waitpid(pid, &nStatus, 0);
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

bool Running(pid_t pid) {
  int nStatus = 0;
  return waitpid(pid, &nStatus, WNOHANG) == 0;
}

// A day's log of nSessions sessions.
Texts DayLines(int nDay, int nSessions) {
  std::string sDate = (nDay < 10 ? "0" : "") + std::to_string(nDay) + "/01/2025";
  Texts vLines{"#" + sDate + "#", ">> " + sDate + " 08:00:00 Sign On: Shop"};
  for (int n = 1; n <= nSessions; ++n) {
    vLines.push_back("\"PC" + std::to_string(n % 12) + ",09:00,10:00,1:00|1.00,,2.00|Guest:2.00,5.00,M" +
                     std::to_string(nDay * 100 + n) + "\"");
  }
  return vLines;
}

std::string LogName(int nDay) { return (nDay < 10 ? "0" : "") + std::to_string(nDay) + "-01-2025.log"; }

TEST(PostgresImporters, ImportersQueueForTheServerAndReportsReadMeanwhile) {
  UseRecordingUI();
  TempFolder folder;
  ServerDatabase server;
  std::filesystem::create_directories(folder / "shopA");
  std::filesystem::create_directories(folder / "shopB");
  for (int nDay = 1; nDay <= 8; ++nDay) {
    WriteLog(folder, (nDay <= 4 ? "shopA/" : "shopB/") + LogName(nDay), DayLines(nDay, 60));
  }
  ASSERT_EQ(Wait(Start({"--db", server.Uri(), "init"}, folder / "init.out")), 0) << ReadFile(folder / "init.out");

  // While another writer holds the database an import waits, a report reads, and an import
  // that may not wait that long gives up with nothing written.
  auto pHolder = Open(server.Uri());
  pHolder->BeginTrans();
  pid_t waiting = Start({"--db", server.Uri(), "import", folder / "shopA"}, folder / "a.out");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(Running(waiting));
  EXPECT_EQ(server.Value("SELECT count(*) FROM daterange"), "0");
  EXPECT_EQ(Wait(Start({"--db", server.Uri(), "history"}, folder / "history.out")), 0);
  EXPECT_EQ(Wait(Start({"--wait", "1", "--db", server.Uri(), "import", folder / "shopB"}, folder / "b.out")), 1);
  EXPECT_NE(ReadFile(folder / "b.out").find("Another import holds the report database"), std::string::npos)
      << ReadFile(folder / "b.out");
  pHolder->CommitTrans();
  EXPECT_EQ(Wait(waiting), 0) << ReadFile(folder / "a.out");
  EXPECT_EQ(server.Value("SELECT count(*) FROM daterange"), "4");

  // Two shops at the same moment: both complete, nothing stored twice.
  server.Query("TRUNCATE daterange, session, goods, shift, \"user\"");
  pid_t shopA = Start({"--db", server.Uri(), "import", folder / "shopA"}, folder / "a.out");
  pid_t shopB = Start({"--db", server.Uri(), "import", folder / "shopB"}, folder / "b.out");
  EXPECT_EQ(Wait(shopA), 0) << ReadFile(folder / "a.out");
  EXPECT_EQ(Wait(shopB), 0) << ReadFile(folder / "b.out");
  EXPECT_EQ(server.Query("SELECT count(*), count(DISTINCT logdate), max(date_id) FROM daterange"),
            (Rows{{"8", "8", "8"}}));
  EXPECT_EQ(server.Query("SELECT count(*), count(DISTINCT (date_id, lineno)), count(DISTINCT memberid) FROM session"),
            (Rows{{"480", "480", "480"}}));
  // Every session sits under the date of its own file.
  EXPECT_EQ(server.Value("SELECT count(*) FROM session s JOIN daterange d USING (date_id) "
                         "WHERE substr(s.memberid, 2)::int / 100 <> extract(day FROM d.logdate)"),
            "0");
  EXPECT_EQ(server.Value("SELECT count(*) FROM \"user\""), "1");
}

TEST(PostgresOpening, ADatabaseOfOtherTablesOrNoServerIsRefusedAndLeftAsItWas) {
  auto pScreen = UseRecordingUI();
  ServerDatabase foreign;
  foreign.Query("CREATE TABLE session (id integer)");
  ServerDatabase reshaped;
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(reshaped.Uri());
  ASSERT_TRUE(pService->IsConnected());
  pService.reset();
  gobjLogAnalysis.reset();
  reshaped.Query("ALTER TABLE shift ALTER COLUMN signdatetime TYPE text");

  struct Case {
    std::string sUri;
    std::string sWhy;
  };
  const std::vector<Case> vCases = {
      {foreign.Uri(), "is not a report database (no table DateRange); nothing in it was changed"},
      {reshaped.Uri(), "is not a report database (the column Shift.SignDateTime is not a date)"},
      {"postgresql://varn@127.0.0.1:1/none", "cannot be opened: "},
  };
  for (const auto& test : vCases) {
    auto pRefused = clsLogAnalysis::Create();
    pRefused->Initialize(test.sUri);
    EXPECT_FALSE(pRefused->IsConnected());
    ASSERT_FALSE(pScreen->mvBoxes.empty());
    const std::string& sBox = pScreen->mvBoxes.back().sPrompt;
    EXPECT_EQ(sBox.rfind("-2147467259\r\n01/clsConnection:SignOn\r\n", 0), 0u) << sBox;
    EXPECT_NE(sBox.find(test.sWhy), std::string::npos) << sBox;
    EXPECT_NE(sBox.find("\r\n\r\nError openning Conetion"), std::string::npos) << sBox;
    gobjLogAnalysis.reset();
  }
  EXPECT_EQ(foreign.Query("SELECT tablename FROM pg_tables WHERE schemaname = 'public'"), (Rows{{"session"}}));
  EXPECT_EQ(reshaped.Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"), "5");
}

}  // namespace
}  // namespace varn::test
