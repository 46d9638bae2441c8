// Imports killed at their worst moments. A child process imports a large day and is killed
// with SIGKILL while it reads the file, in the middle of the write step, or right after the
// commit; afterwards the database must be sound and hold the import whole or not at all, and
// importing the file again must give exactly the rows of one clean import.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <iostream>
#include <map>

#include "service/clsLogAnalysis.h"
#include "tests/FaultSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

enum class KillPoint { None, Reading, Writing, Committed };

// The child's screen. It answers the update question with Yes, counts the items read and the
// procedures run in the write step, and at the chosen point tells the parent and waits to be
// killed.
class KillPointScreen : public IUserInterface {
 public:
  KillPointScreen(KillPoint ePoint, long lAt, int nPipe) : mePoint(ePoint), mlAt(lAt), mnPipe(nPipe) {}

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& /*sTitle*/) override {
    if ((nStyle & 7) == vbYesNo) return vbYes;
    msReports += sPrompt + "\n";
    return vbOK;
  }
  void SetMousePointer(int nPointer) override {
    mnPointer = nPointer;
    if (mbWriting && ++mlWriteCalls == mlAt && mePoint == KillPoint::Writing) Stop();
  }
  int MousePointer() const override { return mnPointer; }
  void DoEvents() override {
    if (++mlItems == mlAt && mePoint == KillPoint::Reading) Stop();
  }
  void DrawProgress(const ProgressView& view) override {
    if (view.sNote == "Updating database ...") {
      mbWriting = true;
    } else if (mbWriting && view.sNote.empty()) {
      // The window is reset once the import's transaction has been committed.
      mbWriting = false;
      if (mePoint == KillPoint::Committed) Stop();
    }
  }

  std::string Summary(bool bDone) const {
    return std::string(bDone ? "done " : "failed ") + std::to_string(mlItems) + " " + std::to_string(mlWriteCalls) +
           "\n" + msReports;
  }

 private:
  void Stop() {
    Tell("stop\n");
    for (;;) pause();
  }
  void Tell(const std::string& sText) const {
    if (write(mnPipe, sText.data(), sText.size()) < 0) _exit(4);
  }

  KillPoint mePoint;
  long mlAt;
  int mnPipe;
  int mnPointer = vbDefault;
  bool mbWriting = false;
  long mlItems = 0;
  long mlWriteCalls = 0;
  std::string msReports;
};

struct Child {
  pid_t pid;
  int nPipe;
};

// Forks a process that imports sLog into sDB with its own connection, as a second program would.
Child StartImport(const std::string& sDB, const std::string& sLog, KillPoint ePoint, long lAt) {
  int anPipe[2];
  if (pipe(anPipe) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    close(anPipe[0]);
    try {
      auto pScreen = std::make_shared<KillPointScreen>(ePoint, lAt, anPipe[1]);
      SetScreen(pScreen);
      auto pService = clsLogAnalysis::Create();
      pService->Initialize(sDB);
      std::string sSummary = pScreen->Summary(pService->ProcessLogFile(sLog));
      if (write(anPipe[1], sSummary.data(), sSummary.size()) < 0) _exit(4);
      _exit(0);
    } catch (...) {
      _exit(3);
    }
  }
  close(anPipe[1]);
  return {pid, anPipe[0]};
}

// Everything the child writes until it stops or ends; "" when it said nothing for two minutes.
std::string ReadUntil(int nPipe, const std::string& sEnd) {
  std::string sText;
  for (;;) {
    pollfd poller{nPipe, POLLIN, 0};
    if (poll(&poller, 1, 120000) <= 0) return {};
    char acBuffer[4096];
    ssize_t nRead = read(nPipe, acBuffer, sizeof acBuffer);
    if (nRead <= 0) return sText;
    sText.append(acBuffer, static_cast<size_t>(nRead));
    if (!sEnd.empty() && sText.find(sEnd) != std::string::npos) return sText;
  }
}

struct CleanRun {
  long lItems = 0;
  long lWriteCalls = 0;
};

CleanRun ImportToTheEnd(const std::string& sDB, const std::string& sLog) {
  Child child = StartImport(sDB, sLog, KillPoint::None, 0);
  std::string sSummary = ReadUntil(child.nPipe, "");
  if (sSummary.empty()) kill(child.pid, SIGKILL);  // hung: a failure below, not a test that never ends
  close(child.nPipe);
  EXPECT_EQ(WaitFor(child.pid), 0);
  EXPECT_EQ(sSummary.rfind("done ", 0), 0u) << sSummary;
  CleanRun run;
  std::sscanf(sSummary.c_str(), "%*s %ld %ld", &run.lItems, &run.lWriteCalls);
  return run;
}

struct Kill {
  bool bJournal = false;      // the journal of an open transaction was there
  bool bFileChanged = false;  // the database file no longer held the bytes it started with
};

Kill KillImportAt(const std::string& sDB, const std::string& sLog, KillPoint ePoint, long lAt) {
  std::string sStart = ReadFile(sDB);
  Child child = StartImport(sDB, sLog, ePoint, lAt);
  std::string sSaid = ReadUntil(child.nPipe, "stop\n");
  Kill result{fs::exists(sDB + "-journal"), ReadFile(sDB) != sStart};
  kill(child.pid, SIGKILL);
  close(child.nPipe);
  EXPECT_EQ(WaitFor(child.pid), -SIGKILL);
  EXPECT_EQ(sSaid, "stop\n") << "the child never reached the kill point";
  return result;
}

// The databases and logs all cases start from, made once: an earlier day alone, then the large
// day imported cleanly, then its corrected log imported as an update.
struct References {
  static constexpr int kSessions = 16000;
  TempFolder folder;
  std::string sBase = folder / "base.db";
  std::string sDay, sCorrected, sImported, sUpdated;
  CleanRun first, update;
  // Dumps by database path: with the import times, and without them.
  std::map<std::string, std::string> dumps, dumpsWithoutTimes;

  References() {
    UseRecordingUI();
    // An earlier day is in the database, so "nothing of the import" is more than an empty file.
    std::string sEarlier =
        WriteFile(folder / "20-03-2025.log", LogText({"#20/03/2025#", ">> 20.03.2025 08:00:00 Sign On: Olga",
                                                      "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""}));
    ImportToTheEnd(sBase, sEarlier);
    sDay = WriteFile(folder / "21-03-2025.log", GeneratedDay("21/03/2025", kSessions));
    fs::create_directory(folder.Path() / "corrected");
    sCorrected = WriteFile(folder / "corrected/21-03-2025.log", GeneratedDay("21/03/2025", kSessions, 1));
    sImported = Copy(sBase, "imported.db");
    first = ImportToTheEnd(sImported, sDay);
    sUpdated = Copy(sImported, "updated.db");
    update = ImportToTheEnd(sUpdated, sCorrected);
    for (const auto& sDB : {sBase, sImported, sUpdated}) {
      dumps[sDB] = Dump(sDB);
      dumpsWithoutTimes[sDB] = Dump(sDB, false);
    }
  }
  std::string Copy(const std::string& sFrom, const std::string& sName) const {
    fs::copy_file(sFrom, folder / sName, fs::copy_options::overwrite_existing);
    return folder / sName;
  }
};

class KilledImport : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { spRefs = new References; }
  static void TearDownTestSuite() {
    delete spRefs;
    spRefs = nullptr;
  }
  static References* spRefs;
};
References* KilledImport::spRefs = nullptr;

TEST_F(KilledImport, LeavesTheImportWholeOrNothingAtEveryPoint) {
  const References& r = *spRefs;
  std::cout << "clean runs: " << r.first.lItems << " items; " << r.first.lWriteCalls
            << " procedures in the write step of "
            << "the first import, " << r.update.lWriteCalls << " in that of the update\n";
  ASSERT_GT(r.first.lWriteCalls, 1000);
  struct Case {
    const char* sName;
    std::string sStart;  // the database before the import
    std::string sLog;
    KillPoint ePoint;
    long lAt;
    std::string sAfterKill;  // what the database holds after the kill
    std::string sClean;      // what one clean import gives
  };
  std::vector<Case> vCases{
      {"first import, reading", r.sBase, r.sDay, KillPoint::Reading, r.first.lItems / 2, r.sBase, r.sImported},
      {"first import, writing", r.sBase, r.sDay, KillPoint::Writing, r.first.lWriteCalls * 9 / 10, r.sBase,
       r.sImported},
      {"first import, committed", r.sBase, r.sDay, KillPoint::Committed, 0, r.sImported, r.sImported},
      {"update, reading", r.sImported, r.sCorrected, KillPoint::Reading, r.update.lItems / 2, r.sImported, r.sUpdated},
      {"update, writing", r.sImported, r.sCorrected, KillPoint::Writing, r.update.lWriteCalls * 9 / 10, r.sImported,
       r.sUpdated},
      {"update, committed", r.sImported, r.sCorrected, KillPoint::Committed, 0, r.sUpdated, r.sUpdated},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sName);
    std::string sDB = r.Copy(c.sStart, "killed.db");
    Kill killed = KillImportAt(sDB, c.sLog, c.ePoint, c.lAt);
    // Before the commit the killed import leaves a hot journal behind; after it, none.
    EXPECT_EQ(killed.bJournal, c.ePoint != KillPoint::Committed);
    // Late in the write step pages of the import have already reached the file, so the
    // recovery has something to undo.
    if (c.ePoint == KillPoint::Writing) {
      EXPECT_TRUE(killed.bFileChanged) << "the day is too small to reach the file before the commit";
    }
    EXPECT_EQ(IntegrityCheck(sDB), "ok");
    if (c.ePoint == KillPoint::Committed) {
      EXPECT_EQ(FirstDifference(Dump(sDB, false), r.dumpsWithoutTimes.at(c.sAfterKill)), "");
    } else {
      EXPECT_EQ(FirstDifference(Dump(sDB), r.dumps.at(c.sStart)), "");
    }
    ImportToTheEnd(sDB, c.sLog);
    EXPECT_EQ(IntegrityCheck(sDB), "ok");
    EXPECT_EQ(FirstDifference(Dump(sDB, false), r.dumpsWithoutTimes.at(c.sClean)), "");
  }
}

// Kills a command line once the journal beside the database has reached nJournalBytes; false
// when the import ended first (on a busy machine the watcher may miss a short moment).
bool KillOnceTheJournalHolds(const std::vector<std::string>& vArguments, const std::string& sDB,
                             uintmax_t nJournalBytes, const std::string& sOutput) {
  pid_t pid = StartVarnlog(vArguments, sOutput);
  for (;;) {
    std::error_code ec;
    uintmax_t nJournal = fs::file_size(sDB + "-journal", ec);
    if (!ec && nJournal >= nJournalBytes) {
      kill(pid, SIGKILL);
      return WaitFor(pid) == -SIGKILL;
    }
    int nStatus = 0;
    if (waitpid(pid, &nStatus, WNOHANG) == pid) return false;
    usleep(200);
  }
}

// The command line itself, killed by what it leaves on the disk rather than by its screen: a
// first import once its journal appears (the transaction has begun and the file is being
// read), an update once its journal holds many pages (the write step is rewriting rows).
TEST_F(KilledImport, CommandLineKilledByItsJournal) {
  const References& r = *spRefs;
  struct Case {
    const char* sName;
    std::string sStart, sLog;
    uintmax_t nJournalBytes;
    std::string sClean;
  };
  for (const auto& c : {Case{"first import", r.sBase, r.sDay, 1, r.sImported},
                        Case{"update", r.sImported, r.sCorrected, 256 * 1024, r.sUpdated}}) {
    SCOPED_TRACE(c.sName);
    std::string sDB;
    std::vector<std::string> vArguments;
    bool bKilled = false;
    for (int nTry = 0; nTry < 3 && !bKilled; ++nTry) {
      sDB = r.Copy(c.sStart, "killed.db");
      vArguments = {"--db", sDB, "import", "--yes", c.sLog};
      bKilled = KillOnceTheJournalHolds(vArguments, sDB, c.nJournalBytes, r.folder / "output.txt");
    }
    ASSERT_TRUE(bKilled) << ReadFile(r.folder / "output.txt");
    EXPECT_EQ(IntegrityCheck(sDB), "ok");
    EXPECT_EQ(FirstDifference(Dump(sDB), r.dumps.at(c.sStart)), "");
    RunResult again = RunVarnlog(r.folder, vArguments);
    EXPECT_EQ(again.nExit, 0) << again.sOutput;
    EXPECT_EQ(FirstDifference(Dump(sDB, false), r.dumpsWithoutTimes.at(c.sClean)), "");
  }
}

}  // namespace
}  // namespace varn::test
