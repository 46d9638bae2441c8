// varnlog: imports a shop's daily logs into its report database, and looks after that database.
#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include <memory>
#include <string>

#include "app/Commands.h"
#include "db/clsAccessDatabase.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

using namespace varn;

namespace {

constexpr int kMostWaitSeconds = 86400;

// Why a --wait value is refused ("" when it is taken): a negative wait, or one that no engine
// can keep, in plain words.
std::string WaitInWords(const std::string& sValue) {
  size_t nEnd = 0;
  long lSeconds = -1;
  try {
    lSeconds = std::stol(sValue, &nEnd);
  } catch (const std::exception&) {
  }
  if (nEnd == sValue.size() && lSeconds >= 0 && lSeconds <= kMostWaitSeconds) return {};
  return "the wait is a whole number of seconds from 0 to " + std::to_string(kMostWaitSeconds) + ", not " + sValue;
}

// An unknown word where the command stands is named, with the commands there are.
int UnknownCommand(const CLI::App& app, const std::string& sWord) {
  std::string sCommands;
  for (const CLI::App* pCommand : app.get_subcommands({})) {
    sCommands += (sCommands.empty() ? "" : ", ") + pCommand->get_name();
  }
  fmt::print(stderr, "varnlog: {} is no command; the commands are {} (varnlog --help tells more)\n", sWord, sCommands);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"varnlog: imports a shop's daily PC-rental and sales logs into its report database"};
  app.set_version_flag("--version", "varnlog 2.1.0");
  app.require_subcommand(1);

  GlobalOptions options;
  auto& settings = GlobalDatabaseSettings();
  app.add_option("--db", options.sDBPath,
                 "report database file or postgresql:// address (default: varnrpt.mdb beside the tool, or in "
                 "~/.local/share/varnlogimp when installed)");
  app.add_option("--wait", settings.nWaitSeconds, "seconds to wait for a database another import holds")
      ->default_val(30)
      ->check(CLI::Validator([](std::string& sValue) { return WaitInWords(sValue); }, "SECONDS"));
  app.add_option("--trace-sql", settings.sTraceFile, "write every SQL statement executed to this file");
  bool bGui = false;
  app.add_flag("--gui", bGui, "show the progress, questions and reports in windows (needs a display)");

  auto* pInit = app.add_subcommand("init", "create the report database (and its folders) if it is not there");
  auto* pStatus = app.add_subcommand("status", "say whether the database opens, and its rows per table");

  ImportOptions import;
  bool bYes = false, bNo = false;
  auto* pImport = app.add_subcommand("import", "import log files, or every log file of a folder in date order");
  auto* pYes = pImport->add_flag("--yes", bYes, "update dates already imported without asking");
  pImport->add_flag("--no", bNo, "skip dates already imported without asking")->excludes(pYes);
  pImport->add_option("--rejects", import.sRejectsFile, "write the uncategorised lines to this file");
  pImport->add_option("paths", import.vPaths, "log files or folders")->required();

  bool bCsv = false;
  auto* pHistory = app.add_subcommand("history", "list the imported dates in date order");
  pHistory->add_flag("--csv", bCsv, "machine-readable output");

  std::string sFile;
  auto* pCheck = app.add_subcommand("check", "say whether a log file's date is already imported");
  pCheck->add_option("file", sFile, "log file")->required();

  std::string sDate;
  bool bDeleteYes = false;
  auto* pDelete = app.add_subcommand("delete", "remove an imported date with all its rows");
  pDelete->add_flag("--yes", bDeleteYes, "do not ask for confirmation");
  pDelete->add_option("date", sDate, "the log date, dd/mm/yyyy or dd.mm.yyyy")->required();

  ReportOptions reportOptions;
  auto* pReport =
      app.add_subcommand("report", "the takings of a period as tables, CSV, or a printable page with charts");
  pReport->add_option("--from", reportOptions.sFrom,
                      "first day, dd/mm/yyyy or yyyy-mm-dd (default: the first imported)");
  auto* pTo = pReport->add_option("--to", reportOptions.sTo, "last day (default: the last imported)");
  pReport->add_option("--month", reportOptions.sMonth, "a month, yyyy-mm (without a period: the latest imported day's)")
      ->excludes(pTo);
  auto* pCsv = pReport->add_option("--csv", reportOptions.sCsvTable, "CSV of one table (days, pcs, ...), or of all");
  pCsv->expected(0, 1);
  pReport->add_option("--html", reportOptions.sHtmlFile, "write the report as a printable page with charts to FILE");

  auto* pRegister = app.add_subcommand("register", "record the library's classes in the user's registry file");
  auto* pUnregister = app.add_subcommand("unregister", "remove them from the user's registry file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    bool bNoCommand = dynamic_cast<const CLI::ExtrasError*>(&e) || dynamic_cast<const CLI::RequiredError*>(&e);
    if (bNoCommand && app.get_subcommands().empty() && !app.remaining().empty()) {
      return UnknownCommand(app, app.remaining().front());
    }
    int nExit = app.exit(e);
    return nExit == 0 ? 0 : 2;
  }

  std::shared_ptr<IUserInterface> pWindows;
  if (bGui) {
    std::string sWhyNot;
    pWindows = LoadWindowScreen(&sWhyNot);
    if (!pWindows) {
      fmt::print(stderr, "varnlog: --gui shows no windows: {}\n", sWhyNot);
      return 1;
    }
  }
  auto pScreen = std::make_shared<clsCommandLineUI>(pWindows);
  SetScreen(pScreen);
  if (bYes || bDeleteYes) pScreen->SetFixedAnswer(vbYes);
  if (bNo) pScreen->SetFixedAnswer(vbNo);

  // Whatever a command meets, it ends in the one report and a failure, never in an abort.
  const std::string sSource = "varnlog:" + app.get_subcommands().front()->get_name();
  int nExit = 1;
  clsTrap trap(sSource);
  bool bRan = trap.Run([&] {
    trap.Step("00");
    if (*pInit) nExit = RunInit(options);
    if (*pStatus) nExit = RunStatus(options);
    if (*pImport) nExit = RunImport(options, import, *pScreen);
    if (*pHistory) nExit = RunHistory(options, bCsv);
    if (*pCheck) nExit = RunCheck(options, sFile);
    if (*pDelete) nExit = RunDelete(options, sDate, *pScreen);
    if (*pReport) {
      reportOptions.bCsv = pCsv->count() > 0;
      nExit = RunReport(options, reportOptions);
    }
    if (*pRegister) nExit = RunRegister();
    if (*pUnregister) nExit = RunUnregister();
  });
  return bRan ? nExit : 1;
}
