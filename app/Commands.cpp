#include "app/Commands.h"

#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "com/Registration.h"
#include "db/PostgresBackend.h"
#include "db/Schema.h"
#include "db/clsConnection.h"
#include "runtime/Text.h"
#include "service/clsLogAnalysis.h"

namespace varn {

namespace fs = std::filesystem;

namespace {

std::string DatabasePath(const GlobalOptions& options) {
  return options.sDBPath.empty() ? DefaultDatabasePath() : options.sDBPath;
}

// The service signed on to the database; nullptr (the failure reported) when not connected.
std::shared_ptr<clsLogAnalysis> OpenService(const GlobalOptions& options) {
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(options.sDBPath);
  if (!pService->IsConnected()) {
    fmt::print(stderr, "varnlog: cannot open the report database {}\n", DatabasePath(options));
    return nullptr;
  }
  return pService;
}

// A folder stands for its log files: those whose name, less its extension, is a date, in date order.
std::vector<std::string> LogFilesOf(const fs::path& folder) {
  std::vector<std::pair<double, std::string>> vFiles;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::string sName = entry.path().filename().string();
    if (sName.size() <= 4) continue;
    if (auto date = ParseDate(sName.substr(0, sName.size() - 4))) vFiles.emplace_back(date->dSerial, entry.path());
  }
  std::sort(vFiles.begin(), vFiles.end());
  std::vector<std::string> vPaths;
  for (auto& file : vFiles) vPaths.push_back(std::move(file.second));
  return vPaths;
}

struct ImportTally {
  int nInserted = 0, nUpdated = 0, nSkipped = 0, nFailed = 0;
};

void PrintRejects(const std::string& sRejects, const std::string& sFile, std::ofstream* pRejectsOut) {
  for (const auto& sLine : Split(sRejects, "\r\n")) {
    if (sLine.empty()) continue;
    if (pRejectsOut) *pRejectsOut << sFile << ": " << sLine << '\n';
    else fmt::print("    {}\n", sLine);
  }
}

void ImportOne(clsLogAnalysis& service, const std::string& sPath, clsCommandLineUI& screen, ImportTally& tally,
               std::ofstream* pRejectsOut) {
  std::string sName = fs::path(sPath).filename().string();
  if (!fs::is_regular_file(sPath)) {
    fmt::print("{}: failed (no such file)\n", sName);
    ++tally.nFailed;
    return;
  }
  screen.Forget();
  size_t nRejectsBefore = service.UncategorisedLines().size();
  bool bDone = service.ProcessLogFile(sPath);
  std::string sRejects = service.UncategorisedLines().substr(nRejectsBefore);
  size_t nRejects = Split(sRejects, "\r\n").size() - 1;
  if (!bDone) {
    bool bDeclined = screen.LastAnswer() == vbNo;
    fmt::print("{}: {}\n", sName, bDeclined ? "skipped (already imported, not updated)" : "failed (nothing written)");
    ++(bDeclined ? tally.nSkipped : tally.nFailed);
    return;
  }
  bool bUpdated = service.WhatDBAction() == enuUpdate;
  ++(bUpdated ? tally.nUpdated : tally.nInserted);
  DaySummary day = service.SummaryOfDay(service.LastDate_ID());
  const DayRowsRemoved& removed = service.RowsRemoved();
  std::string sRemoved = bUpdated ? fmt::format(", removed {} sessions and {} shifts no longer in the log",
                                                removed.lSessions, removed.lShifts)
                                  : std::string{};
  fmt::print("{}: {} {} ({} sessions, {} shifts, day total {}, {} uncategorised lines{})\n", sName,
             bUpdated ? "updated" : "inserted", day.sLogDate, day.counts.lSessions, day.counts.lShifts,
             NumText(day.dblTotal), nRejects, sRemoved);
  PrintRejects(sRejects, sName, pRejectsOut);
}

}  // namespace

int RunInit(const GlobalOptions& options) {
  // A database on a server gets its schema when it is first opened; it has no folder to make.
  if (IsPostgresUri(options.sDBPath)) {
    if (!OpenService(options)) return 1;
    fmt::print("Report database ready at {}\n", options.sDBPath);
    return 0;
  }
  fs::path path = fs::absolute(DatabasePath(options));
  bool bExisted = fs::exists(path);
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) {
    fmt::print(stderr, "varnlog: cannot create the folder {}: {}\n", path.parent_path().string(), ec.message());
    return 1;
  }
  auto pService = OpenService({path.string()});
  if (!pService) return 1;
  fmt::print("{} report database {}\n", bExisted ? "Left as it is: the existing" : "Created the", path.string());
  return 0;
}

int RunStatus(const GlobalOptions& options) {
  std::string sPath = DatabasePath(options);
  if (!IsPostgresUri(sPath) && !fs::exists(sPath)) {
    fmt::print(stderr, "varnlog: no report database at {} (varnlog init creates one)\n", sPath);
    return 1;
  }
  auto pService = OpenService(options);
  if (!pService) return 1;
  fmt::print("Connected to {}\n", sPath);
  for (const SchemaTable& table : ReportSchema().vTables) {
    fmt::print("  {:<10} {:>8} rows\n", table.sName, pService->RowCount(table.sName));
  }
  return 0;
}

int RunImport(const GlobalOptions& options, const ImportOptions& import, clsCommandLineUI& screen) {
  auto pService = OpenService(options);
  if (!pService) return 1;
  std::unique_ptr<std::ofstream> pRejectsOut;
  if (!import.sRejectsFile.empty()) {
    pRejectsOut = std::make_unique<std::ofstream>(import.sRejectsFile);
    if (!*pRejectsOut) {
      fmt::print(stderr, "varnlog: cannot write {}\n", import.sRejectsFile);
      return 1;
    }
  }
  ImportTally tally;
  for (const auto& sArgument : import.vPaths) {
    fs::path path = fs::absolute(sArgument);
    std::vector<std::string> vFiles = fs::is_directory(path) ? LogFilesOf(path) : std::vector{path.string()};
    if (vFiles.empty()) fmt::print("{}: no log files (named by their date) in this folder\n", sArgument);
    for (const auto& sFile : vFiles) ImportOne(*pService, sFile, screen, tally, pRejectsOut.get());
  }
  fmt::print("{} inserted, {} updated, {} skipped, {} failed\n", tally.nInserted, tally.nUpdated, tally.nSkipped,
             tally.nFailed);
  return tally.nFailed ? 1 : 0;
}

int RunHistory(const GlobalOptions& options, bool bCsv) {
  auto pService = OpenService(options);
  if (!pService) return 1;
  auto vDates = pService->DateHistory();
  if (bCsv) {
    fmt::print("log_date,imported_on,day_total,date_id\n");
    for (const auto& row : vDates) {
      fmt::print("{},{},{},{}\n", row.sLogDate, row.sImported, NumText(row.dblTotal), row.lDate_ID);
    }
    return 0;
  }
  if (vDates.empty()) {
    fmt::print("No log dates imported yet.\n");
    return 0;
  }
  fmt::print("{:<12} {:<20} {:>12} {:>6}\n", "Log date", "Imported on", "Day total", "Key");
  for (const auto& row : vDates) {
    fmt::print("{:<12} {:<20} {:>12} {:>6}\n", row.sLogDate, row.sImported, NumText(row.dblTotal), row.lDate_ID);
  }
  return 0;
}

int RunCheck(const GlobalOptions& options, const std::string& sFile) {
  auto pService = OpenService(options);
  if (!pService) return 1;
  std::string sName = fs::path(sFile).filename().string();
  std::string sNameDate = sName.size() >= 4 ? sName.substr(0, sName.size() - 4) : std::string{};
  auto date = ParseDate(sNameDate);
  if (!date) {
    fmt::print("{}: not named by a date; it would be imported as a new date\n", sName);
    return 0;
  }
  std::string sImported;
  if (pService->IsAlreadyImported(sNameDate, &sImported)) {
    fmt::print("{}: {} already imported on {}\n", sName, FormatDate(*date, "dd/mm/yyyy"), sImported);
  } else {
    fmt::print("{}: {} not imported yet\n", sName, FormatDate(*date, "dd/mm/yyyy"));
  }
  return 0;
}

int RunDelete(const GlobalOptions& options, const std::string& sDate, clsCommandLineUI& screen) {
  auto pService = OpenService(options);
  if (!pService) return 1;
  auto date = ParseDate(Replace(sDate, ".", "/"));
  auto pHistory = pService->HistoryLogDates();
  std::string sKey = date ? FormatDate(*date, "dd/mm/yyyy") : sDate;
  if (pHistory && pHistory->Exists(sKey)) {
    DayCounts counts = pService->CountsOfDay(pHistory->Item(sKey)->Date_ID());
    std::string sPrompt = fmt::format("Delete the log date {} ({} sessions, {} shifts) from the report database?", sKey,
                                      counts.lSessions, counts.lShifts);
    screen.Forget();
    if (screen.MsgBox(sPrompt, vbYesNo + vbQuestion, kAppTitle) != vbYes) {
      fmt::print("{}: not deleted\n", sKey);
      return 1;
    }
  }
  if (!pService->DeleteLogDate(sDate)) return 1;
  const DayRowsRemoved& removed = pService->RowsRemoved();
  fmt::print("Deleted {} with its {} sessions, {} shifts and {} goods rows\n", sKey, removed.lSessions, removed.lShifts,
             removed.lGoods);
  return 0;
}

int RunRegister() {
  const std::string sLibrary = ComponentFolder() + "/" + VARNLOGPROCESS_LIBRARY;
  try {
    std::error_code ec;
    if (!fs::is_regular_file(sLibrary, ec)) RaiseError(errFileNotFound, "No " + sLibrary);
    fmt::print("registered {} in {}\n", sLibrary, RegisterServer(sLibrary).string());
    return 0;
  } catch (const clsError& err) {
    fmt::print(stderr, "register: {}\n", err.Description());
    return 1;
  }
}

int RunUnregister() {
  try {
    fmt::print("unregistered {} from {}\n", VARNLOGPROCESS_LIBRARY, UnregisterServer().string());
    return 0;
  } catch (const clsError& err) {
    fmt::print(stderr, "unregister: {}\n", err.Description());
    return 1;
  }
}

}  // namespace varn
