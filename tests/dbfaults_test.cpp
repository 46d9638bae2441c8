// Databases that cannot take an import: read-only, in a read-only folder, locked by another
// program past the wait, on a full disk, damaged, or with a table that lacks a column. Each
// import, through the service and through the command line, ends in a report and a failure,
// and the database file keeps every byte it had.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

// Imports through the service in a child process, which has its own connection and, when
// lFileSizeLimit is set, a full disk past that size: "done" or "failed", then every report.
std::string ServiceImport(const std::string& sDB, const std::string& sLog, long lFileSizeLimit) {
  TempFolder folder;
  auto fnImport = [&] {
    auto pScreen = UseRecordingUI();
    GlobalDatabaseSettings().nWaitSeconds = 1;
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(sDB);
    std::string sResult = pService->ProcessLogFile(sLog) ? "done\n" : "failed\n";
    for (const auto& box : pScreen->mvBoxes) sResult += box.sPrompt + "\n";
    std::ofstream(folder / "result", std::ios::app) << sResult;
  };
  EXPECT_EQ(WaitFor(StartChild(fnImport, lFileSizeLimit)), 0);
  return ReadFile(folder / "result");
}

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
  const char* pName;
  // Makes the fault; what it returns (a lock holder, permissions to restore) lives until the
  // fault is undone.
  std::function<std::shared_ptr<void>(const std::string& sDB)> fnMake;
  std::string sReport;  // what the report says, through the service and on the command line
  bool bGoesAway;       // undoing the fault lets the same import run
  long lFileSizeLimit = 0;
};

std::shared_ptr<void> Permissions(const std::string& sPath, fs::perms perms) {
  fs::permissions(sPath, perms);
  return std::shared_ptr<void>(nullptr, [sPath](void*) { fs::permissions(sPath, fs::perms::owner_all); });
}

TEST(DatabaseFaults, EachEndsInAReportAndLeavesTheDatabaseAsItWas) {
  TempFolder folder;
  UseRecordingUI();
  std::string sLog = WriteFile(folder / "22-03-2025.log", GeneratedDay("22/03/2025", 400));
  std::string sEarlier = WriteFile(folder / "21-03-2025.log", GeneratedDay("21/03/2025", 20));
  fs::create_directory(folder.Path() / "db");
  std::string sTemplate = folder / "template.db", sDB = folder / "db/shop.db";
  ASSERT_EQ(RunVarnlog({"--db", sTemplate, "import", sEarlier}).nExit, 0);
  long lFull = static_cast<long>(fs::file_size(sTemplate)) + 16384;

  auto fnNothing = [](const std::string&) { return std::shared_ptr<void>(); };
  const std::vector<Fault> vFaults{
      {"read-only file", [](const std::string& sPath) { return Permissions(sPath, fs::perms::owner_read); },
       "cannot be opened: the file is read-only", true},
      {"read-only folder",
       [](const std::string& sPath) {
         return Permissions(fs::path(sPath).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
       },
       "is read-only", true},
      {"writer holding the write lock", [](const std::string& sPath) { return std::make_shared<LockHolder>(sPath); },
       "database is locked", true},
      {"writer holding every lock",
       [](const std::string& sPath) { return std::make_shared<LockHolder>(sPath, "BEGIN EXCLUSIVE"); },
       "cannot be opened: another program keeps it locked (database is locked)", true},
      {"disk full", fnNothing, "disk I/O error", true, lFull},
      {"header overwritten",
       [](const std::string& sPath) {
         Overwrite(sPath, 0, "not a database at all");
         return std::shared_ptr<void>();
       },
       "is not a report database (not an SQLite database file)", false},
      {"session table's page overwritten",
       [](const std::string& sPath) {
         int nPage = std::stoi(SqlValue(sPath, "SELECT rootpage FROM sqlite_master WHERE name = 'Session'"));
         int nPageSize = std::stoi(SqlValue(sPath, "PRAGMA page_size"));
         Overwrite(sPath, std::streamoff{nPage - 1} * nPageSize, std::string(static_cast<size_t>(nPageSize), '\xAA'));
         return std::shared_ptr<void>();
       },
       "database disk image is malformed", false},
      {"Goods without its Date_ID column",
       [](const std::string& sPath) {
         SqlExec(sPath, "DROP TRIGGER DateRangeDeleted; DROP INDEX GoodsDate; ALTER TABLE Goods DROP COLUMN Date_ID");
         return std::shared_ptr<void>();
       },
       "table Goods has no column named Date_ID", false},
  };
  for (const auto& fault : vFaults) {
    SCOPED_TRACE(fault.pName);
    fs::copy_file(sTemplate, sDB, fs::copy_options::overwrite_existing);
    std::string sFiles = Listing(folder.Path() / "db");
    std::shared_ptr<void> pFault = fault.fnMake(sDB);
    std::string sBytes = ReadFile(sDB);

    std::string sService = ServiceImport(sDB, sLog, fault.lFileSizeLimit);
    EXPECT_TRUE(sService.starts_with("failed\n")) << sService;
    EXPECT_NE(sService.find(fault.sReport), std::string::npos) << sService;
    RunResult command = RunVarnlog({"--db", sDB, "--wait", "1", "import", sLog}, {fault.lFileSizeLimit, ""});
    EXPECT_EQ(command.nExit, 1) << command.sOutput;
    EXPECT_NE(command.sOutput.find(fault.sReport), std::string::npos) << command.sOutput;
    EXPECT_TRUE(command.sOutput.find("failed (nothing written)") != std::string::npos ||
                command.sOutput.find("cannot open the report database") != std::string::npos)
        << command.sOutput;

    pFault.reset();
    EXPECT_TRUE(ReadFile(sDB) == sBytes) << "the database file changed";
    EXPECT_EQ(Listing(folder.Path() / "db"), sFiles);
    if (!fault.bGoesAway) continue;
    EXPECT_EQ(SqlValue(sDB, "PRAGMA integrity_check"), "ok");
    RunResult again = RunVarnlog({"--db", sDB, "import", sLog});
    EXPECT_EQ(again.nExit, 0) << again.sOutput;
    EXPECT_EQ(SqlValue(sDB,
                       "SELECT COUNT(*) FROM Session s JOIN DateRange d ON d.Date_ID = s.Date_ID "
                       "WHERE d.LogDate = '22/03/2025'"),
              "400");
  }
}

}  // namespace
}  // namespace varn::test
