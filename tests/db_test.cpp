// The database layer end to end on real SQLite files: the report database and its dialect,
// error numbers, nested and lost transactions, the recordset, the statement trace, the sign-on
// and its reports, and key allocation. Most cases are steps in tests/data/db-steps.txt, each
// with what it must give, played on a fresh database by the test of the section's name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "db/Recordset.h"
#include "runtime/Text.h"
#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

// A value with its kind: texts quoted, doubles with a decimal point, whole numbers bare.
std::string Shown(const Variant& v) {
  std::string s = v.IsNull() ? "Null" : v.ToText();
  if (v == Variant(s)) return "'" + s + "'";
  return !v.IsNull() && v == Variant(v.ToDouble()) && s.find('.') == std::string::npos ? s + ".0" : s;
}

int32_t Kind(const std::string& sName) {
  const std::map<std::string, int32_t> mapKinds{
      {"DateRange", enuDateRangeTable}, {"Shift", enuShiftTable}, {"Session", enuSessionTable}, {"User", enuUserTable}};
  return mapKinds.contains(sName) ? mapKinds.at(sName) : std::stoi(sName);
}

class DbTest : public ::testing::Test {
 protected:
  void TearDown() override { gobjLogAnalysis.reset(); }

  // What a step gives (the head of db-steps.txt tells the steps), marked with a move of the
  // schema epoch, failures not counted once, the mouse pointers set and the boxes shown.
  std::string Outcome(const std::string& sStep) {
    Connection& conn = *mpConn;
    uint64_t lEpoch = conn.SchemaEpoch(), lFailures = conn.FailureCount();
    mpScreen = UseRecordingUI();
    Texts vWords = Split(sStep, " ");
    std::string sResult;
    clsError err = ErrorOf([&] {
      if (sStep == "begin") {
        sResult = "depth " + NumText(int64_t{conn.BeginTrans()});
      } else if (sStep == "commit" || sStep == "rollback" || sStep == "depth") {
        if (sStep != "depth") sStep == "commit" ? conn.CommitTrans() : conn.RollbackTrans();
        sResult = "depth " + NumText(int64_t{conn.TransactionDepth()});
      } else if (sStep == "others") {
        sResult = SqlValue(msDB, "SELECT IFNULL(GROUP_CONCAT(User_ID), '-') FROM (SELECT * FROM User ORDER BY 1)");
      } else if (vWords[0] == "other:") {
        SqlExec(msDB, sStep.substr(7));
        sResult = "done";
      } else if (vWords[0] == "next") {
        sResult = NumText(int64_t{GetNextID(Kind(vWords.at(1)))});
      } else if (vWords[0] == "existing") {
        sResult = NumText(int64_t{GetExistingID(Kind(vWords.at(1)), std::stoi(vWords.at(2)), std::stoi(vWords.at(3)))});
      } else if (vWords[0] == "signon") {
        bool bOn = mSignOn.SignOn(sStep.substr(7)) && mSignOn.IsConnected();
        sResult = bOn ? "connected" : "refused, " + NumText(int64_t{ErrorOf([&] { mSignOn.DBConnection(); }).Number()});
      } else if (vWords[0] == "rs") {
        sResult = RecordsetStep(vWords.at(1), sStep.substr(std::min(sStep.size(), vWords[1].size() + 4)));
      } else if (vWords[0] == "service") {
        (mpImport = clsLogAnalysis::Create())->Initialize(sStep.substr(8));
        sResult = gobjLogAnalysis->IsConnected() ? "connected" : "not connected";
      } else if (sStep == "disconnect") {
        conn.Close();
        sResult = conn.State() == adStateClosed ? "closed" : "open";
      } else if (vWords[0] == "SELECT") {
        for (const auto& vRow : conn.Query(sStep).vRows) {
          sResult += sResult.empty() ? "" : "; ";
          for (size_t n = 0; n < vRow.size(); ++n) sResult += (n ? ", " : "") + Shown(vRow[n]);
        }
      } else {
        int64_t lAffected = -1;
        conn.Execute(sStep, &lAffected, -1);
        sResult = NumText(lAffected);
      }
    });
    if (err.Number() != 0) sResult = "error " + NumText(int64_t{err.Number()}) + ": " + err.Description();
    if (conn.SchemaEpoch() != lEpoch) sResult += " [new epoch]";
    uint64_t lCounted = conn.FailureCount() - lFailures;
    if (lCounted != (err.Number() != 0 ? 1u : 0u)) sResult += " [failures " + NumText(int64_t(lCounted)) + "]";
    for (int nPointer : mpScreen->mvPointers) sResult += nPointer == vbHourglass ? " [hourglass]" : " [default]";
    for (const auto& box : mpScreen->mvBoxes) sResult += " [box: " + Replace(box.sPrompt, "\r\n", " / ") + "]";
    return sResult;
  }
  std::string RecordsetStep(const std::string& sVerb, const std::string& sRest) {
    if (sVerb == "count") return NumText(int64_t{mRs.FieldCount()});
    if (sVerb == "name") return mRs.FieldName(std::stoi(sRest));
    if (sVerb == "field") return Shown(mRs.Fields(sRest));
    if (sVerb == "open") mRs.Open(sRest, *mpConn, adOpenDynamic, adLockOptimistic, -1);
    if (sVerb == "next") mRs.MoveNext();
    if (sVerb == "first") mRs.MoveFirst();
    if (sVerb == "last") mRs.MoveLast();
    if (sVerb == "close") mRs.Close();
    if (!mRs.IsOpen() && sVerb != "eof") return "closed";
    return mRs.EOF_() ? (mRs.BOF() ? "BOF EOF" : "EOF") : "on a row";
  }
  // Plays the section of db-steps.txt named after the test, on a fresh database.
  void PlayOwnSteps() {
    std::string sTitle = "== " + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
    Texts vLines = Split(ReadFile(DataFile("db-steps.txt")), "\n");
    auto it = std::find(vLines.begin(), vLines.end(), sTitle);
    ASSERT_NE(it, vLines.end()) << sTitle;
    TestService service(msDB, false);
    mpConn = &SharedConnection();
    for (++it; it != vLines.end() && !it->starts_with("== "); ++it) {
      if (it->empty() || it->starts_with("#")) continue;
      size_t nArrow = it->find(" -> ");
      ASSERT_NE(nArrow, std::string::npos) << *it;
      std::string sStep = Replace(it->substr(0, nArrow), "$DIR", mFolder.Path().string());
      EXPECT_EQ(Replace(Outcome(sStep), mFolder.Path().string(), "$DIR"), it->substr(nArrow + 4))
          << "db-steps.txt line " << it - vLines.begin() + 1;
    }
  }

  TempFolder mFolder;
  std::string msDB = mFolder / "r.mdb";
  std::shared_ptr<clsRecordingUI> mpScreen = UseRecordingUI();
  Connection* mpConn = nullptr;
  clsConnection mSignOn;  // one object for every sign-on step
  Recordset mRs;
  std::shared_ptr<clsLogAnalysis> mpImport;  // an import service of a "service" step
};

TEST_F(DbTest, NewFileGetsTheFiveTablesIndexesAndDurableJournal) {
  auto pService = std::make_unique<TestService>(msDB, false);
  EXPECT_EQ(Dump(msDB), ReadFile(DataFile("db-new.dump")));
  EXPECT_EQ(SqlValue(msDB, "PRAGMA journal_mode"), "delete");
  pService.reset();
  // Nothing is left beside it, and opening it again keeps its rows.
  EXPECT_EQ(std::distance(fs::directory_iterator(mFolder.Path()), {}), 1);
  SqlExec(msDB, "INSERT INTO User VALUES (1,'Member')");
  pService = std::make_unique<TestService>(msDB, false);
  EXPECT_EQ(SqlValue(msDB, "SELECT UserName FROM User"), "Member");
}

TEST_F(DbTest, TheSystemsStatementsRunInTheirDialect) { PlayOwnSteps(); }
TEST_F(DbTest, FormatReadsStoredDatesDayFirstAndGivesNullForOtherValues) { PlayOwnSteps(); }
TEST_F(DbTest, FailedStatementsCarryTheirNumberAndChangeNothing) { PlayOwnSteps(); }
TEST_F(DbTest, NestedTransactionsEndTheInnermostAndCommitOnlyAtTheOutermost) { PlayOwnSteps(); }
TEST_F(DbTest, ATransactionTheEngineEndedRefusesEverythingUntilTheOutermostRollback) { PlayOwnSteps(); }
TEST_F(DbTest, NextIDIsOneMoreThanTheHighestKeyAndSeesTheOpenTransaction) { PlayOwnSteps(); }
TEST_F(DbTest, ExistingIDFindsTheRowOfThatLineAndDate) { PlayOwnSteps(); }
TEST_F(DbTest, RecordsetWalksRowsAndRefusesReadsWithoutACurrentRow) { PlayOwnSteps(); }
TEST_F(DbTest, KeysWithoutAConnectedDatabaseAreMinusOneWithoutABox) { PlayOwnSteps(); }

TEST_F(DbTest, TheTraceHoldsEveryStatementAndOpeningAnotherDatabaseClosesTheFirst) {
  GlobalDatabaseSettings().sTraceFile = mFolder / "trace.sql";
  clsAccessDatabase database;
  database.OpenDatabase(mFolder / "a.mdb");
  GlobalDatabaseSettings() = DatabaseSettings{};
  auto pFirst = database.GetConnection();
  EXPECT_EQ(database.GetConnection(), pFirst);
  pFirst->Execute("INSERT INTO User VALUES (1,'a')");
  pFirst->BeginTrans();
  pFirst->Execute("INSERT INTO User\r\nVALUES (2,'b\\c')");
  pFirst->CommitTrans();
  EXPECT_ANY_THROW(pFirst->Execute("SELECT * FROM Nowhere"));
  pFirst->Query("SELECT * FROM User");
  const std::string sExpected =
      "INSERT INTO User VALUES (1,'a')\nINSERT INTO User\\r\\nVALUES (2,'b\\\\c')\nSELECT * FROM Nowhere\n"
      "SELECT * FROM User\n";
  EXPECT_EQ(ReadFile(mFolder / "trace.sql"), sExpected);
  // The trace setting belongs to databases opened while it was set.
  database.OpenDatabase(msDB);
  EXPECT_EQ(pFirst->State(), adStateClosed);
  database.GetConnection()->Execute("INSERT INTO User VALUES (1,'b')");
  EXPECT_EQ(ReadFile(mFolder / "trace.sql"), sExpected);
  std::string sCount = "SELECT COUNT(*) FROM User";
  EXPECT_EQ(SqlValue(msDB, sCount) + SqlValue(mFolder / "a.mdb", sCount), "12");
  // A failed open leaves nothing connected, not the earlier database.
  EXPECT_ANY_THROW(database.OpenDatabase(mFolder.Path()));
  EXPECT_FALSE(database.Connected());
}

TEST_F(DbTest, SignOnWithABlankPathOpensTheDatabaseBesideTheComponent) {
  EXPECT_EQ(ComponentFolder(), fs::read_symlink("/proc/self/exe").parent_path().string());
  EXPECT_EQ(DefaultDatabasePath(), ComponentFolder() + "/varnrpt.mdb");
  bool bExisted = fs::exists(DefaultDatabasePath());
  for (const char* pBlank : {"", "   ", static_cast<const char*>(nullptr)}) {
    clsConnection blank;
    EXPECT_TRUE((pBlank ? blank.SignOn(pBlank) : blank.SignOn()) && blank.IsConnected()) << (pBlank ? pBlank : "-");
    blank.DBConnection()->Close();
  }
  EXPECT_TRUE(mpScreen->mvBoxes.empty());
  EXPECT_TRUE(fs::exists(DefaultDatabasePath()));
  if (!bExisted) fs::remove(DefaultDatabasePath());
}

// Files that are no report database, and paths that name no file: one report each, and
// nothing created or changed; then the same object signs on to a good one.
TEST_F(DbTest, AFileThatIsNoReportDatabaseIsReportedOnceAndLeftAlone) {
  TestService good(msDB, false);
  fs::path files = mFolder.Path() / "files";
  fs::create_directories(files / "sub");
  fs::copy_file(msDB, files / "readonly.mdb");
  fs::permissions(files / "readonly.mdb", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::copy_file("/etc/passwd", files / "passwd");
  SqlExec(WriteFile(files / "foreign.db", ""), "CREATE TABLE Customers (Id INTEGER); INSERT INTO Customers VALUES (1)");
  WriteFile(files / "empty.mdb", "");
  WriteFile(files / "damaged.mdb", ReadFile(msDB).substr(0, 100) + std::string(4000, 'x'));
  auto Files = [&] {
    std::map<std::string, std::string> mapFiles;
    for (const auto& it : fs::recursive_directory_iterator(files))
      mapFiles[it.path()] = it.is_directory() ? "" : ReadFile(it.path());
    return mapFiles;
  };
  auto mapBefore = Files();
  PlayOwnSteps();
  EXPECT_EQ(Files(), mapBefore);
}

}  // namespace
}  // namespace varn::test
