// Imports killed at their worst moments. A child process imports a large day and is killed
// with SIGKILL while it reads the file, in the middle of the write step, or right after the
// commit; afterwards the database must be sound and hold the import whole or not at all, and
// importing the file again must give exactly the rows of one clean import.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/TestSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

enum class KillPoint { None, Reading, Writing, Committed };

// The child's screen. It answers the update question with Yes, counts the items read and the
// procedures run in the write step, and at the chosen point stops the process (SIGSTOP) for the
// parent to kill.
class KillPointScreen : public clsRecordingUI {
 public:
  KillPointScreen(KillPoint ePoint, long lAt) : mePoint(ePoint), mlAt(lAt) { AnswerNext(vbYes); }

  void SetMousePointer(int nPointer) override {
    clsRecordingUI::SetMousePointer(nPointer);
    if (mbWriting && ++mlWriteCalls == mlAt && mePoint == KillPoint::Writing) raise(SIGSTOP);
  }
  void DoEvents() override {
    if (++mlEvents == mlAt && mePoint == KillPoint::Reading) raise(SIGSTOP);
  }
  void DrawProgress(const ProgressView& view) override {
    // The window is reset once the import's transaction has been committed.
    if (mbWriting && view.sNote.empty() && mePoint == KillPoint::Committed) raise(SIGSTOP);
    mbWriting = view.sNote == "Updating database ..." || (mbWriting && !view.sNote.empty());
  }
  // "done|failed items write-calls", then the boxes.
  std::string Summary(bool bDone) const {
    std::string sSummary = bDone ? "done " : "failed ";
    sSummary += std::to_string(mlEvents) + " " + std::to_string(mlWriteCalls);
    for (const auto& box : mvBoxes) sSummary += "\n" + box.sPrompt;
    return sSummary;
  }

 private:
  KillPoint mePoint;
  long mlAt, mlWriteCalls = 0;
  bool mbWriting = false;
};

// Imports sLog into sDB in a forked process with its own connection, as a second program would,
// and leaves its summary beside the database. A child that hangs is ended by its alarm.
pid_t StartImport(const std::string& sDB, const std::string& sLog, KillPoint ePoint, long lAt) {
  return StartChild([&] {
    alarm(120);
    auto pScreen = std::make_shared<KillPointScreen>(ePoint, lAt);
    SetScreen(pScreen);
    WriteFile(sDB + ".summary", pScreen->Summary(OpenService(sDB)->ProcessLogFile(sLog)));
  });
}

struct CleanRun {
  long lItems = 0, lWriteCalls = 0;
};

CleanRun ImportToTheEnd(const std::string& sDB, const std::string& sLog) {
  EXPECT_EQ(WaitFor(StartImport(sDB, sLog, KillPoint::None, 0)), 0);
  std::string sSummary = ReadFile(sDB + ".summary");
  EXPECT_EQ(sSummary.rfind("done ", 0), 0u) << sSummary;
  CleanRun run;
  std::sscanf(sSummary.c_str(), "%*s %ld %ld", &run.lItems, &run.lWriteCalls);
  return run;
}

// The databases and logs all cases start from, made once: an earlier day alone (so "nothing of
// the import" is more than an empty file), then the large day imported cleanly, then its
// corrected log imported as an update.
class KilledImport : public ::testing::Test {
 protected:
  static constexpr int kSessions = 16000;
  static void SetUpTestSuite() {
    UseRecordingUI();
    spFolder = new TempFolder;
    ImportToTheEnd(Path("base.db"), WriteFile(Path("20-03-2025.log"), GeneratedDay("20/03/2025", 1)));
    fs::create_directory(Path("corrected"));
    WriteFile(Log(false), GeneratedDay("21/03/2025", kSessions));
    WriteFile(Log(true), GeneratedDay("21/03/2025", kSessions, 1));
    for (bool bUpdate : {false, true})
      saRuns[bUpdate] = ImportToTheEnd(Copy(Before(bUpdate), After(bUpdate)), Log(bUpdate));
  }
  static void TearDownTestSuite() { delete spFolder; }
  static std::string Path(const std::string& sName) { return *spFolder / sName; }
  static std::string Log(bool bUpdate) { return Path(bUpdate ? "corrected/21-03-2025.log" : "21-03-2025.log"); }
  static std::string Before(bool bUpdate) { return bUpdate ? After(false) : Path("base.db"); }
  static std::string After(bool bUpdate) { return Path(bUpdate ? "updated.db" : "imported.db"); }
  static std::string Copy(const std::string& sFrom, const std::string& sTo = Path("killed.db")) {
    fs::copy_file(sFrom, sTo, fs::copy_options::overwrite_existing);
    return sTo;
  }
  static void ExpectSoundAndLike(const std::string& sDB, const std::string& sReference, bool bImportTimes) {
    EXPECT_EQ(SqlValue(sDB, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(FirstDifference(Dump(sDB, bImportTimes), Dump(sReference, bImportTimes)), "");
  }
  static inline TempFolder* spFolder = nullptr;
  static inline CleanRun saRuns[2];
};

TEST_F(KilledImport, LeavesTheImportWholeOrNothingAtEveryPoint) {
  ASSERT_GT(saRuns[0].lWriteCalls, 1000);
  for (bool bUpdate : {false, true}) {
    for (KillPoint ePoint : {KillPoint::Reading, KillPoint::Writing, KillPoint::Committed}) {
      static const char* const kPoints[] = {"", "reading", "writing", "committed"};
      SCOPED_TRACE(std::string(bUpdate ? "update, " : "first import, ") + kPoints[static_cast<int>(ePoint)]);
      long lAt = ePoint == KillPoint::Reading ? saRuns[bUpdate].lItems / 2 : saRuns[bUpdate].lWriteCalls * 9 / 10;
      std::string sDB = Copy(Before(bUpdate));
      std::string sStart = ReadFile(sDB);
      pid_t pid = StartImport(sDB, Log(bUpdate), ePoint, lAt);
      int nStatus = 0;
      waitpid(pid, &nStatus, WUNTRACED);
      ASSERT_TRUE(WIFSTOPPED(nStatus)) << "no kill point reached: " << ReadFile(sDB + ".summary");
      // Before the commit the killed import leaves a hot journal behind; after it, none. Late
      // in the write step pages of the import have already reached the file, so the recovery
      // has something to undo.
      EXPECT_EQ(fs::exists(sDB + "-journal"), ePoint != KillPoint::Committed);
      EXPECT_TRUE(ePoint != KillPoint::Writing || ReadFile(sDB) != sStart) << "the day is too small to reach the file";
      kill(pid, SIGKILL);
      EXPECT_EQ(WaitFor(pid), -SIGKILL);
      bool bCommitted = ePoint == KillPoint::Committed;
      ExpectSoundAndLike(sDB, bCommitted ? After(bUpdate) : Before(bUpdate), !bCommitted);
      ImportToTheEnd(sDB, Log(bUpdate));
      ExpectSoundAndLike(sDB, After(bUpdate), false);
    }
  }
}

// The command line itself, killed by what it leaves on the disk rather than by its screen: a
// first import once its journal appears (the transaction has begun and the file is being
// read), an update once its journal holds many pages (the write step is rewriting rows). On a
// busy machine the watcher may miss a short moment: the import ended first, and is tried again.
TEST_F(KilledImport, CommandLineKilledByItsJournal) {
  for (bool bUpdate : {false, true}) {
    SCOPED_TRACE(bUpdate ? "update" : "first import");
    std::string sDB = Path("killed.db");
    Texts vArguments{"--db", sDB, "import", "--yes", Log(bUpdate)};
    bool bKilled = false;
    for (int nTry = 0; nTry < 3 && !bKilled; ++nTry) {
      Copy(Before(bUpdate));
      pid_t pid = StartVarnlog(vArguments, Path("output.txt"));
      for (int nStatus = 0; waitpid(pid, &nStatus, WNOHANG) != pid; usleep(200)) {
        std::error_code ec;
        uintmax_t nJournal = fs::file_size(sDB + "-journal", ec);
        if (!ec && nJournal >= (bUpdate ? 256u * 1024 : 1u)) {
          kill(pid, SIGKILL);
          bKilled = WaitFor(pid) == -SIGKILL;
          break;
        }
      }
    }
    ASSERT_TRUE(bKilled) << ReadFile(Path("output.txt"));
    ExpectSoundAndLike(sDB, Before(bUpdate), true);
    EXPECT_EQ(Unexpected(RunVarnlog(vArguments), 0), "");
    ExpectSoundAndLike(sDB, After(bUpdate), false);
  }
}

}  // namespace
}  // namespace varn::test
