// The history is read again only when a stored row may have changed: every kind of change,
// by this program or another, must show in the next reload.
#include <gtest/gtest.h>

#include <functional>

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

}  // namespace
}  // namespace varn::test
