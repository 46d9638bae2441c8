#include "app/Commands.h"

#include <fmt/core.h>
#include <fmt/ranges.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "com/Registration.h"
#include "db/PostgresBackend.h"
#include "db/Schema.h"
#include "db/clsAccessDatabase.h"
#include "db/clsConnection.h"
#include "report/Report.h"
#include "runtime/Text.h"
#include "service/ImportFiles.h"
#include "service/clsLogAnalysis.h"

namespace varn {

namespace fs = std::filesystem;

namespace {

std::string DatabasePath(const GlobalOptions& options) {
  return options.sDBPath.empty() ? DefaultDatabasePath() : options.sDBPath;
}

// The database as it may be printed: a password inside a server URI is never shown.
std::string ShownDatabase(const GlobalOptions& options) { return ShownAddress(DatabasePath(options)); }

enum eNeeds { enuConnection, enuHistory };

// The service signed on to the database; nullptr (the failure reported) when not connected, or
// when the command answers from the history and that could not be loaded.
std::shared_ptr<clsLogAnalysis> OpenService(const GlobalOptions& options, eNeeds eNeed = enuConnection) {
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(options.sDBPath);
  if (!pService->IsConnected()) {
    fmt::print(stderr, "varnlog: cannot open the report database {}\n", ShownDatabase(options));
    return nullptr;
  }
  if (eNeed == enuHistory && !pService->HistoryLoaded()) {
    fmt::print(stderr, "varnlog: the imported days cannot be read from {}\n", ShownDatabase(options));
    return nullptr;
  }
  return pService;
}

// Opens the database only to read it: nothing is created or written, so a read-only file serves.
std::shared_ptr<clsLogAnalysis> OpenToRead(const GlobalOptions& options, eNeeds eNeed) {
  GlobalDatabaseSettings().bReadOnly = true;
  return OpenService(options, eNeed);
}

// Listed under the file's line, made visible and cut short, or written whole to the rejects file without a copy.
void PrintRejects(const FileImport& file, std::ofstream* pRejectsOut) {
  const std::string sName = fs::path(file.sPath).filename().string();
  file.ForEachReject([&](std::string_view sHeading, std::string_view sLine) {
    if (pRejectsOut) *pRejectsOut << sName << ": " << sHeading << sLine << '\n';
    else fmt::print("    {}\n", FileImport::Shown(sHeading, sLine));
  });
}

void ImportOne(clsLogAnalysis& service, const std::string& sPath, clsCommandLineUI& screen, ImportTally& tally,
               std::ofstream* pRejectsOut) {
  auto date = ParseDate(fs::path(sPath).stem().string());
  screen.About(fmt::format("{}: {} is already imported", VisibleText(fs::path(sPath).filename().string()),
                           date ? FormatDate(*date, "dd/mm/yyyy") : std::string("its day")));
  FileImport file = ImportLogFile(service, sPath);
  tally.Add(file);
  fmt::print("{}\n", file.Line());
  PrintRejects(file, pRejectsOut);
}

// A rejects file that is an input, or lies in an input folder, would be read as a log or
// overwrite one; links, symbolic or hard, lead to the same file.
bool HarmsALog(const fs::path& rejects, const std::vector<std::string>& vPaths) {
  std::error_code ec;
  fs::path target = fs::weakly_canonical(rejects, ec);
  auto Same = [&](const fs::path& file) {
    return target == fs::weakly_canonical(file, ec) || fs::equivalent(rejects, file, ec);
  };
  for (const auto& sPath : vPaths) {
    fs::path input = fs::weakly_canonical(sPath, ec);
    if (Same(sPath)) return true;
    if (!fs::is_directory(input, ec)) continue;
    if (std::mismatch(input.begin(), input.end(), target.begin(), target.end()).first == input.end()) return true;
    for (const auto& entry : fs::directory_iterator(input, ec)) {
      if (Same(entry.path())) return true;
    }
  }
  return false;
}

// The rejects file opened for writing; nullptr (the failure said) when it may not or cannot be.
std::unique_ptr<std::ofstream> OpenRejects(const ImportOptions& import) {
  if (HarmsALog(import.sRejectsFile, import.vPaths)) {
    fmt::print(stderr,
               "varnlog: the rejects file {} is one of the logs to import or lies in a folder of them; "
               "nothing was imported\n",
               import.sRejectsFile);
    return nullptr;
  }
  auto pRejectsOut = std::make_unique<std::ofstream>(import.sRejectsFile);
  if (!*pRejectsOut) {
    fmt::print(stderr, "varnlog: cannot write {}\n", import.sRejectsFile);
    return nullptr;
  }
  return pRejectsOut;
}

}  // namespace

int RunInit(const GlobalOptions& options) {
  // A database on a server gets its schema when it is first opened; it has no folder to make.
  if (IsPostgresUri(options.sDBPath)) {
    if (!OpenService(options)) return 1;
    fmt::print("Report database ready at {}\n", ShownDatabase(options));
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
  auto pService = OpenToRead(options, enuHistory);
  if (!pService) return 1;
  fmt::print("Connected to {}\n", ShownDatabase(options));
  for (const SchemaTable& table : ReportSchema().vTables) {
    fmt::print("  {:<10} {:>8} rows\n", table.sName, pService->RowCount(table.sName));
  }
  return 0;
}

int RunImport(const GlobalOptions& options, const ImportOptions& import, clsCommandLineUI& screen) {
  std::unique_ptr<std::ofstream> pRejectsOut;
  if (!import.sRejectsFile.empty() && !(pRejectsOut = OpenRejects(import))) return 1;
  auto pService = OpenService(options);
  if (!pService) return 1;
  ImportTally tally;
  for (const auto& sArgument : import.vPaths) {
    std::vector<FileImport> vSkipped;
    std::vector<std::string> vFiles = LogFilesOf(sArgument, vSkipped);
    for (const FileImport& skipped : vSkipped) fmt::print("{}\n", skipped.Line());
    if (vFiles.empty()) fmt::print("{}: no log files (named by their date) in this folder\n", sArgument);
    for (const auto& sFile : vFiles) ImportOne(*pService, sFile, screen, tally, pRejectsOut.get());
  }
  fmt::print("{}\n", tally.Line());
  if (pRejectsOut && !pRejectsOut->flush()) {
    fmt::print(stderr, "varnlog: cannot write {}: the rejected lines are not all in it\n", import.sRejectsFile);
    return 1;
  }
  return tally.nFailed ? 1 : 0;
}

int RunHistory(const GlobalOptions& options, bool bCsv) {
  // Lists every row as stored, those the history cannot take too, so that they can be seen.
  auto pService = OpenToRead(options, enuConnection);
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
    // To the cent: a stored sum may carry the rounding of its additions.
    fmt::print("{:<12} {:<20} {:>12} {:>6}\n", VisibleText(row.sLogDate), VisibleText(row.sImported),
               NumText(std::round(row.dblTotal * 100) / 100), row.lDate_ID);
  }
  return 0;
}

int RunCheck(const GlobalOptions& options, const std::string& sFile) {
  auto pService = OpenToRead(options, enuHistory);
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
  auto date = ParseDate(Replace(sDate, ".", "/"));
  if (!date) {
    fmt::print(stderr, "varnlog: {} is not a date (25/12/2003 or 25.12.2003)\n", VisibleText(sDate));
    return 2;
  }
  auto pService = OpenService(options, enuHistory);
  if (!pService) return 1;
  auto pHistory = pService->HistoryLogDates();
  std::string sKey = FormatDate(*date, "dd/mm/yyyy");
  if (!pHistory->Exists(sKey)) {
    fmt::print(stderr, "varnlog: {} is not imported\n", sKey);
    return 1;
  }
  DayCounts counts = pService->CountsOfDay(pHistory->Item(sKey)->Date_ID());
  std::string sPrompt = DeletionQuestion(sKey, counts);
  screen.About({});
  if (screen.MsgBox(sPrompt, vbYesNo + vbQuestion, kAppTitle) != vbYes) {
    fmt::print("{}: not deleted\n", sKey);
    return 1;
  }
  if (!pService->DeleteLogDate(sDate)) return 1;
  fmt::print("{}\n", DeletionDone(sKey, pService->RowsRemoved()));
  return 0;
}

int RunReport(const GlobalOptions& options, const ReportOptions& report) {
  std::optional<Date> from, to;
  for (auto [psText, pDate] : {std::pair{&report.sFrom, &from}, std::pair{&report.sTo, &to}}) {
    if (psText->empty()) continue;
    if (auto date = ParseDate(*psText)) {
      *pDate = DateOnly(*date);
    } else {
      fmt::print(stderr, "varnlog: {} is not a date (25/12/2003 or 2003-12-25)\n", VisibleText(*psText));
      return 2;
    }
  }
  std::optional<ReportPeriod> month = report.sMonth.empty() ? std::nullopt : MonthPeriod(report.sMonth);
  if (!report.sMonth.empty() && !month) {
    fmt::print(stderr, "varnlog: {} is not a month (2024-03)\n", VisibleText(report.sMonth));
    return 2;
  }
  if (month) to = month->dtTo;
  if (month && !from) from = month->dtFrom;
  if (from && to && to->dSerial < from->dSerial) {
    fmt::print(stderr, "varnlog: the period ends on {} before it starts on {}\n", FormatDate(*to, "dd/mm/yyyy"),
               FormatDate(*from, "dd/mm/yyyy"));
    return 2;
  }
  const auto& vTables = ReportTableNames();
  if (!report.sCsvTable.empty() && std::find(vTables.begin(), vTables.end(), report.sCsvTable) == vTables.end()) {
    fmt::print(stderr, "varnlog: the report has no table {}; its tables are {}\n", VisibleText(report.sCsvTable),
               fmt::join(vTables, ", "));
    return 2;
  }
  auto pService = OpenToRead(options, enuConnection);
  if (!pService) return 1;
  Connection& connection = *pService->DBConnection()->DBConnection();
  // Without a period, the month of the latest imported day; an end not given, the first or the last.
  std::optional<ReportPeriod> imported = ImportedDays(connection);
  if (!imported) {
    fmt::print(stderr, "varnlog: no days are imported in {}\n", ShownDatabase(options));
    return 1;
  }
  ReportPeriod period =
      from || to ? ReportPeriod{from.value_or(imported->dtFrom), to.value_or(imported->dtTo)} : MonthOf(imported->dtTo);
  Report result = ComputeReport(connection, period);
  if (result.summary.lDays == 0) {
    fmt::print(stderr, "varnlog: no day from {} is imported\n", PeriodText(period));
    return 1;
  }
  if (!report.sHtmlFile.empty()) {
    if (!WriteReportPage(result, report.sHtmlFile)) {
      fmt::print(stderr, "varnlog: cannot write {}\n", report.sHtmlFile);
      return 1;
    }
    // Beside CSV on stdout, said on stderr.
    fmt::print(report.bCsv ? stderr : stdout, "Wrote the report of {} to {}\n", PeriodText(period), report.sHtmlFile);
  }
  if (report.bCsv) fmt::print("{}", ReportCsv(result, report.sCsvTable));
  else if (report.sHtmlFile.empty()) fmt::print("{}", ReportText(result));
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
    const auto [file, nRemoved] = UnregisterServer();
    std::error_code ec;
    if (nRemoved > 0) fmt::print("unregistered {} from {}\n", VARNLOGPROCESS_LIBRARY, file.string());
    else if (fs::exists(file, ec))
      fmt::print("nothing to remove: {} holds no entries of {}\n", file.string(), VARNLOGPROCESS_LIBRARY);
    else fmt::print("nothing to remove: there is no registry file {}\n", file.string());
    return 0;
  } catch (const clsError& err) {
    fmt::print(stderr, "unregister: {}\n", err.Description());
    return 1;
  }
}

}  // namespace varn
