// The report database on a PostgreSQL server: the same logs give the same rows as in an SQLite
// file, statements fail and roll back as they do there, and importers queue for the server.
// The server comes from VARN_PG_URI (ctest starts a throwaway one with tests/pg_server.sh);
// without it every test fails.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "db/clsAccessDatabase.h"
#include "records/clsItemSession.h"
#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

// The test server's URI, with another database name when one is given.
std::string UriOf(const std::string& sDatabase = {}) {
  const char* pUri = std::getenv("VARN_PG_URI");
  if (!pUri || !*pUri) throw std::runtime_error("VARN_PG_URI is not set: ctest starts a server (tests/pg_server.sh)");
  std::string sUri = pUri;
  size_t nPath = sUri.find('/', sUri.find("://") + 3), nQuery = std::min(sUri.find('?'), sUri.size());
  return sDatabase.empty() ? sUri : sUri.substr(0, nPath) + "/" + sDatabase + sUri.substr(nQuery);
}

// Rows of statements run with libpq itself, every value as the server's text ("NULL" for null).
Rows ServerRows(const std::string& sUri, const std::string& sSql) {
  PGconn* pConn = PQconnectdb(sUri.c_str());
  PGresult* pResult = PQexec(pConn, sSql.c_str());
  Rows vRows(PQntuples(pResult));
  for (int nRow = 0; nRow < PQntuples(pResult); ++nRow) {
    for (int n = 0; n < PQnfields(pResult); ++n) {
      vRows[nRow].push_back(PQgetisnull(pResult, nRow, n) ? "NULL" : PQgetvalue(pResult, nRow, n));
    }
  }
  std::string sError = PQerrorMessage(pConn);
  ExecStatusType eStatus = PQresultStatus(pResult);
  PQclear(pResult);
  PQfinish(pConn);
  if (eStatus != PGRES_TUPLES_OK && eStatus != PGRES_COMMAND_OK) throw std::runtime_error(sSql + ": " + sError);
  return vRows;
}

// A database of its own on the test server for one test, dropped afterwards (a server that is
// gone took it with it).
class ServerDatabase {
 public:
  ServerDatabase() { ServerRows(UriOf(), "CREATE DATABASE " + msName); }
  ~ServerDatabase() {
    try {
      ServerRows(UriOf(), "DROP DATABASE IF EXISTS " + msName + " WITH (FORCE)");
    } catch (const std::exception&) {
    }
  }
  std::string Uri() const { return UriOf(msName); }
  Rows Query(const std::string& sSql) const { return ServerRows(Uri(), sSql); }
  std::string Value(const std::string& sSql) const { return Query(sSql).at(0).at(0); }

 private:
  static inline int snCount = 0;
  std::string msName = "varn_test_" + std::to_string(getpid()) + "_" + std::to_string(++snCount);
};

std::shared_ptr<Connection> Open(const std::string& sPath) {
  clsAccessDatabase database;
  database.OpenDatabase(sPath);
  return database.GetConnection();
}

// A query's column names and rows as the component reads them, in one form for both engines: a
// date as its default text with or without a midnight time, and the time of an import (which
// differs between two imports) only as being a date.
Texts Normalised(const QueryResult& result) {
  Texts vLines{""};
  for (const auto& sColumn : result.vColumns) vLines[0] += sColumn + "|";
  for (const auto& vRow : result.vRows) {
    vLines.emplace_back();
    for (size_t n = 0; n < vRow.size(); ++n) {
      auto date = vRow[n].IsNull() ? std::nullopt : ParseDate(vRow[n].ToText());
      if (result.vColumns[n] == "DateImported" && date) vLines.back() += "a date|";
      else vLines.back() += (vRow[n].IsNull() ? "NULL" : date ? CStr(*date) : vRow[n].ToText()) + "|";
    }
  }
  return vLines;
}

Texts Tables(const std::string& sPath) {
  auto pConnection = Open(sPath);
  Texts vAll;
  for (std::string sTable : {"DateRange ORDER BY Date_ID", "Session ORDER BY Session_ID", "Goods ORDER BY Session_ID",
                             "Shift ORDER BY Shift_ID", "User ORDER BY User_ID"}) {
    vAll.push_back("-- " + sTable);
    for (auto& sLine : Normalised(pConnection->Query("SELECT * FROM " + sTable))) vAll.push_back(sLine);
  }
  return vAll;
}

class Postgres : public ::testing::Test {
 protected:
  // The same files imported into both databases, each answer given to each; both must show
  // the same boxes.
  void ImportIntoBoth(const Texts& vFiles, const std::vector<int>& vAnswers = {}) {
    std::vector<Texts> vShown(2);
    for (int nDb = 0; nDb < 2; ++nDb) {
      for (int nAnswer : vAnswers) mpScreen->AnswerNext(nAnswer);
      size_t nFirst = mpScreen->mvBoxes.size();
      auto pService = clsLogAnalysis::Create();
      pService->Initialize(nDb == 0 ? msSqlite : mServer.Uri());
      for (const auto& sFile : vFiles) EXPECT_TRUE(pService->ProcessLogFile(sFile)) << sFile << " into " << nDb;
      for (size_t n = nFirst; n < mpScreen->mvBoxes.size(); ++n) vShown[nDb].push_back(mpScreen->mvBoxes[n].sPrompt);
    }
    EXPECT_EQ(vShown[1], vShown[0]);
  }
  void TearDown() override { gobjLogAnalysis.reset(); }

  std::shared_ptr<clsRecordingUI> mpScreen = UseRecordingUI();
  TempFolder mFolder;
  std::string msSqlite = mFolder / "varnrpt.mdb";
  ServerDatabase mServer;
};

TEST_F(Postgres, TheSameLogsGiveTheSameRowsAsInAnSqliteFile) {
  std::string sExample = WriteFile(mFolder / "14-03-2024.log", ReadFile(SourceDir() + "/examples/14-03-2024.log"));
  std::string sDay = WriteFile(mFolder / "03-02-2025.log", ReadFile(DataFile("day-03-02-2025.log")));
  Texts vQuoted{"#05/02/2025#",
                ">> 05.02.2025 08:00:00 Sign On: O'Hara",
                "\"PC'Kid's corner,08:10,09:00,0:50|1.00,2.00|O'Brien:1.50,4.50,M'1\"",
                "\"PC01,09:00,10:00,1:00|,,,,,,,0.50|User:2.00,2.50\"",
                "<< 05.02.2025 12:00:00 Sign Off: O'Hara",
                "End Total 7"};
  std::string sQuoted = WriteFile(mFolder / "05-02-2025.log", LogText(vQuoted));
  ImportIntoBoth({sExample, sDay, sQuoted});
  Texts vTables = Tables(msSqlite);
  EXPECT_EQ(Tables(mServer.Uri()), vTables);
  EXPECT_EQ(mServer.Query("SELECT signon FROM shift WHERE signon LIKE '%''%'"), (Rows{{"O'Hara"}}));
  EXPECT_EQ(mServer.Query("SELECT pc_no, memberid FROM session WHERE pc_no LIKE '%Kid%'"),
            (Rows{{"PC'Kid's corner", "M'1"}}));
  EXPECT_EQ(mServer.Value("SELECT logdate FROM daterange WHERE date_id = 3"), "2025-02-05");

  // An update with a changed amount and a new line, then a deleted date with its rows.
  vQuoted.insert(vQuoted.begin() + 4, "\"PC02,10:30,11:00,0:30|0.80|Guest:1.00,1.80\"");
  vQuoted[3] = "\"PC01,09:00,10:00,1:00|,,,,,,,0.50|User:3.00,3.50\"";
  WriteFile(sQuoted, LogText(vQuoted));
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

TEST_F(Postgres, AFailedWriteRollsTheWholeImportBack) {
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(mServer.Uri());
  mServer.Query(
      "CREATE FUNCTION refuse_late_shift() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
      "IF NEW.lineno > 15 THEN RAISE EXCEPTION 'shift refused'; END IF; RETURN NEW; END $$; "
      "CREATE TRIGGER refuse_late_shift BEFORE INSERT ON shift FOR EACH ROW EXECUTE FUNCTION refuse_late_shift()");
  std::string sLog = WriteFile(mFolder / "14-03-2024.log", ReadFile(SourceDir() + "/examples/14-03-2024.log"));
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

// Statements run on both engines (one a line of the data file), read back through the component,
// compared.
TEST_F(Postgres, StatementsOfTheReportDialectRunAsInAnSqliteFile) {
  auto pFile = Open(msSqlite), pServer = Open(mServer.Uri());
  std::istringstream steps(ReadFile(DataFile("pg-dialect-steps.sql")));
  for (std::string sStep; std::getline(steps, sStep);) {
    if (StartsWith(sStep, "SELECT")) {
      EXPECT_EQ(Normalised(pServer->Query(sStep)), Normalised(pFile->Query(sStep))) << sStep;
      continue;
    }
    int64_t lFile = -1, lServer = -2;
    pFile->Execute(sStep, &lFile);
    pServer->Execute(sStep, &lServer);
    EXPECT_EQ(lServer, lFile) << sStep;
  }
  // A bare alias is folded like any unquoted name; the recordset finds fields in any case.
  EXPECT_EQ(pServer->Query("SELECT COUNT(*) AS N FROM Goods").vColumns, Texts{"n"});
  EXPECT_EQ(mServer.Query("SELECT username FROM \"user\" ORDER BY 1"),
            (Rows{{"O'Brien"}, {"User [x]; DELETE * FROM Goods -- NUMBER"}}));
  EXPECT_EQ(mServer.Value("SELECT data_type FROM information_schema.columns WHERE column_name = 'goods_1'"),
            "double precision");
}

// Inside a transaction a failed statement leaves the rest of it going, nested levels end the
// innermost, and the numbers are the same on both engines.
TEST_F(Postgres, FailuresInsideTransactionsBehaveAsInAnSqliteFile) {
  const std::string sInsert = "INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn) VALUES (";
  for (const std::string& sDb : {msSqlite, mServer.Uri()}) {
    SCOPED_TRACE(sDb);
    auto pConnection = Open(sDb);
    auto NumberOf = [&](const std::string& sSql) { return ErrorOf([&] { pConnection->Execute(sSql); }).Number(); };
    pConnection->BeginTrans();
    pConnection->Execute(sInsert + "1,1,1,'kept')");
    EXPECT_EQ(NumberOf(sInsert + "1,1,1,'again')"), errDBUniqueKey);
    for (const char* pRefused :
         {"SELECT * FROM Nowhere", "SELECT 1; DELETE FROM Shift", "SELECT E'\\''; DELETE FROM Shift; --'",
          "SELECT $$;$$; DELETE FROM Shift", "SELECT * FROM", "-- a comment alone",
          "INSERT INTO Shift (Shift_ID) VALUES ('x')", ""}) {
      EXPECT_EQ(NumberOf(pRefused), errDBStatement) << pRefused;
    }
    pConnection->Execute(sInsert + "2,1,2,'after the failures')");
    pConnection->BeginTrans();
    pConnection->Execute(sInsert + "3,1,3,'undone')");
    EXPECT_EQ(NumberOf(sInsert + "2,1,2,'twice')"), errDBUniqueKey);
    pConnection->RollbackTrans();
    pConnection->BeginTrans();
    pConnection->Execute(sInsert + "4,1,4,'nested')");
    pConnection->CommitTrans();
    pConnection->CommitTrans();
    EXPECT_EQ(Normalised(pConnection->Query("SELECT Shift_ID, SignOn FROM Shift ORDER BY Shift_ID")),
              (Texts{"Shift_ID|SignOn|", "1|kept|", "2|after the failures|", "4|nested|"}));
  }
}

TEST_F(Postgres, AConnectionTheServerEndsRefusesTheRestOfItsTransaction) {
  auto pConnection = Open(mServer.Uri());
  pConnection->BeginTrans();
  pConnection->Execute("INSERT INTO User (User_ID,UserName) VALUES (1,'lost')");
  mServer.Query("SELECT pg_terminate_backend(" + pConnection->Query("SELECT pg_backend_pid()").vRows[0][0].ToText() +
                ")");
  EXPECT_EQ(ErrorOf([&] { pConnection->Execute("INSERT INTO User (User_ID,UserName) VALUES (2,'x')"); }).Number(),
            errDBFailure);
  EXPECT_EQ(ErrorOf([&] { pConnection->CommitTrans(); }).Number(), errDBFailure);
  pConnection->RollbackTrans();
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM \"user\""), "0");
}

// The session writer's one retry on a key the server already holds, in the import's transaction.
TEST_F(Postgres, TheSessionInsertTakesTheNextKeyWhenTheServerHoldsIt) {
  TestService service(mServer.Uri(), false);
  service.mUsers.mKeys = {{"Guest", 4}};
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
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
  EXPECT_EQ(mServer.Query("SELECT session_id, date_id, pc_no FROM session ORDER BY 1"),
            (Rows{{"57", "1", "PC09"}, {"58", "3", "PC01"}}));
  EXPECT_EQ(mServer.Query("SELECT session_id, goods_1, goods_3 FROM goods"), (Rows{{"58", "1.5", "2"}}));
}

bool Running(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

TEST_F(Postgres, ImportersQueueForTheServerAndReportsReadMeanwhile) {
  // Days of different sizes in two shops' folders: a session under another file's date shows.
  for (int nDay = 1; nDay <= 8; ++nDay) {
    std::string sFolder = mFolder / (nDay <= 4 ? "shopA" : "shopB"), sDay = "0" + std::to_string(nDay);
    std::filesystem::create_directories(sFolder);
    WriteFile(sFolder + "/" + sDay + "-01-2025.log", GeneratedDay(sDay + "/01/2025", 50 + nDay));
  }
  const std::string sUri = mServer.Uri(), sOut = mFolder / "a.out";
  ASSERT_EQ(RunVarnlog({"--db", sUri, "init"}).nExit, 0);

  // While another writer holds the database an import waits, a report reads, and an import
  // that may not wait that long gives up with nothing written.
  auto pHolder = Open(sUri);
  pHolder->BeginTrans();
  pid_t waiting = StartVarnlog({"--db", sUri, "import", mFolder / "shopA"}, sOut);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(Running(waiting));
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM daterange"), "0");
  EXPECT_EQ(RunVarnlog({"--db", sUri, "history"}).nExit, 0);
  RunResult refused = RunVarnlog({"--wait", "1", "--db", sUri, "import", mFolder / "shopB"});
  EXPECT_EQ(refused.nExit, 1);
  EXPECT_NE(refused.sOutput.find("Another import holds the report database"), std::string::npos) << refused.sOutput;
  pHolder->CommitTrans();
  EXPECT_EQ(WaitFor(waiting), 0) << ReadFile(sOut);
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM daterange"), "4");

  // Two shops at the same moment: both complete, nothing stored twice.
  mServer.Query("TRUNCATE daterange, session, goods, shift, \"user\"");
  pid_t shopA = StartVarnlog({"--db", sUri, "import", mFolder / "shopA"}, sOut);
  RunResult shopB = RunVarnlog({"--db", sUri, "import", mFolder / "shopB"});
  EXPECT_EQ(WaitFor(shopA), 0) << ReadFile(sOut);
  EXPECT_EQ(shopB.nExit, 0) << shopB.sOutput;
  EXPECT_EQ(mServer.Query("SELECT count(*), count(DISTINCT logdate), max(date_id) FROM daterange"),
            (Rows{{"8", "8", "8"}}));
  EXPECT_EQ(mServer.Query("SELECT count(*), count(DISTINCT (date_id, lineno)) FROM session"), (Rows{{"436", "436"}}));
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM (SELECT date_id FROM session JOIN daterange USING (date_id) "
                          "GROUP BY date_id, logdate HAVING count(*) <> 50 + extract(day FROM logdate)) wrong"),
            "0");
  EXPECT_EQ(mServer.Query("SELECT count(*), count(DISTINCT username) FROM \"user\""), (Rows{{"4", "4"}}));
}

TEST_F(Postgres, ADatabaseOfOtherTablesOrNoServerIsRefusedAndLeftAsItWas) {
  ServerDatabase foreign;
  foreign.Query("CREATE TABLE session (id integer)");
  ASSERT_EQ(RunVarnlog({"--db", mServer.Uri(), "init"}).nExit, 0);
  mServer.Query("ALTER TABLE shift ALTER COLUMN signdatetime TYPE text");
  const std::pair<std::string, std::string> kCases[] = {
      {foreign.Uri(), "is not a report database (no table DateRange); nothing in it was changed"},
      {mServer.Uri(), "is not a report database (the column Shift.SignDateTime is not a date)"},
      {"postgresql://varn@127.0.0.1:1/none", "cannot be opened: "}};
  for (const auto& [sUri, sWhy] : kCases) {
    auto pRefused = clsLogAnalysis::Create();
    pRefused->Initialize(sUri);
    EXPECT_FALSE(pRefused->IsConnected());
    ASSERT_FALSE(mpScreen->mvBoxes.empty());
    const std::string& sBox = mpScreen->mvBoxes.back().sPrompt;
    EXPECT_EQ(sBox.rfind("-2147467259\r\n01/clsConnection:SignOn\r\n", 0), 0u) << sBox;
    EXPECT_NE(sBox.find(sWhy), std::string::npos) << sBox;
    EXPECT_NE(sBox.find("\r\n\r\nError openning Conetion"), std::string::npos) << sBox;
    gobjLogAnalysis.reset();
  }
  EXPECT_EQ(foreign.Query("SELECT tablename FROM pg_tables WHERE schemaname = 'public'"), (Rows{{"session"}}));
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"), "5");
}

}  // namespace
}  // namespace varn::test
