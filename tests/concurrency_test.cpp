// Importers that meet on one database: two command lines started together, round after round.
// Each import stands whole and once, or fails cleanly with a report and writes nothing. (A writer
// that keeps the database past the wait is one of the database faults.)
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/TestSupport.h"

namespace varn::test {
namespace {

constexpr int kRounds = 4;
constexpr int kSessions = 3000;

std::string DayName(int nDay) { return (nDay < 10 ? "0" : "") + std::to_string(nDay) + "-05-2025"; }
std::string DayDate(int nDay) { return DayName(nDay).substr(0, 2) + "/05/2025"; }
bool Has(const RunResult& result, const std::string& sText) { return result.sOutput.find(sText) != std::string::npos; }

// Starts both imports of sDB at the same moment, and waits for both.
std::pair<RunResult, RunResult> RunTogether(const TempFolder& folder, const std::string& sDB, const std::string& sA,
                                            const std::string& sB) {
  pid_t pidA = StartVarnlog({"--db", sDB, "import", sA}, folder / "a.txt");
  pid_t pidB = StartVarnlog({"--db", sDB, "import", sB}, folder / "b.txt");
  // Each output is read once its command has ended: a braced list runs in order.
  RunResult a{WaitFor(pidA), ReadFile(folder / "a.txt")};
  return {a, RunResult{WaitFor(pidB), ReadFile(folder / "b.txt")}};
}

// No key, user or day stored twice; every session with its goods row under the same date, and
// the keys of each date in one unbroken run (the two imports never interleaved). A generated
// day signs on and off once, and again every 2,000 sessions.
void ExpectEveryDayWholeAndOnce(const std::string& sDB, int nDays) {
  std::string sDays = std::to_string(nDays), sSessions = std::to_string(nDays * kSessions);
  std::string sShifts = std::to_string(nDays * (2 + 2 * (kSessions / 2000)));
  for (const auto& [sSql, sExpected] : std::vector<std::pair<std::string, std::string>>{
           {"PRAGMA integrity_check", "ok"},
           {"SELECT COUNT(DISTINCT LogDate) || '/' || COUNT(*) FROM DateRange", sDays + "/" + sDays},
           {"SELECT COUNT(DISTINCT UserName) || '/' || COUNT(*) FROM User", "4/4"},
           {"SELECT COUNT(*) FROM (SELECT 1 FROM DateRange d LEFT JOIN Session s ON s.Date_ID = d.Date_ID "
            "GROUP BY d.Date_ID HAVING COUNT(s.Session_ID) <> " +
                std::to_string(kSessions) + " OR MAX(s.Session_ID) - MIN(s.Session_ID) + 1 <> COUNT(s.Session_ID))",
            "0"},
           {"SELECT COUNT(*) FROM Session JOIN Goods USING (Session_ID, Date_ID)", sSessions},
           {"SELECT COUNT(*) FROM Goods", sSessions},
           {"SELECT COUNT(*) FROM Shift JOIN DateRange USING (Date_ID)", sShifts},
           {"SELECT COUNT(*) FROM Shift", sShifts}}) {
    EXPECT_EQ(SqlValue(sDB, sSql), sExpected) << sSql;
  }
}

// Round after round both start together: on different dates both insert theirs; on the same new
// date one stands, and the other found it stored only once it held the lock (failed, nothing
// written) or saw it in the history from the start (declined without a terminal: skipped).
TEST(TwoImporters, DifferentDatesAllCompleteAndTheSameNewDateStandsOnce) {
  for (bool bSameDate : {false, true}) {
    TempFolder folder;
    std::string sDB = folder / "shop.db";
    for (const char* sSub : {"a", "b"}) std::filesystem::create_directory(folder / sSub);
    for (int nRound = 0; nRound < kRounds; ++nRound) {
      int nA = 2 * nRound + 1, nB = bSameDate ? nA : nA + 1;
      SCOPED_TRACE((bSameDate ? "same date, round " : "different dates, round ") + std::to_string(nRound + 1));
      std::string sA = WriteFile(folder / ("a/" + DayName(nA) + ".log"), GeneratedDay(DayDate(nA), kSessions));
      std::string sB = WriteFile(folder / ("b/" + DayName(nB) + ".log"), GeneratedDay(DayDate(nB), kSessions));
      auto [a, b] = RunTogether(folder, sDB, sA, sB);
      ASSERT_EQ(Has(a, "inserted " + DayDate(nA)) + Has(b, "inserted " + DayDate(nB)), bSameDate ? 1 : 2)
          << a.sOutput << b.sOutput;
      for (const auto& [pResult, nDay] : {std::pair{&a, nA}, std::pair{&b, nB}}) {
        SCOPED_TRACE(pResult->sOutput);
        std::string sDay = DayName(nDay);
        if (pResult->nExit == 1) {
          EXPECT_TRUE(Has(*pResult, "The log date " + sDay +
                                        " was already imported meanwhile by another import; nothing of " + sDay +
                                        ".log was written."));
          EXPECT_TRUE(Has(*pResult, "failed (nothing written)"));
        } else {
          EXPECT_EQ(pResult->nExit, 0);
          EXPECT_TRUE(Has(*pResult, "inserted " + DayDate(nDay)) ||
                      Has(*pResult, "skipped (already imported, not updated)"));
        }
      }
    }
    ExpectEveryDayWholeAndOnce(sDB, bSameDate ? kRounds : 2 * kRounds);
  }
}

}  // namespace
}  // namespace varn::test
