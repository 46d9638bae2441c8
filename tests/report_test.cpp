// The takings report against the database it reads: a month's figures equal the sums the
// database makes itself, the same report comes from SQLite and from PostgreSQL (VARN_PG_URI, a
// server ctest starts), the edge cases of a day as one table, the command line's CSV and its
// refusals, and the page as a real browser draws it (build/screenshots/report-month.png).
#include "report/Report.h"

#include <fmt/core.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <filesystem>

#include "db/clsAccessDatabase.h"
#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

Report ReportOf(const std::string& sDB, const std::string& sMonth = "2024-03") {
  clsAccessDatabase database;
  database.OpenDatabase(sDB);
  return ComputeReport(*database.GetConnection(), *MonthPeriod(sMonth));
}

std::string Cents(double dblValue) { return fmt::format("{:.2f}", dblValue); }

// March 2024 in a shop: each day the example log's, thinned a different way; the 10th and the
// 24th not imported; every fifth day keeps the log's End Total (which its sessions no longer make).
class ReportMonth : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    spFolder = new TempFolder;
    std::string sLog = ReadFile(SourceDir() + "/examples/14-03-2024.log");
    std::filesystem::create_directory(*spFolder / "logs");
    for (int nDay = 1; nDay <= 31; ++nDay) {
      if (nDay == 10 || nDay == 24) continue;
      std::string sDay = fmt::format("{:02}", nDay);
      Texts vLines, vSource = Split(sLog, "\r\n");
      for (size_t n = 0; n < vSource.size(); ++n) {
        const std::string& sLine = vSource[n];
        bool bDropped = (StartsWith(sLine, "\"PC") && (n * 13 + nDay * 5) % 11 < 3) ||
                        (StartsWith(sLine, "End Total") && nDay % 5 != 0) || sLine.empty();
        if (!bDropped)
          vLines.push_back(Replace(Replace(sLine, "14/03/2024", sDay + "/03/2024"), "14.03.", sDay + ".03."));
      }
      WriteFile(*spFolder / ("logs/" + sDay + "-03-2024.log"), LogText(vLines));
    }
    RunResult result = RunVarnlog({"--db", Db(), "import", *spFolder / "logs"});
    if (result.nExit != 0) throw std::runtime_error(result.sOutput);
  }
  static void TearDownTestSuite() { delete spFolder; }
  static std::string Db() { return *spFolder / "month.mdb"; }

  static inline TempFolder* spFolder = nullptr;
};

TEST_F(ReportMonth, FiguresEqualTheSumsTheDatabaseMakesItself) {
  Report report = ReportOf(Db());
  const ReportSummary& summary = report.summary;
  // Every time of the example log is hh:mm, and no session ends past midnight.
  const std::string kMinutes =
      "(CAST(substr(EndTime,1,2) AS INT)*60 + CAST(substr(EndTime,4,2) AS INT)"
      " - CAST(substr(StartTime,1,2) AS INT)*60 - CAST(substr(StartTime,4,2) AS INT))";
  Rows vExpected =
      SqlRows(Db(), "SELECT (SELECT COUNT(*) FROM DateRange), COUNT(*), SUM(" + kMinutes +
                        "), printf('%.2f', SUM(UserCharge)), printf('%.2f', SUM(TotalGoods)), "
                        "printf('%.2f', SUM(Total)), (SELECT printf('%.2f', SUM(DateTotal)) FROM DateRange) "
                        "FROM Session");
  Rows vActual{{NumText(summary.lDays), NumText(summary.lSessions), NumText(summary.lMinutesUsed),
                Cents(summary.dblCharges), Cents(summary.dblGoods), Cents(summary.dblSessionTotals),
                Cents(summary.dblDayTotals)}};
  EXPECT_EQ(vActual, vExpected);
  EXPECT_EQ(summary.lDays, 29);
  EXPECT_EQ(summary.lUntimedSessions, 0);

  auto Expect = [&](const std::string& sSql, const Rows& vRows) { EXPECT_EQ(vRows, SqlRows(Db(), sSql)) << sSql; };
  vActual.clear();
  for (const ReportDay& day : report.vDays) {
    vActual.push_back({FormatDate(day.dtLogDate, "dd/mm/yyyy"), NumText(day.lSessions), Cents(day.dblSessionTotals),
                       Cents(day.dblDayTotal), day.Differs() ? "differs" : "same"});
  }
  Expect(
      "SELECT LogDate, COUNT(*), printf('%.2f', SUM(Total)), printf('%.2f', DateTotal), CASE WHEN "
      "round(DateTotal - SUM(Total), 2) <> 0 THEN 'differs' ELSE 'same' END FROM DateRange JOIN Session "
      "USING (Date_ID) GROUP BY Date_ID ORDER BY substr(LogDate, 1, 2)",
      vActual);
  EXPECT_GT(summary.lDifferingDays, 0);
  vActual.clear();
  for (const ReportPC& pc : report.vPCs) vActual.push_back({pc.sPC, NumText(pc.lSessions), Cents(pc.dblTakings)});
  Expect("SELECT PC_No, COUNT(*), printf('%.2f', SUM(Total)) FROM Session GROUP BY PC_No ORDER BY PC_No", vActual);
  vActual.clear();
  for (const ReportCategory& category : report.vCategories) {
    vActual.push_back({category.sName, NumText(category.lSessions), Cents(category.dblTakings)});
  }
  Expect(
      "SELECT UserName, COUNT(*), printf('%.2f', SUM(Total)) FROM Session JOIN User USING (User_ID) "
      "GROUP BY UserName ORDER BY SUM(Total) DESC",
      vActual);
  // Priya signs on at 08:55:12 and off at 15:02:40, Tomasz on at 15:04:03: a session at 15:03
  // would be in neither.
  std::map<std::string, std::pair<int64_t, double>> mapShifts;
  for (const ReportShift& shift : report.vShifts) {
    mapShifts[shift.sOperator].first += shift.lSessions;
    mapShifts[shift.sOperator].second += shift.dblTakings;
  }
  vActual.clear();
  for (const auto& [sOperator, totals] : mapShifts)
    vActual.push_back({sOperator, NumText(totals.first), Cents(totals.second)});
  Expect(
      "SELECT CASE WHEN StartTime BETWEEN '08:56' AND '15:02' THEN 'Priya' WHEN StartTime >= '15:05' THEN "
      "'Tomasz' ELSE '' END AS Operator, COUNT(*), printf('%.2f', SUM(Total)) FROM Session GROUP BY Operator "
      "ORDER BY Operator",
      vActual);
  vActual.clear();
  for (const ReportHour& hour : report.vHours) {
    if (hour.lSessionsStarted) vActual.push_back({NumText(int64_t{hour.nHour}), NumText(hour.lSessionsStarted)});
  }
  Expect("SELECT CAST(substr(StartTime, 1, 2) AS INT) AS H, COUNT(*) FROM Session GROUP BY H ORDER BY H", vActual);
  vActual.clear();
  for (const ReportGoods& goods : report.vGoods) vActual.push_back({Cents(goods.dblAmount)});
  Rows vGoods = SqlRows(Db(),
                        "SELECT printf('%.2f', SUM(Goods_1)), printf('%.2f', SUM(Goods_2)), "
                        "printf('%.2f', SUM(Goods_9)) FROM Goods");
  EXPECT_EQ(vActual.size(), 9u);
  EXPECT_EQ(Rows({vActual.at(0), vActual.at(1), vActual.at(8)}),
            Rows({{vGoods[0][0]}, {vGoods[0][1]}, {vGoods[0][2]}}));
}

// A database of its own on the test server, dropped afterwards.
std::string ServerRun(const std::string& sUri, const std::string& sSql) {
  PGconn* pConn = PQconnectdb(sUri.c_str());
  PGresult* pResult = PQexec(pConn, sSql.c_str());
  std::string sError = PQresultStatus(pResult) == PGRES_COMMAND_OK ? "" : PQerrorMessage(pConn);
  PQclear(pResult);
  PQfinish(pConn);
  return sError;
}

// How streamed rows end: a reader that stops after two rows, a statement that fails after three;
// then whether the connection still answers.
std::string StreamEnds(const std::string& sDB) {
  clsAccessDatabase database;
  database.OpenDatabase(sDB);
  Connection& connection = *database.GetConnection();
  std::string sEnds;
  for (const char* pSql : {"SELECT Session_ID FROM Session",
                           "SELECT CASE WHEN Session_ID > 3 THEN abs(Session_ID * 0 - 9223372036854775807 - 1) END "
                           "FROM Session"}) {
    int nRows = 0;
    uint64_t lFailures = connection.FailureCount();
    clsError err = ErrorOf([&] {
      connection.QueryEach(pSql, [&](const std::vector<Variant>&) {
        if (++nRows == 2 && StartsWith(pSql, "SELECT Session_ID")) RaiseError(errInvalidCall, "enough");
      });
    });
    sEnds += fmt::format("{} rows, error {}, {} failed; ", nRows, err.Number(), connection.FailureCount() - lFailures);
  }
  return sEnds + connection.Query("SELECT COUNT(*) FROM DateRange").vRows.at(0).at(0).ToText() + " days";
}

TEST_F(ReportMonth, SameReportFromPostgreSQL) {
  const char* pUri = std::getenv("VARN_PG_URI");
  ASSERT_TRUE(pUri && *pUri) << "VARN_PG_URI is not set: ctest starts a server (tests/pg_server.sh)";
  std::string sName = "varn_report_" + std::to_string(getpid());
  ASSERT_EQ(ServerRun(pUri, "CREATE DATABASE " + sName), "");
  std::string sUri = std::string(pUri).substr(0, std::string(pUri).rfind('/') + 1) + sName;
  RunResult result = RunVarnlog({"--db", sUri, "import", *spFolder / "logs"});
  EXPECT_EQ(Unexpected(result, 0), "");
  EXPECT_EQ(ReportCsv(ReportOf(sUri)), ReportCsv(ReportOf(Db())));
  EXPECT_EQ(StreamEnds(sUri), StreamEnds(Db()));
  std::string sFirstRows = SqlValue(Db(), "SELECT COUNT(*) FROM Session WHERE Session_ID <= 3");
  EXPECT_EQ(StreamEnds(Db()), fmt::format("2 rows, error {}, 0 failed; {} rows, error {}, 1 failed; 29 days",
                                          int{errInvalidCall}, sFirstRows, int{errDBStatement}));
  // The command line reads it from the server too: without a period, the latest imported month.
  result = RunVarnlog({"--db", sUri, "report", "--csv", "days"});
  EXPECT_EQ(Unexpected(result, 0, ReportCsv(ReportOf(Db()), "days")), "");
  EXPECT_EQ(ServerRun(pUri, "DROP DATABASE " + sName + " WITH (FORCE)"), "");
}

TEST_F(ReportMonth, CommandLineWritesEachTableAsCsvAndRefusesWhatItCannotReport) {
  Report report = ReportOf(Db());
  std::string sAll;
  for (const std::string& sTable : ReportTableNames()) {
    std::string sCsv = ReportCsv(report, sTable);
    Texts vLines = Split(sCsv.substr(0, sCsv.size() - 1), "\n");
    for (const std::string& sLine : vLines) {
      EXPECT_EQ(std::count(sLine.begin(), sLine.end(), ','), std::count(vLines[0].begin(), vLines[0].end(), ','))
          << sTable << ": " << sLine;
    }
    EXPECT_GT(vLines.size(), 1u) << sTable;
    sAll += (sAll.empty() ? "" : "\n") + sTable + "\n" + sCsv;
  }
  EXPECT_EQ(ReportCsv(report), sAll);
  EXPECT_EQ(ErrorOf([&] { ReportCsv(report, "tables"); }).Number(), errInvalidCall);
  const std::tuple<Texts, int, std::string> kCases[] = {
      {{"--csv", "shifts", "--from", "01/03/2024", "--to", "2024-03-31"}, 0, ReportCsv(report, "shifts")},
      {{"--month", "2024-03"}, 0, ReportText(report)},
      {{"--csv"}, 0, ReportCsv(report)},
      {{"--from", "32/03/2024"}, 2, "32/03/2024 is not a date"},
      {{"--month", "2024-3"}, 2, "2024-3 is not a month"},
      {{"--from", "2024-03-09", "--to", "2024-03-01"}, 2, "ends on 01/03/2024 before it starts on 09/03/2024"},
      {{"--csv", "tables"}, 2, "no table tables; its tables are summary, days, pcs"},
      {{"--month", "2024-02"}, 1, "no day from 01/02/2024 to 29/02/2024 is imported"},
      {{"--html", *spFolder / "no folder/page.html"}, 1, "cannot write"},
  };
  for (const auto& [vArguments, nExit, sSays] : kCases) {
    Texts vCommand{"--db", Db(), "report"};
    vCommand.insert(vCommand.end(), vArguments.begin(), vArguments.end());
    EXPECT_EQ(Unexpected(RunVarnlog(vCommand), nExit, sSays), "") << vArguments[0];
  }
}

// The page holds nothing from outside and a browser draws it: the screenshot is kept for people
// (scripts/screenshots copies it into docs/).
TEST_F(ReportMonth, PageIsSelfContainedAndABrowserDrawsIt) {
  const char* pBuild = std::getenv("VARN_BINARY_DIR");
  std::filesystem::path screenshots = std::filesystem::path(pBuild ? pBuild : ".") / "screenshots";
  std::filesystem::create_directories(screenshots);
  std::string sPage = (screenshots / "report-month.html").string(), sPng = (screenshots / "report-month.png").string();
  EXPECT_EQ(Unexpected(RunVarnlog({"--db", Db(), "report", "--html", sPage}), 0,
                       "Wrote the report of 01/03/2024 to "
                       "31/03/2024 to " +
                           sPage),
            "");
  std::string sHtml = ReadFile(sPage);
  EXPECT_EQ(FirstDifference(sHtml, ReportPage(ReportOf(Db()))), "");
  for (const char* pOutside : {"http:", "https:", "src=", "href=", "url(", "@import", "<script", "<link", "<img"}) {
    EXPECT_EQ(FoldCase(sHtml).find(pOutside), std::string::npos) << pOutside;
  }
  for (const char* pPart : {"<svg", "Takings per day", "Takings by user category", "Hours of use per PC",
                            "Sessions started by hour of the day", "@page { size: A4", "break-before: page"}) {
    EXPECT_NE(sHtml.find(pPart), std::string::npos) << pPart;
  }
  std::filesystem::remove(sPng);
  TempFolder profile;
  std::string sCommand =
      "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --hide-scrollbars "
      "--user-data-dir=" +
      profile.Path().string() + " --window-size=1100,2000 --screenshot=" + sPng + " file://" + sPage +
      " >/dev/null 2>&1";
  ASSERT_EQ(std::system(sCommand.c_str()), 0) << sCommand;
  std::string sImage = ReadFile(sPng);
  EXPECT_EQ(sImage.substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_GT(sImage.size(), 20000u);  // a blank page of that size packs into a few kilobytes
}

// A day's edge cases, each imported alone: what the report makes of it.
std::string Described(const Report& report) {
  const ReportSummary& summary = report.summary;
  std::string sText =
      fmt::format("{} sessions, {}:{:02} h ({} untimed), open {}:{:02}, difference {}", summary.lSessions,
                  summary.lMinutesUsed / 60, summary.lMinutesUsed % 60, summary.lUntimedSessions,
                  summary.lMinutesOpen / 60, summary.lMinutesOpen % 60, Cents(summary.dblDifference));
  Texts vShifts = Split(ReportCsv(report, "shifts"), "\n");
  for (size_t n = 1; n + 1 < vShifts.size(); ++n) sText += "; " + vShifts[n].substr(11);
  sText += "; started";
  for (const ReportHour& hour : report.vHours) sText += hour.lSessionsStarted ? fmt::format(" {}h", hour.nHour) : "";
  return sText;
}

TEST(ReportDay, EdgeCases) {
  const std::string kOn = ">> 05.03.2024 18:00:00 Sign On: Ann", kOff = "<< 05.03.2024 22:00:00 Sign Off: Ann";
  const std::string kSession = "\"PC01,19:00,20:30,1:30|1.00|Guest:2.00,3.00\"";
  const std::pair<Texts, std::string> kCases[] = {
      {{"End Total 0"}, "0 sessions, 0:00 h (0 untimed), open 0:00, difference 0.00; started"},
      {{kOn, kOff}, "0 sessions, 0:00 h (0 untimed), open 4:00, difference 0.00; Ann,18:00,22:00,0,0.00; started"},
      {{kSession, "\"PC02,21:00,21:45,0:45|,2.00|Member:1.50,3.50\"", "End Total 9.00"},
       "2 sessions, 2:15 h (0 untimed), open 2:45, difference 2.50; (outside any shift),,,2,6.50; started 19h 21h"},
      {{kOn, "\"PC01,23:30,00:45,1:15|1.00|Guest:2.00,3.00\"", "#06/03/2024#",
        "\"PC02,00:20,01:00,0:40|0.50|Guest:1.00,1.00\"", "<< 06.03.2024 01:30:00 Sign Off: Ann"},
       "2 sessions, 1:55 h (0 untimed), open 7:30, difference 0.00; Ann,18:00,01:30+1,2,4.00; started 0h 23h"},
      {{kOn, "\"PC01,7h00,20:00,1:30|0.50|Guest:1.00,1.00\"", "\"PC02,19:00,xx,0:45|0.50|Guest:1.00,1.00\"",
        "\"PC03,zz,,7|0.50|Guest:1.00,1.00\"", kOff},
       "3 sessions, 2:15 h (1 untimed), open 4:00, difference 0.00; Ann,18:00,22:00,1,1.00; "
       "(outside any shift),,,2,2.00; started 19h"},
      {{">> 05.03.2024 08:00:00 Sign On: <b>Ann</b>", kSession, "<< 05.03.2024 12:00:05 Sign Off: Bob",
        ">> 05.03.2024 18:30:00 Sign On: <script>", "\"PC02,21:00,21:45,0:45|0.50|Guest:1.00,1.00\""},
       "2 sessions, 2:15 h (0 untimed), open 13:45, difference 0.00; <b>Ann</b>,08:00,(18:30),0,0.00; "
       "Bob,(08:00),12:00,0,0.00; <script>,18:30,(21:45),2,4.00; started 19h 21h"},
  };
  for (const auto& [vLines, sExpected] : kCases) {
    TempFolder folder;
    Texts vLog{"#05/03/2024#"};
    vLog.insert(vLog.end(), vLines.begin(), vLines.end());
    RunResult result =
        RunVarnlog({"--db", folder / "day.mdb", "import", WriteFile(folder / "05-03-2024.log", LogText(vLog))});
    ASSERT_EQ(Unexpected(result, 0), "");
    Report report = ReportOf(folder / "day.mdb");
    EXPECT_EQ(Described(report), sExpected) << vLines[0];
    EXPECT_EQ(FoldCase(ReportPage(report)).find("<script"), std::string::npos);
  }
}

}  // namespace
}  // namespace varn::test
