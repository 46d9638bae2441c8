// What the fault tests share: a database compared before and after, the command line run as a
// separate process (with its output kept), and generated days of log large enough that an
// import takes a measurable while.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

extern char** environ;

namespace varn::test {

// Every table's definition and rows, in key order. Without the import times a database can be
// compared with one that received the same imports at another moment.
inline std::string Dump(const std::string& sDB, bool bImportTimes = true) {
  std::string sDump;
  for (const auto& vTable : SqlRows(sDB, "SELECT name, sql FROM sqlite_master ORDER BY name")) {
    sDump += vTable[1] + "\n";
    if (vTable[1].rfind("CREATE TABLE", 0) != 0) continue;
    std::string sColumns = !bImportTimes && vTable[0] == "DateRange" ? "Date_ID, LogDate, DateTotal" : "*";
    for (const auto& vRow : SqlRows(sDB, "SELECT " + sColumns + " FROM \"" + vTable[0] + "\" ORDER BY 1")) {
      for (const auto& sValue : vRow) sDump += sValue + "|";
      sDump += "\n";
    }
  }
  return sDump;
}

// "" when the two dumps are equal, else where they first differ (a short message even for
// dumps of many thousand rows).
inline std::string FirstDifference(const std::string& sActual, const std::string& sExpected) {
  if (sActual == sExpected) return {};
  size_t nAt = 0, nLine = 1;
  while (nAt < sActual.size() && nAt < sExpected.size() && sActual[nAt] == sExpected[nAt]) {
    if (sActual[nAt++] == '\n') ++nLine;
  }
  auto LineAt = [nAt](const std::string& s) {
    size_t nStart = s.rfind('\n', nAt == 0 ? 0 : nAt - 1);
    nStart = nStart == std::string::npos || nAt == 0 ? 0 : nStart + 1;
    return s.substr(nStart, s.find('\n', nStart) - nStart);
  };
  return "line " + std::to_string(nLine) + ": \"" + LineAt(sActual) + "\" where \"" + LineAt(sExpected) +
         "\" was expected";
}

inline std::string IntegrityCheck(const std::string& sDB) { return SqlValue(sDB, "PRAGMA integrity_check"); }

inline std::string LogText(const std::vector<std::string>& vLines) {
  std::string sText;
  for (const auto& sLine : vLines) sText += sLine + "\r\n";
  return sText;
}

// A busy day of the shop: shifts, sessions in both layouts with goods, four user categories,
// member ids, and the day's total. nVersion changes every total, as a corrected log would.
inline std::string GeneratedDay(const std::string& sDate, int nSessions, int nVersion = 0) {
  std::string sDots = sDate.substr(0, 2) + "." + sDate.substr(3, 2) + "." + sDate.substr(6);
  std::vector<std::string> vLines{"#" + sDate + "#", ">> " + sDots + " 07:55:00 Sign On: Olga"};
  static const char* const kUsers[] = {"Guest", "Member", "Student", "Staff"};
  double dblDay = 0;
  for (int n = 0; n < nSessions; ++n) {
    std::string sPC = "PC" + std::to_string(10 + n % 40);
    std::string sUser = kUsers[n % 4];
    int nTotal = 3 + n % 7 + nVersion;
    dblDay += nTotal;
    if (n % 5 == 4) {
      vLines.push_back("\"" + sPC + ",08:00,09:00,1:00,0,$1.50,0,0,0,0,0,0,$0.50," + sUser + ":$1.00,$" +
                       std::to_string(nTotal) + ".00\"");
    } else {
      std::string sMember = sUser == "Member" ? ",M" + std::to_string(100000 + n) : "";
      vLines.push_back("\"" + sPC + ",09:00,10:30,1:30|0.50,1.00,,0.50,0.25,,,0.75,1.00,0.50,1.25,,2.00,,0.75,1.00|" +
                       sUser + ":" + std::to_string(nTotal) + ".00," + std::to_string(nTotal) + ".00" + sMember + "\"");
    }
    if (n % 2000 == 1999) {
      vLines.push_back("<< " + sDots + " 14:00:00 Sign Off: Olga");
      vLines.push_back(">> " + sDots + " 14:00:05 Sign On: Olga");
    }
  }
  vLines.push_back("<< " + sDots + " 22:00:00 Sign Off: Olga");
  vLines.push_back("End Total " + std::to_string(static_cast<long>(dblDay)) + ".00");
  return LogText(vLines);
}

inline std::string VarnlogPath() {
  const char* pBinary = std::getenv("VARN_BINARY_DIR");
  return std::string(pBinary ? pBinary : ".") + "/varnlog";
}

// A command line started in the background, its output (stdout and stderr) going to a file.
inline pid_t StartVarnlog(const std::vector<std::string>& vArguments, const std::string& sOutputPath) {
  std::vector<std::string> vAll{VarnlogPath()};
  vAll.insert(vAll.end(), vArguments.begin(), vArguments.end());
  std::vector<char*> vArgv;
  for (auto& sArgument : vAll) vArgv.push_back(sArgument.data());
  vArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, sOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = 0;
  int nError = posix_spawn(&pid, vArgv[0], &actions, nullptr, vArgv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (nError != 0) throw std::runtime_error("cannot start " + vAll[0]);
  return pid;
}

// The exit status of a child, or minus the signal that ended it.
inline int WaitFor(pid_t pid) {
  int nStatus = 0;
  while (waitpid(pid, &nStatus, 0) < 0) {
  }
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
}

struct RunResult {
  int nExit = 0;
  std::string sOutput;
  double dblSeconds = 0;
};

inline RunResult RunVarnlog(const TempFolder& folder, const std::vector<std::string>& vArguments) {
  std::string sOutput = folder / "varnlog-output.txt";
  auto start = std::chrono::steady_clock::now();
  RunResult result;
  result.nExit = WaitFor(StartVarnlog(vArguments, sOutput));
  result.dblSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.sOutput = ReadFile(sOutput);
  return result;
}

}  // namespace varn::test
