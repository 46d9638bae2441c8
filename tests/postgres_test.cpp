// The report database on a PostgreSQL server: the same logs give the same rows as in an SQLite
// file, statements fail and roll back as they do there, and importers queue for the server.
// The server comes from VARN_PG_URI (ctest starts a throwaway one with tests/pg_server.sh);
// without it every test fails.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "db/clsAccessDatabase.h"
#include "records/clsItemSession.h"
#include "runtime/Text.h"
#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

// The test server's URI (which ends in its database's name), with another database name when one is given.
std::string UriOf(const std::string& sDatabase = {}) {
  const char* pUri = std::getenv("VARN_PG_URI");
  if (!pUri || !*pUri) throw std::runtime_error("VARN_PG_URI is not set: ctest starts a server (tests/pg_server.sh)");
  std::string sUri = pUri;
  return sDatabase.empty() ? sUri : sUri.substr(0, sUri.rfind('/') + 1) + sDatabase;
}

// Rows of statements run with libpq itself, every value as the server's text ("NULL" for null);
// a statement the server refuses fails the test.
Rows ServerRows(const std::string& sUri, const std::string& sSql) {
  PGconn* pConn = PQconnectdb(sUri.c_str());
  PGresult* pResult = PQexec(pConn, sSql.c_str());
  Rows vRows(PQntuples(pResult), Texts(PQnfields(pResult)));
  for (int nRow = 0; nRow < PQntuples(pResult); ++nRow) {
    for (int n = 0; n < PQnfields(pResult); ++n) {
      vRows[nRow][n] = PQgetisnull(pResult, nRow, n) ? "NULL" : PQgetvalue(pResult, nRow, n);
    }
  }
  if (PQresultStatus(pResult) == PGRES_FATAL_ERROR) ADD_FAILURE() << sSql << ": " << PQerrorMessage(pConn);
  PQclear(pResult);
  PQfinish(pConn);
  return vRows;
}

// A database of its own on the test server for one test, dropped afterwards (a server that is
// gone took it with it).
struct ServerDatabase {
  ServerDatabase() { ServerRows(UriOf(), "CREATE DATABASE " + msName); }
  ~ServerDatabase() { ServerRows(UriOf(), "DROP DATABASE IF EXISTS " + msName + " WITH (FORCE)"); }
  std::string Uri() const { return UriOf(msName); }
  Rows Query(const std::string& sSql) const { return ServerRows(Uri(), sSql); }
  std::string Value(const std::string& sSql) const { return Query(sSql).at(0).at(0); }

  static inline int snCount = 0;
  std::string msName = "varn_test_" + std::to_string(getpid()) + "_" + std::to_string(++snCount);
};

std::shared_ptr<Connection> Open(const std::string& sPath) {
  clsAccessDatabase database;
  database.OpenDatabase(sPath);
  return database.GetConnection();
}

// What a step of pg-dialect-steps.sql gives: the depth after a transaction step, the rows another
// statement (or one after "run ") changed, a failure's number, or a query's column names and rows
// in one form for both engines: a date as its default text with or without a midnight time, and
// the time of an import (which differs between two imports) only as being a date.
std::string Outcome(Connection& conn, const std::string& sStep) {
  try {
    int64_t lAffected = -1;
    if (StartsWith(sStep, "SELECT ")) {
      QueryResult result = conn.Query(sStep);
      std::string sLines;
      for (const auto& sColumn : result.vColumns) sLines += sColumn + "|";
      for (const auto& vRow : result.vRows) {
        sLines += "; ";
        for (size_t n = 0; n < vRow.size(); ++n) {
          auto date = vRow[n].IsNull() ? std::nullopt : ParseDate(vRow[n].ToText());
          if (result.vColumns[n] == "DateImported" && date) sLines += "a date|";
          else sLines += (vRow[n].IsNull() ? "NULL" : date ? CStr(*date) : vRow[n].ToText()) + "|";
        }
      }
      return sLines;
    }
    if (StartsWith(sStep, "run ")) return conn.Execute(sStep.substr(4), &lAffected), NumText(lAffected);
    if (sStep == "begin") conn.BeginTrans();
    else if (sStep == "commit") conn.CommitTrans();
    else if (sStep == "rollback") conn.RollbackTrans();
    else return conn.Execute(sStep, &lAffected), NumText(lAffected);
    return "depth " + NumText(int64_t{conn.TransactionDepth()});
  } catch (const clsError& err) {
    return "error " + NumText(int64_t{err.Number()});
  }
}

// Every table, in key order.
Texts Tables(const std::string& sPath) {
  auto pConnection = Open(sPath);
  Texts vAll;
  for (std::string sTable : {"DateRange ORDER BY Date_ID", "Session ORDER BY Session_ID", "Goods ORDER BY Session_ID",
                             "Shift ORDER BY Shift_ID", "User ORDER BY User_ID"})
    vAll.push_back(Outcome(*pConnection, "SELECT * FROM " + sTable));
  return vAll;
}

class Postgres : public ::testing::Test {
 protected:
  std::shared_ptr<clsRecordingUI> mpScreen = UseRecordingUI();
  TempFolder mFolder;
  std::string msSqlite = mFolder / "varnrpt.mdb";
  ServerDatabase mServer;
};

TEST_F(Postgres, TheSameLogsGiveTheSameRowsAsInAnSqliteFile) {
  std::string sExample = SourceDir() + "/examples/14-03-2024.log";
  // Names, machines and member ids with quotes; a day that is updated later.
  std::string sQuoted = WriteFile(mFolder / "05-02-2025.log", ReadFile(DataFile("quoted-05-02-2025.log")));
  std::string sGenerated = WriteFile(mFolder / "06-02-2025.log", GeneratedDay("06/02/2025", 6));
  // A command on both databases: it succeeds and says the same (the questions it asked too).
  auto OnBoth = [&](Texts vCommand) {
    vCommand.insert(vCommand.begin(), {"--db", msSqlite});
    RunResult inFile = RunVarnlog(vCommand);
    vCommand[1] = mServer.Uri();
    RunResult onServer = RunVarnlog(vCommand);
    EXPECT_EQ(std::pair(inFile.nExit, onServer.nExit), std::pair(0, 0)) << inFile.sOutput;
    EXPECT_EQ(onServer.sOutput, inFile.sOutput);
  };

  // A failed write rolls the whole import back, the goods columns it added too, and takes no key.
  ASSERT_EQ(RunVarnlog({"--db", mServer.Uri(), "init"}).nExit, 0);
  mServer.Query(
      "CREATE FUNCTION refuse_late_shift() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
      "IF NEW.lineno > 15 THEN RAISE EXCEPTION 'shift refused'; END IF; RETURN NEW; END $$; "
      "CREATE TRIGGER refuse_late_shift BEFORE INSERT ON shift FOR EACH ROW EXECUTE FUNCTION refuse_late_shift()");
  Texts vEmpty = Tables(mServer.Uri());
  EXPECT_EQ(Unexpected(RunVarnlog({"--db", mServer.Uri(), "import", sExample}), 1, "shift refused"), "");
  EXPECT_EQ(Tables(mServer.Uri()), vEmpty);
  mServer.Query("DROP TRIGGER refuse_late_shift ON shift");

  OnBoth({"import", sExample, DataFile("day-03-02-2025.log"), sQuoted, sGenerated});
  Texts vTables = Tables(msSqlite);
  EXPECT_EQ(Tables(mServer.Uri()), vTables);
  EXPECT_EQ(mServer.Value("SELECT logdate FROM daterange WHERE date_id = 3"), "2025-02-05");

  // Updates (with changed amounts and a new line), then a deleted date with its rows, also on a
  // database made by hand without the cascade trigger.
  WriteFile(sGenerated, GeneratedDay("06/02/2025", 7, 1));
  OnBoth({"import", "--yes", sQuoted, sGenerated});
  SqlExec(msSqlite, "DROP TRIGGER DateRangeDeleted");
  mServer.Query("DROP TRIGGER daterangedeleted ON daterange");
  OnBoth({"delete", "--yes", "03/02/2025"});
  EXPECT_NE(Tables(msSqlite), vTables);
  EXPECT_EQ(Tables(mServer.Uri()), Tables(msSqlite));
  EXPECT_EQ(mServer.Value("SELECT (SELECT count(*) FROM session WHERE date_id = 2) + (SELECT count(*) FROM shift "
                          "WHERE date_id = 2) + (SELECT count(*) FROM goods WHERE date_id = 2)"),
            "0");
}

TEST_F(Postgres, AnUpdateLeavesTheDayAsAFirstImportWould) {
  ServerDatabase fresh;
  EXPECT_EQ(UpdatesAgainstFirstImports(mServer.Uri(), fresh.Uri(), mFolder.Path().string()), "");
}

// The steps of pg-dialect-steps.sql ("step -> outcome"), each played on an SQLite file and on
// the server: the report dialect, and transactions in which failed statements leave the rest
// going and nested levels end the innermost.
TEST_F(Postgres, StatementsAndTransactionsGoAsInAnSqliteFile) {
  auto pFile = Open(msSqlite), pServer = Open(mServer.Uri());
  for (const std::string& sLine : Split(ReadFile(DataFile("pg-dialect-steps.sql")), "\n")) {
    size_t nArrow = sLine.find(" -> ");
    if (sLine.empty() || sLine[0] == '#') continue;
    ASSERT_NE(nArrow, std::string::npos) << sLine;
    std::string sStep = sLine.substr(0, nArrow), sWant = sLine.substr(nArrow + 4);
    EXPECT_EQ(Outcome(*pFile, sStep), sWant) << "in the file: " << sStep;
    EXPECT_EQ(Outcome(*pServer, sStep), sWant) << "on the server: " << sStep;
  }
  // A bare alias is folded like any unquoted name; the recordset finds fields in any case.
  EXPECT_EQ(pServer->Query("SELECT COUNT(*) AS N FROM Goods").vColumns, Texts{"n"});
  EXPECT_EQ(mServer.Query("SELECT username FROM \"user\" ORDER BY 1"),
            (Rows{{"O'Brien"}, {"User [x]; DELETE * FROM Goods -- NUMBER"}}));
  EXPECT_EQ(mServer.Value("SELECT data_type FROM information_schema.columns WHERE column_name = 'goods_1'"),
            "double precision");

  // A connection the server ends refuses the rest of its transaction.
  pServer->BeginTrans();
  pServer->Execute("INSERT INTO User (User_ID,UserName) VALUES (9,'lost')");
  mServer.Query("SELECT pg_terminate_backend(" + pServer->Query("SELECT pg_backend_pid()").vRows[0][0].ToText() + ")");
  EXPECT_EQ(ErrorOf([&] { pServer->Execute("INSERT INTO User (User_ID,UserName) VALUES (8,'x')"); }).Number(),
            errDBFailure);
  EXPECT_EQ(ErrorOf([&] { pServer->CommitTrans(); }).Number(), errDBFailure);
  pServer->RollbackTrans();
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM \"user\" WHERE user_id > 7"), "0");
}

// A password typed by the user reaches the server apart from the address, and only there.
TEST_F(Postgres, APasswordGivenApartFromTheAddressIsTheOneUsed) {
  mServer.Query("DO $$ BEGIN CREATE ROLE varn_password LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; END $$; "
                "ALTER ROLE varn_password PASSWORD 'right'; GRANT ALL ON SCHEMA public TO varn_password");
  const std::string sUri = Replace(mServer.Uri(), "://varn@", "://varn_password@");
  for (const auto& [sPassword, bOpens] : {std::pair("", false), std::pair("wrong", false), std::pair("right", true)}) {
    GlobalDatabaseSettings().sPassword = sPassword;
    EXPECT_EQ(ErrorOf([&] { Open(sUri); }).Number() == 0, bOpens) << sPassword;
  }
  GlobalDatabaseSettings().sPassword.clear();
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM pg_tables WHERE tableowner = 'varn_password'"), "5");
}

// The session writer's one retry on a key the server already holds, in the import's transaction.
TEST_F(Postgres, TheSessionInsertTakesTheNextKeyWhenTheServerHoldsIt) {
  TestService service(mServer.Uri(), false);
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

TEST_F(Postgres, ImportersQueueForTheServerWhichMustHoldAReportDatabase) {
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
  usleep(1500 * 1000);
  siginfo_t info{};
  EXPECT_TRUE(waitid(P_PID, waiting, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0) << "not waiting";
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM daterange"), "0");
  EXPECT_EQ(RunVarnlog({"--db", sUri, "history"}).nExit, 0);
  EXPECT_EQ(Unexpected(RunVarnlog({"--wait", "1", "--db", sUri, "import", mFolder / "shopB"}), 1,
                       "Another import holds the report database"),
            "");
  pHolder->CommitTrans();
  EXPECT_EQ(WaitFor(waiting), 0) << ReadFile(sOut);
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM daterange"), "4");

  // Two shops at the same moment: both complete, nothing stored twice.
  mServer.Query("TRUNCATE daterange, session, goods, shift, \"user\"");
  pid_t shopA = StartVarnlog({"--db", sUri, "import", mFolder / "shopA"}, sOut);
  RunResult shopB = RunVarnlog({"--db", sUri, "import", mFolder / "shopB"});
  EXPECT_EQ(WaitFor(shopA), 0) << ReadFile(sOut);
  EXPECT_EQ(Unexpected(shopB, 0), "");
  EXPECT_EQ(mServer.Query("SELECT count(*), count(DISTINCT logdate), max(date_id) FROM daterange"),
            (Rows{{"8", "8", "8"}}));
  EXPECT_EQ(mServer.Query("SELECT count(*), count(DISTINCT (date_id, lineno)) FROM session"), (Rows{{"436", "436"}}));
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM (SELECT date_id FROM session JOIN daterange USING (date_id) "
                          "GROUP BY date_id, logdate HAVING count(*) <> 50 + extract(day FROM logdate)) wrong"),
            "0");
  EXPECT_EQ(mServer.Query("SELECT count(*), count(DISTINCT username) FROM \"user\""), (Rows{{"4", "4"}}));

  // A database of other tables, or no server, is refused and left as it was.
  ServerDatabase foreign;
  foreign.Query("CREATE TABLE session (id integer)");
  mServer.Query("ALTER TABLE shift ALTER COLUMN signdatetime TYPE text");
  const std::pair<std::string, std::string> kCases[] = {
      {foreign.Uri(), "is not a report database (no table DateRange); nothing in it was changed"},
      {mServer.Uri(), "is not a report database (the column Shift.SignDateTime is not a date)"},
      {"postgresql://varn@127.0.0.1:1/none", "cannot be opened: "}};
  for (const auto& [sUri, sWhy] : kCases) EXPECT_EQ(Unexpected(RunVarnlog({"--db", sUri, "status"}), 1, sWhy), "");
  EXPECT_EQ(foreign.Query("SELECT tablename FROM pg_tables WHERE schemaname = 'public'"), (Rows{{"session"}}));
  EXPECT_EQ(mServer.Value("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"), "5");
}

// Shops in schemas of their own on one server, as the README sets them up: two shops import the
// same day at once and both days stand, a writer in one shop holds up no other shop, and a
// report reads across the shops.
TEST_F(Postgres, ShopsInSchemasOfTheirOwnImportTheSameDayAtOnce) {
  // Roles belong to the whole server: made once for every run against it.
  mServer.Query(
      "DO $$ BEGIN CREATE ROLE varn_shops; CREATE ROLE varn_shop1 LOGIN; CREATE ROLE varn_shop2 LOGIN; "
      "GRANT varn_shops TO varn_shop1, varn_shop2; EXCEPTION WHEN duplicate_object THEN NULL; END $$; "
      "CREATE SCHEMA shop1 AUTHORIZATION varn_shops; CREATE SCHEMA shop2 AUTHORIZATION varn_shops");
  auto ShopUri = [&](const std::string& sShop) {
    return Replace(mServer.Uri(), "://varn@", "://varn_" + sShop + "@") + "?options=-csearch_path%3D" + sShop +
           "%20-crole%3Dvarn_shops";
  };
  auto Day = [&](const std::string& sShop, const std::string& sDay, int nSessions) {
    std::filesystem::create_directories(mFolder / sShop);
    return WriteFile(mFolder / sShop + "/" + sDay + "-01-2025.log", GeneratedDay(sDay + "/01/2025", nSessions));
  };
  const std::string sOut = mFolder / "shop1.out";
  pid_t shop1 = StartVarnlog({"--db", ShopUri("shop1"), "import", Day("shop1", "03", 40)}, sOut);
  EXPECT_EQ(Unexpected(RunVarnlog({"--db", ShopUri("shop2"), "import", Day("shop2", "03", 45)}), 0), "");
  EXPECT_EQ(WaitFor(shop1), 0) << ReadFile(sOut);

  // While an import holds shop1, shop2 imports without waiting; shop1 still waits for its own.
  auto pHolder = Open(ShopUri("shop1"));
  pHolder->BeginTrans();
  EXPECT_EQ(Unexpected(RunVarnlog({"--wait", "1", "--db", ShopUri("shop2"), "import", Day("shop2", "04", 30)}), 0), "");
  EXPECT_EQ(Unexpected(RunVarnlog({"--wait", "1", "--db", ShopUri("shop1"), "import", Day("shop1", "04", 30)}), 1,
                       "Another import holds the report database"),
            "");
  pHolder->RollbackTrans();

  const std::string sAcrossShops =
      "SELECT 'shop1' AS shop, d.logdate, count(*) FROM shop1.daterange d JOIN shop1.session USING (date_id) "
      "GROUP BY d.logdate UNION ALL "
      "SELECT 'shop2', d.logdate, count(*) FROM shop2.daterange d JOIN shop2.session USING (date_id) "
      "GROUP BY d.logdate ORDER BY 2, 1";
  EXPECT_EQ(mServer.Query(sAcrossShops),
            (Rows{{"shop1", "2025-01-03", "40"}, {"shop2", "2025-01-03", "45"}, {"shop2", "2025-01-04", "30"}}));
  EXPECT_EQ(mServer.Query("SELECT schemaname, tableowner, count(*) FROM pg_tables WHERE tablename IN ('daterange', "
                          "'session', 'goods', 'shift', 'user') GROUP BY 1, 2 ORDER BY 1"),
            (Rows{{"shop1", "varn_shops", "5"}, {"shop2", "varn_shops", "5"}}));
}

TEST_F(Postgres, EveryCommandEndsInAnExitStatusOnNullsOrALockAndWaitsOnlyAsLongAsTold) {
  std::string sLog = WriteFile(mFolder / "25-12-2003.log", GeneratedDay("25/12/2003", 20));
  ASSERT_EQ(RunVarnlog({"--db", mServer.Uri(), "import", sLog}).nExit, 0);
  mServer.Query("INSERT INTO daterange VALUES (50, NULL, NULL, NULL); INSERT INTO session (session_id) VALUES (900);"
                "INSERT INTO goods (session_id) VALUES (900); INSERT INTO shift (shift_id) VALUES (900);"
                "INSERT INTO \"user\" (user_id) VALUES (900)");
  EXPECT_EQ(EveryCommandEnds(mServer.Uri(), sLog, 2),
            "status 1, history 0, history 0, report 0, check 1, init 0, import 0, delete 1");
  mServer.Query("DELETE FROM daterange WHERE date_id = 50");
  // Another program (not an import) holding the day's table: no command that reads it waits longer than told.
  PGconn* pHolder = PQconnectdb(mServer.Uri().c_str());
  PQclear(PQexec(pHolder, "BEGIN; LOCK TABLE daterange IN ACCESS EXCLUSIVE MODE"));
  EXPECT_EQ(EveryCommandEnds(mServer.Uri(), sLog, 2),
            "status 1, history 1, history 1, report 1, check 1, init 0, import 1, delete 1");
  PQfinish(pHolder);
}

}  // namespace
}  // namespace varn::test
