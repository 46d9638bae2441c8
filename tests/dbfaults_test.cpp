// Databases that cannot take an import: read-only, in a read-only folder, locked by another
// program past the wait, on a full disk, damaged, or with a table that lacks a column. Each
// import, through the service and through the command line, ends in a report and a failure,
// and the database file keeps every byte it had.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "runtime/Text.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;

// Imports through the service in a child process, which has its own connection and, when
// lFileSizeLimit is set, a full disk past that size: "done" or "failed", then every report (one
// line break each, as on the command line).
std::string ServiceImport(const std::string& sDB, const std::string& sLog, long lFileSizeLimit) {
  auto fnImport = [&] {
    auto pScreen = UseRecordingUI();
    GlobalDatabaseSettings().nWaitSeconds = 1;
    std::string sResult = OpenService(sDB)->ProcessLogFile(sLog) ? "done\n" : "failed\n";
    for (const auto& box : pScreen->mvBoxes) sResult += Replace(box.sPrompt, "\r\n", "\n") + "\n";
    WriteFile(sLog + ".result", sResult);
  };
  EXPECT_EQ(WaitFor(StartChild(fnImport, lFileSizeLimit)), 0);
  return ReadFile(sLog + ".result");
}

std::string Listing(const fs::path& folder) {
  std::string sNames;
  for (const auto& entry : fs::directory_iterator(folder)) sNames += entry.path().filename().string() + " ";
  return sNames;
}

// Makes a fault; what it returns (a lock holder, permissions to restore) lives until the fault is undone.
using MakeFault = std::function<std::shared_ptr<void>(const std::string& sDB)>;
struct Fault {
  const char* pName;
  MakeFault fnMake;
  std::string sReport;  // what the report says, through the service and on the command line
  bool bGoesAway;       // undoing the fault lets the same import run
  long lFileSizeLimit = 0;
};

std::shared_ptr<void> Permissions(const std::string& sPath, fs::perms perms) {
  fs::permissions(sPath, perms);
  return std::shared_ptr<void>(nullptr, [sPath](void*) { fs::permissions(sPath, fs::perms::owner_all); });
}
// A fault that stays: the file changed in place.
MakeFault Damage(std::function<void(const std::string& sDB)> fnDamage) {
  return [fnDamage](const std::string& sDB) { return fnDamage(sDB), std::shared_ptr<void>(); };
}
void Overwrite(const std::string& sPath, size_t nAt, const std::string& sBytes) {
  std::string sAll = ReadFile(sPath);
  WriteFile(sPath, sAll.replace(nAt, sBytes.size(), sBytes));
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

  const std::vector<Fault> vFaults{
      {"read-only file", [](const std::string& sPath) { return Permissions(sPath, fs::perms::owner_read); },
       "cannot be opened: the file is read-only", true},
      {"read-only folder",
       [](const std::string& sPath) {
         return Permissions(fs::path(sPath).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
       },
       "is read-only", true},
      {"writer holding the write lock", [](const std::string& sPath) { return HoldLock(sPath); },
       "01/clsLogAnalysis:ProcessLogFile\ndatabase is locked", true},
      {"writer holding every lock", [](const std::string& sPath) { return HoldLock(sPath, "BEGIN EXCLUSIVE"); },
       "cannot be opened: another program keeps it locked (database is locked)", true},
      {"disk full", Damage([](const std::string&) {}), "disk I/O error", true, lFull},
      {"header overwritten", Damage([](const std::string& sPath) { Overwrite(sPath, 0, "not a database at all"); }),
       "is not a report database (not an SQLite database file)", false},
      {"session table's page overwritten", Damage([](const std::string& sPath) {
         size_t nPage = std::stoul(SqlValue(sPath, "SELECT rootpage FROM sqlite_master WHERE name = 'Session'"));
         size_t nPageSize = std::stoul(SqlValue(sPath, "PRAGMA page_size"));
         Overwrite(sPath, (nPage - 1) * nPageSize, std::string(nPageSize, '\xAA'));
       }),
       "database disk image is malformed", false},
      {"Goods without its Date_ID column", Damage([](const std::string& sPath) {
         SqlExec(sPath, "DROP TRIGGER DateRangeDeleted; DROP INDEX GoodsDate; ALTER TABLE Goods DROP COLUMN Date_ID");
       }),
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
    RunResult command = RunVarnlog({"--db", sDB, "--wait", "1", "import", sLog}, fault.lFileSizeLimit);
    EXPECT_EQ(Unexpected(command, 1, fault.sReport), "");
    EXPECT_TRUE(command.sOutput.find("22-03-2025.log: failed (nothing written)") != std::string::npos ||
                command.sOutput.find("cannot open the report database") != std::string::npos)
        << command.sOutput;
    // A writer is waited for as long as the import was told, and no longer than it needs to give up.
    EXPECT_LT(command.dblSeconds, 10.0);
    EXPECT_GE(command.dblSeconds, fault.sReport.ends_with("database is locked") ? 1.0 : 0.0);

    pFault.reset();
    EXPECT_TRUE(ReadFile(sDB) == sBytes) << "the database file changed";
    EXPECT_EQ(Listing(folder.Path() / "db"), sFiles);
    if (!fault.bGoesAway) continue;
    EXPECT_EQ(SqlValue(sDB, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Unexpected(RunVarnlog({"--db", sDB, "import", sLog}), 0, "inserted 22/03/2025 (400 sessions"), "");
    // The failed import took no key: the day's keys continue one above the gap after the earlier day's.
    EXPECT_EQ(SqlRows(sDB,
                      "SELECT COUNT(*), MIN(Session_ID) - (SELECT MAX(Session_ID) FROM Session WHERE Date_ID = 1) "
                      "FROM Session WHERE Date_ID = 2"),
              (Rows{{"400", "2"}}));
  }
}

}  // namespace
}  // namespace varn::test
