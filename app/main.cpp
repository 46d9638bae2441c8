// varnlog: imports a shop's daily logs into its report database, and looks after that database.
#include <CLI/CLI.hpp>

#include <memory>

#include "app/Commands.h"
#include "db/clsAccessDatabase.h"
#include "ui/UserInterface.h"

using namespace varn;

int main(int argc, char** argv) {
  CLI::App app{"varnlog: imports a shop's daily PC-rental and sales logs into its report database"};
  app.set_version_flag("--version", "varnlog 2.1.0");
  app.require_subcommand(1);

  GlobalOptions options;
  auto& settings = GlobalDatabaseSettings();
  app.add_option("--db", options.sDBPath, "report database file (default: varnrpt.mdb beside the tool)");
  app.add_option("--wait", settings.nWaitSeconds, "seconds to wait for a database another import holds")
      ->default_val(30)
      ->check(CLI::NonNegativeNumber);
  app.add_option("--trace-sql", settings.sTraceFile, "write every SQL statement executed to this file");

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

  auto* pRegister = app.add_subcommand("register", "record the library's classes in the user's registry file");
  auto* pUnregister = app.add_subcommand("unregister", "remove them from the user's registry file");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    int nExit = app.exit(e);
    return nExit == 0 ? 0 : 2;
  }

  auto pScreen = std::make_shared<clsCommandLineUI>();
  SetScreen(pScreen);
  if (bYes || bDeleteYes) pScreen->SetFixedAnswer(vbYes);
  if (bNo) pScreen->SetFixedAnswer(vbNo);

  if (*pInit) return RunInit(options);
  if (*pStatus) return RunStatus(options);
  if (*pImport) return RunImport(options, import, *pScreen);
  if (*pHistory) return RunHistory(options, bCsv);
  if (*pCheck) return RunCheck(options, sFile);
  if (*pDelete) return RunDelete(options, sDate, *pScreen);
  if (*pRegister) return RunRegister();
  if (*pUnregister) return RunUnregister();
  return 2;
}
