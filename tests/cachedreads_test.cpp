// Reads kept between calls (the history of imported dates, the keys an update looks up) are
// read again only when a stored row may have changed: every kind of change, by this program or
// another, must show in the next read.
#include <gtest/gtest.h>

#include <functional>

#include "db/modMainLog.h"
#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

std::vector<std::string> Keys(const clsLogAnalysis& service) {
  std::vector<std::string> vKeys;
  for (const auto& pItem : *service.HistoryLogDates()) vKeys.push_back(FormatDate(pItem->LogDate(), "dd/mm/yyyy"));
  return vKeys;
}

TEST(HistoryReload, EveryChangeToTheStoredDatesShowsInTheNextReload) {
  using Step = std::function<void(const std::string& sDB, Connection& own)>;
  const Step fnNothing = [](const std::string&, Connection&) {};
  const Step fnOwnAdds = [](const std::string&, Connection& own) {
    own.BeginTrans();
    own.Execute("INSERT INTO DateRange VALUES (9, '05/05/2005', 1, '06/05/2005')");
  };
  struct Change {
    const char* pWhat;
    Step fnBefore;  // before the history is loaded twice
    Step fnChange;  // after
    std::vector<std::string> vAfter;
  };
  const std::vector<Change> vChanges = {
      {"another program adds a date", fnNothing,
       [](const std::string& sDB, Connection&) {
         SqlExec(sDB, "INSERT INTO DateRange VALUES (9, '05/05/2005', 1, '06/05/2005')");
       },
       {"01/01/2004", "05/05/2005"}},
      {"another program deletes the date", fnNothing,
       [](const std::string& sDB, Connection&) { SqlExec(sDB, "DELETE FROM DateRange WHERE Date_ID=1"); }, {}},
      {"another program changes the date's day", fnNothing,
       [](const std::string& sDB, Connection&) {
         SqlExec(sDB, "UPDATE DateRange SET LogDate='02/01/2004' WHERE Date_ID=1");
       },
       {"02/01/2004"}},
      {"this program adds a date inside its transaction", fnNothing, fnOwnAdds, {"01/01/2004", "05/05/2005"}},
      {"this program rolls back a date the history has seen", fnOwnAdds,
       [](const std::string&, Connection& own) { own.RollbackTrans(); }, {"01/01/2004"}},
  };

  TempFolder folder;
  UseRecordingUI();
  std::string sDB = folder / "varnrpt.mdb";
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(sDB);
  ASSERT_TRUE(pService->IsConnected());
  Connection& own = *pService->DBConnection()->DBConnection();
  for (const Change& change : vChanges) {
    SCOPED_TRACE(change.pWhat);
    SqlExec(sDB, "DELETE FROM DateRange; INSERT INTO DateRange VALUES (1, '01/01/2004', 0, '02/01/2004')");
    change.fnBefore(sDB, own);
    // The second load finds nothing changed since the first, and may use its rows again.
    pService->GetHistoryDates();
    pService->GetHistoryDates();
    change.fnChange(sDB, own);
    pService->GetHistoryDates();
    EXPECT_EQ(Keys(*pService), change.vAfter);
    if (own.TransactionDepth() > 0) own.RollbackTrans();
  }
  gobjLogAnalysis.reset();
}

TEST(ExistingKeys, EveryChangeToTheStoredLinesShowsInTheNextLookUp) {
  struct Change {
    const char* pWhat;
    std::function<void(const std::string& sDB, Connection& own)> fnChange;
    int32_t lLine12, lLine13;  // the keys found afterwards for lines 12 and 13 of date 3
  };
  const std::vector<Change> vChanges = {
      {"another program adds line 13",
       [](const std::string& sDB, Connection&) {
         SqlExec(sDB, "INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (9,3,13)");
       },
       7, 9},
      {"another program deletes line 12",
       [](const std::string& sDB, Connection&) { SqlExec(sDB, "DELETE FROM Session WHERE Session_ID=7"); },
       kNoExistingID, kNoExistingID},
      {"another program moves line 12 to another date",
       [](const std::string& sDB, Connection&) { SqlExec(sDB, "UPDATE Session SET Date_ID=4 WHERE Session_ID=7"); },
       kNoExistingID, kNoExistingID},
      {"this program gives line 12 a second row",
       [](const std::string&, Connection& own) {
         own.BeginTrans();
         own.Execute("INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (20,3,12)");
       },
       20, kNoExistingID},
      {"this program rolls that row back",
       [](const std::string&, Connection& own) {
         own.BeginTrans();
         own.Execute("INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (20,3,12)");
         EXPECT_EQ(GetExistingID(enuSessionTable, 12, 3), 20);
         own.RollbackTrans();
       },
       7, kNoExistingID},
  };

  TempFolder folder;
  auto pScreen = UseRecordingUI();
  std::string sDB = folder / "varnrpt.mdb";
  auto pService = UseTestService(sDB);
  Connection& own = *pService->DBConnection()->DBConnection();
  for (const Change& change : vChanges) {
    SCOPED_TRACE(change.pWhat);
    SqlExec(sDB, "DELETE FROM Session; INSERT INTO Session (Session_ID,Date_ID,LineNo) VALUES (7,3,12)");
    EXPECT_EQ(GetExistingID(enuSessionTable, 12, 3), 7);
    EXPECT_EQ(GetExistingID(enuSessionTable, 13, 3), kNoExistingID);
    change.fnChange(sDB, own);
    EXPECT_EQ(GetExistingID(enuSessionTable, 12, 3), change.lLine12);
    EXPECT_EQ(GetExistingID(enuSessionTable, 13, 3), change.lLine13);
    if (own.TransactionDepth() > 0) own.RollbackTrans();
  }
  EXPECT_TRUE(pScreen->mvBoxes.empty());
  gobjLogAnalysis.reset();
}

}  // namespace
}  // namespace varn::test
