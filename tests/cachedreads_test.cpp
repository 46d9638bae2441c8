// Reads kept between calls (the history of imported dates, the keys an update looks up) are
// read again only when a stored row may have changed: every kind of change, by this program or
// another, must show in the next read.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <utility>

#include "db/modMainLog.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

// A change made by another program (SQL run with SQLite itself), or by this one on its own
// connection inside a transaction left open until a rollback.
using Change = std::function<void(const std::string& sDB, Connection& own)>;

Change Others(const std::string& sSql) {
  return [sSql](const std::string& sDB, Connection&) { SqlExec(sDB, sSql); };
}
Change Own(const std::string& sSql) {
  return [sSql](const std::string&, Connection& own) {
    if (own.TransactionDepth() == 0) own.BeginTrans();
    own.Execute(sSql);
  };
}
const Change fnRollback = [](const std::string&, Connection& own) { own.RollbackTrans(); };

class CachedReads : public ::testing::Test {
 protected:
  void TearDown() override { gobjLogAnalysis.reset(); }

  TempFolder mFolder;
  std::string msDB = mFolder / "varnrpt.mdb";
  std::shared_ptr<clsRecordingUI> mpScreen = UseRecordingUI();
};

TEST_F(CachedReads, EveryChangeToTheStoredDatesShowsInTheNextHistoryReload) {
  auto pService = OpenService(msDB);
  ASSERT_TRUE(pService->IsConnected());
  // The second load finds nothing changed since the first, and may use its rows again.
  const Change fnLoad = [&](const std::string&, Connection&) {
    pService->GetHistoryDates();
    pService->GetHistoryDates();
  };
  const std::string sAdd = "INSERT INTO DateRange VALUES (9, '05/05/2005', 1, '06/05/2005')";
  const std::tuple<const char*, std::vector<Change>, std::string> vCases[] = {
      {"another program adds a date", {fnLoad, Others(sAdd)}, "01/01/2004 05/05/2005 "},
      {"another program deletes the date", {fnLoad, Others("DELETE FROM DateRange WHERE Date_ID=1")}, ""},
      {"another program changes its day", {fnLoad, Others("UPDATE DateRange SET LogDate='02/01/2004'")}, "02/01/2004 "},
      {"this program adds a date inside its transaction", {fnLoad, Own(sAdd)}, "01/01/2004 05/05/2005 "},
      {"this program rolls back a date the history has seen", {Own(sAdd), fnLoad, fnRollback}, "01/01/2004 "},
  };
  Connection& own = *pService->DBConnection()->DBConnection();
  for (const auto& [pWhat, vChanges, sAfter] : vCases) {
    SCOPED_TRACE(pWhat);
    SqlExec(msDB, "DELETE FROM DateRange; INSERT INTO DateRange VALUES (1, '01/01/2004', 0, '02/01/2004')");
    for (const Change& fnChange : vChanges) fnChange(msDB, own);
    pService->GetHistoryDates();
    std::string sDates;
    for (const auto& pItem : *pService->HistoryLogDates()) sDates += FormatDate(pItem->LogDate(), "dd/mm/yyyy") + " ";
    EXPECT_EQ(sDates, sAfter);
    if (own.TransactionDepth() > 0) own.RollbackTrans();
  }
}

TEST_F(CachedReads, EveryChangeToTheStoredLinesShowsInTheNextKeyLookUp) {
  TestService service(msDB, false);
  // The keys of lines 12 and 13 of date 3, looked up in that order as an update does.
  auto Keys = [] { return std::pair{GetExistingID(enuSessionTable, 12, 3), GetExistingID(enuSessionTable, 13, 3)}; };
  constexpr int32_t kNone = kNoExistingID;
  const Change fnLookUp = [&](const std::string&, Connection&) { EXPECT_EQ(Keys(), std::pair(20, kNone)); };
  const std::string sSession = "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES ";
  const std::tuple<const char*, std::vector<Change>, std::pair<int32_t, int32_t>> vCases[] = {
      {"another program adds line 13", {Others(sSession + "(9,3,13)")}, {7, 9}},
      {"another program deletes line 12", {Others("DELETE FROM Session")}, {kNone, kNone}},
      {"another program moves line 12 to date 4", {Others("UPDATE Session SET Date_ID=4")}, {kNone, kNone}},
      {"this program gives line 12 a second row", {Own(sSession + "(20,3,12)")}, {20, kNone}},
      {"this program rolls it back after a look-up", {Own(sSession + "(20,3,12)"), fnLookUp, fnRollback}, {7, kNone}},
  };
  Connection& own = SharedConnection();
  for (const auto& [pWhat, vChanges, sAfter] : vCases) {
    SCOPED_TRACE(pWhat);
    SqlExec(msDB, "DELETE FROM Session; " + sSession + "(7,3,12)");
    EXPECT_EQ(Keys(), std::pair(7, kNone));
    for (const Change& fnChange : vChanges) fnChange(msDB, own);
    EXPECT_EQ(Keys(), sAfter);
    if (own.TransactionDepth() > 0) own.RollbackTrans();
  }
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
}

}  // namespace
}  // namespace varn::test
