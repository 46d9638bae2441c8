// Databases that cannot take an import: read-only, in a read-only folder, locked by another
// program past the wait, on a full disk, damaged, or with a table that lacks a column. Each
// import, through the service and through the command line, ends in a report and a failure,
// and the database file keeps every byte it had.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "db/clsAccessDatabase.h"
#include "service/clsLogAnalysis.h"
#include "tests/FaultSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

// The largest size a child may make any file: a full disk for the database and its journal.
using FileLimit = rlim_t;
constexpr FileLimit kNoLimit = RLIM_INFINITY;

// In the child: the limit, and the signal it raises ignored, so a write past it fails as on a
// full disk instead of ending the process.
void LimitFiles(FileLimit lLimit) {
  if (lLimit == kNoLimit) return;
  rlimit limit{lLimit, lLimit};
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, SIG_IGN);
}

struct ServiceResult {
  bool bDone = false;
  std::string sReports;  // every box it showed
};

// Imports through the service in a child process, which has its own connection and file limit.
ServiceResult ServiceImport(const std::string& sDB, const std::string& sLog, FileLimit lLimit) {
  int anPipe[2];
  if (pipe(anPipe) != 0) throw std::runtime_error("pipe");
  pid_t pid = fork();
  if (pid == 0) {
    close(anPipe[0]);
    LimitFiles(lLimit);
    auto pScreen = UseRecordingUI();
    GlobalDatabaseSettings().nWaitSeconds = 1;
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(sDB);
    std::string sResult = pService->ProcessLogFile(sLog) ? "1" : "0";
    for (const auto& box : pScreen->mvBoxes) sResult += box.sPrompt + "\n";
    _exit(write(anPipe[1], sResult.data(), sResult.size()) < 0 ? 4 : 0);
  }
  close(anPipe[1]);
  std::string sResult;
  char acBuffer[4096];
  for (ssize_t nRead; (nRead = read(anPipe[0], acBuffer, sizeof acBuffer)) > 0;) {
    sResult.append(acBuffer, static_cast<size_t>(nRead));
  }
  close(anPipe[0]);
  EXPECT_EQ(WaitFor(pid), 0);
  return {sResult.rfind('1', 0) == 0, sResult.empty() ? "" : sResult.substr(1)};
}

RunResult LimitedVarnlog(const TempFolder& folder, const std::vector<std::string>& vArguments, FileLimit lLimit) {
  std::string sOutput = folder / "varnlog-output.txt";
  std::vector<std::string> vAll{VarnlogPath()};
  vAll.insert(vAll.end(), vArguments.begin(), vArguments.end());
  std::vector<char*> vArgv;
  for (auto& sArgument : vAll) vArgv.push_back(sArgument.data());
  vArgv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int nOut = open(sOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int nIn = open("/dev/null", O_RDONLY);
    if (nOut < 0 || nIn < 0) _exit(126);
    dup2(nIn, STDIN_FILENO);
    dup2(nOut, STDOUT_FILENO);
    dup2(nOut, STDERR_FILENO);
    LimitFiles(lLimit);
    execv(vArgv[0], vArgv.data());
    _exit(127);
  }
  RunResult result;
  result.nExit = WaitFor(pid);
  result.sOutput = ReadFile(sOutput);
  return result;
}

// Another program holding a lock, with a write only it sees, until the fault is undone. It is
// a process of its own: a connection must not be shared with the children forked meanwhile.
class LockHolder {
 public:
  LockHolder(const std::string& sDB, const std::string& sBegin) {
    int anReady[2], anRelease[2];
    if (pipe(anReady) != 0 || pipe(anRelease) != 0) throw std::runtime_error("pipe");
    mPid = fork();
    if (mPid == 0) {
      close(anReady[0]);
      close(anRelease[1]);
      sqlite3* pDb = nullptr;
      sqlite3_open(sDB.c_str(), &pDb);
      std::string sSql = sBegin + "; INSERT INTO User (User_ID, UserName) VALUES (999, 'Not yet committed')";
      bool bHeld = sqlite3_exec(pDb, sSql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
      char c = bHeld ? 'y' : 'n';
      if (write(anReady[1], &c, 1) != 1 || read(anRelease[0], &c, 1) < 0) _exit(4);
      sqlite3_exec(pDb, "ROLLBACK", nullptr, nullptr, nullptr);
      sqlite3_close(pDb);
      _exit(bHeld ? 0 : 1);
    }
    close(anReady[1]);
    close(anRelease[0]);
    mnRelease = anRelease[1];
    char c = 'n';
    EXPECT_EQ(read(anReady[0], &c, 1), 1);
    close(anReady[0]);
    EXPECT_EQ(c, 'y') << "the lock could not be taken";
  }
  ~LockHolder() {
    close(mnRelease);
    EXPECT_EQ(WaitFor(mPid), 0);
  }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  pid_t mPid = 0;
  int mnRelease = -1;
};

void Overwrite(const std::string& sPath, std::streamoff lAt, const std::string& sBytes) {
  std::fstream file(sPath, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(lAt);
  file.write(sBytes.data(), static_cast<std::streamsize>(sBytes.size()));
}

std::string Listing(const fs::path& folder) {
  std::string sNames;
  for (const auto& entry : fs::directory_iterator(folder)) sNames += entry.path().filename().string() + " ";
  return sNames;
}

struct Fault {
  const char* sName;
  // Makes the fault; what it returns (a lock holder) lives until the fault is undone.
  std::function<std::shared_ptr<void>(const TempFolder&, const std::string& sDB)> fnMake;
  std::string sReport;  // what the report says, through the service and on the command line
  bool bGoesAway;       // undoing the fault lets the same import run
  FileLimit lLimit = kNoLimit;
};

TEST(DatabaseFaults, EachEndsInAReportAndLeavesTheDatabaseAsItWas) {
  TempFolder folder;
  UseRecordingUI();
  std::string sLog = WriteFile(folder / "22-03-2025.log", GeneratedDay("22/03/2025", 400));
  std::string sEarlier = WriteFile(folder / "21-03-2025.log", GeneratedDay("21/03/2025", 20));
  fs::create_directory(folder.Path() / "db");
  std::string sTemplate = folder / "template.db";
  ASSERT_EQ(RunVarnlog(folder, {"--db", sTemplate, "import", sEarlier}).nExit, 0);
  auto lTemplateSize = static_cast<FileLimit>(fs::file_size(sTemplate));

  auto Permissions = [](const std::string& sPath, fs::perms perms) {
    fs::permissions(sPath, perms);
    return std::shared_ptr<void>(nullptr, [sPath](void*) {
      fs::permissions(sPath, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
    });
  };
  std::vector<Fault> vFaults{
      {"read-only file",
       [&](const TempFolder&, const std::string& sDB) { return Permissions(sDB, fs::perms::owner_read); },
       "cannot be opened: the file is read-only", true},
      {"read-only folder",
       [&](const TempFolder& f, const std::string&) {
         return Permissions(f / "db", fs::perms::owner_read | fs::perms::owner_exec);
       },
       "is read-only", true},
      {"writer holding the write lock",
       [](const TempFolder&, const std::string& sDB) { return std::make_shared<LockHolder>(sDB, "BEGIN IMMEDIATE"); },
       "database is locked", true},
      {"writer holding every lock",
       [](const TempFolder&, const std::string& sDB) { return std::make_shared<LockHolder>(sDB, "BEGIN EXCLUSIVE"); },
       "cannot be opened: another program keeps it locked (database is locked)", true},
      {"disk full", [](const TempFolder&, const std::string&) { return std::shared_ptr<void>(); }, "disk I/O error",
       true, lTemplateSize + 16384},
      {"header overwritten",
       [](const TempFolder&, const std::string& sDB) {
         Overwrite(sDB, 0, "not a database at all");
         return std::shared_ptr<void>();
       },
       "is not a report database (not an SQLite database file)", false},
      {"session table's page overwritten",
       [](const TempFolder&, const std::string& sDB) {
         int nPage = std::stoi(SqlValue(sDB, "SELECT rootpage FROM sqlite_master WHERE name = 'Session'"));
         int nPageSize = std::stoi(SqlValue(sDB, "PRAGMA page_size"));
         Overwrite(sDB, std::streamoff{nPage - 1} * nPageSize, std::string(static_cast<size_t>(nPageSize), '\xAA'));
         return std::shared_ptr<void>();
       },
       "database disk image is malformed", false},
      {"Goods without its Date_ID column",
       [](const TempFolder&, const std::string& sDB) {
         SqlExec(sDB, "DROP TRIGGER DateRangeDeleted; DROP INDEX GoodsDate; ALTER TABLE Goods DROP COLUMN Date_ID");
         return std::shared_ptr<void>();
       },
       "table Goods has no column named Date_ID", false},
  };
  for (const auto& fault : vFaults) {
    SCOPED_TRACE(fault.sName);
    std::string sDB = folder / "db/shop.db";
    fs::copy_file(sTemplate, sDB, fs::copy_options::overwrite_existing);
    std::string sFiles = Listing(folder.Path() / "db");
    std::shared_ptr<void> pFault = fault.fnMake(folder, sDB);
    std::string sBytes = ReadFile(sDB);

    ServiceResult service = ServiceImport(sDB, sLog, fault.lLimit);
    EXPECT_FALSE(service.bDone);
    EXPECT_NE(service.sReports.find(fault.sReport), std::string::npos) << service.sReports;
    RunResult command = LimitedVarnlog(folder, {"--db", sDB, "--wait", "1", "import", sLog}, fault.lLimit);
    EXPECT_EQ(command.nExit, 1) << command.sOutput;
    EXPECT_NE(command.sOutput.find(fault.sReport), std::string::npos) << command.sOutput;
    EXPECT_TRUE(command.sOutput.find("failed (nothing written)") != std::string::npos ||
                command.sOutput.find("cannot open the report database") != std::string::npos)
        << command.sOutput;

    pFault.reset();
    EXPECT_TRUE(ReadFile(sDB) == sBytes) << "the database file changed";
    EXPECT_EQ(Listing(folder.Path() / "db"), sFiles);
    if (fault.bGoesAway) {
      EXPECT_EQ(IntegrityCheck(sDB), "ok");
      RunResult again = RunVarnlog(folder, {"--db", sDB, "import", sLog});
      EXPECT_EQ(again.nExit, 0) << again.sOutput;
      EXPECT_EQ(SqlValue(sDB,
                         "SELECT COUNT(*) FROM Session s JOIN DateRange d ON d.Date_ID = s.Date_ID "
                         "WHERE d.LogDate = '22/03/2025'"),
                "400");
    }
  }
}

}  // namespace
}  // namespace varn::test
