// The commands of varnlog. Each opens the report database through the import service, does
// one thing, prints what it did on stdout (reports and questions go to stderr) and answers
// the exit status: 0 done, 1 the operation failed.
#pragma once

#include <string>
#include <vector>

#include "app/CommandLineUI.h"

namespace varn {

struct GlobalOptions {
  std::string sDBPath;  // empty: the default database beside the tool
};

struct ImportOptions {
  std::vector<std::string> vPaths;
  std::string sRejectsFile;
};

// --from and --to: dd/mm/yyyy (or with "." or "-") or yyyy-mm-dd; --month: yyyy-mm.
struct ReportOptions {
  std::string sFrom, sTo, sMonth;
  bool bCsv = false;
  std::string sCsvTable;  // "" for every table
  std::string sHtmlFile;
};

int RunInit(const GlobalOptions& options);
int RunStatus(const GlobalOptions& options);
int RunImport(const GlobalOptions& options, const ImportOptions& import, clsCommandLineUI& screen);
int RunHistory(const GlobalOptions& options, bool bCsv);
int RunCheck(const GlobalOptions& options, const std::string& sFile);
int RunDelete(const GlobalOptions& options, const std::string& sDate, clsCommandLineUI& screen);
int RunReport(const GlobalOptions& options, const ReportOptions& report);
// The library beside the program, entered in or taken out of the user's registry file.
int RunRegister();
int RunUnregister();

}  // namespace varn
