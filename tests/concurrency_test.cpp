// Importers that meet on one database: two command lines started together, round after round,
// and a writer that keeps the database past the wait. Each import stands whole and once, or
// fails cleanly with a report and writes nothing.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <filesystem>
#include <iostream>

#include "tests/FaultSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

struct Outcome {
  RunResult a, b;
};

// Starts both imports at the same moment and times each until it ends.
Outcome RunTogether(const TempFolder& folder, const std::vector<std::string>& vA, const std::vector<std::string>& vB) {
  auto start = std::chrono::steady_clock::now();
  pid_t pidA = StartVarnlog(vA, folder / "a.txt");
  pid_t pidB = StartVarnlog(vB, folder / "b.txt");
  Outcome outcome;
  for (int nOpen = 2; nOpen > 0;) {
    int nStatus = 0;
    pid_t pid = wait(&nStatus);
    if (pid < 0 && errno == ECHILD) break;
    if (pid != pidA && pid != pidB) continue;
    --nOpen;
    RunResult& result = pid == pidA ? outcome.a : outcome.b;
    result.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    result.dblSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  outcome.a.sOutput = ReadFile(folder / "a.txt");
  outcome.b.sOutput = ReadFile(folder / "b.txt");
  return outcome;
}

std::string DayName(int nDay) { return (nDay < 10 ? "0" : "") + std::to_string(nDay) + "-05-2025"; }
std::string DayDate(int nDay) { return DayName(nDay).substr(0, 2) + "/05/2025"; }

// No key, user or day stored twice; every session with its goods row under the same date, and
// the keys of each date in one unbroken run (the two imports never interleaved).
void ExpectEveryDayWholeAndOnce(const std::string& sDB, int nDays, int nSessions) {
  EXPECT_EQ(IntegrityCheck(sDB), "ok");
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(DISTINCT LogDate) || '/' || COUNT(*) FROM DateRange"),
            std::to_string(nDays) + "/" + std::to_string(nDays));
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(DISTINCT UserName) || '/' || COUNT(*) FROM User"), "4/4");
  EXPECT_EQ(
      SqlRows(sDB,
              "SELECT d.LogDate, COUNT(s.Session_ID), MAX(s.Session_ID) - MIN(s.Session_ID) + 1 "
              "FROM DateRange d LEFT JOIN Session s ON s.Date_ID = d.Date_ID GROUP BY d.Date_ID "
              "HAVING COUNT(s.Session_ID) <> " +
                  std::to_string(nSessions) + " OR MAX(s.Session_ID) - MIN(s.Session_ID) + 1 <> COUNT(s.Session_ID)"),
      Rows{});
  EXPECT_EQ(SqlValue(sDB,
                     "SELECT COUNT(*) FROM Session s JOIN Goods g ON g.Session_ID = s.Session_ID "
                     "AND g.Date_ID = s.Date_ID"),
            std::to_string(nDays * nSessions));
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Goods"), std::to_string(nDays * nSessions));
  // A generated day signs on and off once, and again every 2,000 sessions.
  int nShifts = nDays * (2 + 2 * (nSessions / 2000));
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Shift s JOIN DateRange d ON d.Date_ID = s.Date_ID"),
            std::to_string(nShifts));
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Shift"), std::to_string(nShifts));
}

constexpr int kRounds = 4;
constexpr int kSessions = 3000;

TEST(TwoImporters, DifferentDatesAllComplete) {
  TempFolder folder;
  std::string sDB = folder / "shop.db";
  for (int nRound = 0; nRound < kRounds; ++nRound) {
    SCOPED_TRACE("round " + std::to_string(nRound + 1));
    int nDay = 2 * nRound + 1;
    std::string sA = WriteFile(folder / (DayName(nDay) + ".log"), GeneratedDay(DayDate(nDay), kSessions));
    std::string sB = WriteFile(folder / (DayName(nDay + 1) + ".log"), GeneratedDay(DayDate(nDay + 1), kSessions));
    Outcome outcome = RunTogether(folder, {"--db", sDB, "import", sA}, {"--db", sDB, "import", sB});
    EXPECT_EQ(outcome.a.nExit, 0) << outcome.a.sOutput;
    EXPECT_EQ(outcome.b.nExit, 0) << outcome.b.sOutput;
    EXPECT_NE(outcome.a.sOutput.find("inserted " + DayDate(nDay)), std::string::npos) << outcome.a.sOutput;
    EXPECT_NE(outcome.b.sOutput.find("inserted " + DayDate(nDay + 1)), std::string::npos) << outcome.b.sOutput;
    std::cout << "different dates, round " << nRound + 1 << ": done after " << outcome.a.dblSeconds << " s and "
              << outcome.b.dblSeconds << " s\n";
  }
  ExpectEveryDayWholeAndOnce(sDB, 2 * kRounds, kSessions);
}

TEST(TwoImporters, SameNewDateStandsOnce) {
  TempFolder folder;
  std::string sDB = folder / "shop.db";
  fs::create_directories(folder.Path() / "a");
  fs::create_directories(folder.Path() / "b");
  int nFailedMeanwhile = 0, nSkipped = 0;
  for (int nRound = 0; nRound < kRounds; ++nRound) {
    SCOPED_TRACE("round " + std::to_string(nRound + 1));
    int nDay = 11 + nRound;
    std::string sLog = GeneratedDay(DayDate(nDay), kSessions);
    std::string sA = WriteFile(folder / ("a/" + DayName(nDay) + ".log"), sLog);
    std::string sB = WriteFile(folder / ("b/" + DayName(nDay) + ".log"), sLog);
    Outcome outcome = RunTogether(folder, {"--db", sDB, "import", sA}, {"--db", sDB, "import", sB});
    bool bAStands = outcome.a.sOutput.find("inserted " + DayDate(nDay)) != std::string::npos;
    bool bBStands = outcome.b.sOutput.find("inserted " + DayDate(nDay)) != std::string::npos;
    ASSERT_NE(bAStands, bBStands) << outcome.a.sOutput << outcome.b.sOutput;
    const RunResult& winner = bAStands ? outcome.a : outcome.b;
    const RunResult& other = bAStands ? outcome.b : outcome.a;
    EXPECT_EQ(winner.nExit, 0) << winner.sOutput;
    // The other one either found the date stored only once it held the lock, or saw it in the
    // history from the start; without a terminal the update question is answered No.
    if (other.nExit == 1) {
      ++nFailedMeanwhile;
      EXPECT_NE(other.sOutput.find("The log date " + DayName(nDay) +
                                   " was already imported meanwhile by another "
                                   "import; nothing of " +
                                   DayName(nDay) + ".log was written."),
                std::string::npos)
          << other.sOutput;
      EXPECT_NE(other.sOutput.find("failed (nothing written)"), std::string::npos) << other.sOutput;
    } else {
      ++nSkipped;
      EXPECT_EQ(other.nExit, 0) << other.sOutput;
      EXPECT_NE(other.sOutput.find("skipped (already imported, not updated)"), std::string::npos) << other.sOutput;
    }
    std::cout << "same date, round " << nRound + 1 << ": the one that stands done after " << winner.dblSeconds
              << " s, the other (" << (other.nExit == 1 ? "failed" : "skipped") << ") after " << other.dblSeconds
              << " s\n";
  }
  std::cout << "same date: " << nFailedMeanwhile << " failed as imported meanwhile, " << nSkipped << " skipped\n";
  ExpectEveryDayWholeAndOnce(sDB, kRounds, kSessions);
}

// Another program's connection, holding the write lock until it ends.
class LockHolder {
 public:
  explicit LockHolder(const std::string& sDB) {
    sqlite3_open(sDB.c_str(), &mpDb);
    Run("BEGIN IMMEDIATE");
    Run("INSERT INTO User (User_ID, UserName) VALUES (999, 'Not yet committed')");
  }
  ~LockHolder() {
    Run("ROLLBACK");
    sqlite3_close(mpDb);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  void Run(const char* pSql) {
    if (sqlite3_exec(mpDb, pSql, nullptr, nullptr, nullptr) != SQLITE_OK) ADD_FAILURE() << sqlite3_errmsg(mpDb);
  }
  sqlite3* mpDb = nullptr;
};

TEST(TwoImporters, AWriterHoldingTheDatabasePastTheWaitFailsTheOtherCleanly) {
  TempFolder folder;
  std::string sDB = folder / "shop.db";
  std::string sEarlier = WriteFile(folder / (DayName(1) + ".log"), GeneratedDay(DayDate(1), 50));
  ASSERT_EQ(RunVarnlog(folder, {"--db", sDB, "import", sEarlier}).nExit, 0);
  std::string sBefore = Dump(sDB);
  std::string sLog = WriteFile(folder / (DayName(2) + ".log"), GeneratedDay(DayDate(2), 500));
  {
    LockHolder holder(sDB);
    RunResult queued = RunVarnlog(folder, {"--db", sDB, "--wait", "1", "import", sLog});
    EXPECT_EQ(queued.nExit, 1) << queued.sOutput;
    EXPECT_NE(queued.sOutput.find("01/clsLogAnalysis:ProcessLogFile\ndatabase is locked"), std::string::npos)
        << queued.sOutput;
    EXPECT_NE(queued.sOutput.find(DayName(2) + ".log: failed (nothing written)"), std::string::npos) << queued.sOutput;
    // It waited for the lock as long as it was told, and no longer than it needs to give up.
    EXPECT_GE(queued.dblSeconds, 1.0);
    EXPECT_LT(queued.dblSeconds, 10.0);
    std::cout << "queued importer gave up after " << queued.dblSeconds << " s with --wait 1\n";
  }
  EXPECT_EQ(FirstDifference(Dump(sDB), sBefore), "");

  RunResult again = RunVarnlog(folder, {"--db", sDB, "--wait", "1", "import", sLog});
  EXPECT_EQ(again.nExit, 0) << again.sOutput;
  EXPECT_NE(again.sOutput.find("inserted " + DayDate(2) + " (500 sessions"), std::string::npos) << again.sOutput;
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Session"), "550");
  EXPECT_EQ(SqlValue(sDB,
                     "SELECT MIN(Session_ID) - (SELECT MAX(Session_ID) FROM Session WHERE Date_ID = 1) "
                     "FROM Session WHERE Date_ID = 2"),
            "2");
}

}  // namespace
}  // namespace varn::test
