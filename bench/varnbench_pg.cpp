// varnbench_pg: times the import of one day's log into a report database on a PostgreSQL
// server against the floor for SQL sent as text over the same connection: psql running the
// same write statements (the import's statement trace, in the server's dialect) in one
// transaction. Given a folder of the logs of 2025, it imports them once and times their report
// against psql reading the rows it reads.
//   varnbench_pg VARNLOG PSQL SERVER_URI LOG_FILE [RUNS [YEAR_FOLDER]]
// SERVER_URI names a database the user may create databases from; each run gets a new one.
// Both sides spend their time in two processes, so the CPU time counted is the client's
// (user + system) plus the server's (the postmaster and all its processes, read from /proc:
// the server must run on this machine). Each figure is the best of RUNS runs (default 3).
#include <fcntl.h>
#include <fmt/core.h>
#include <libpq-fe.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/PostgresBackend.h"

namespace fs = std::filesystem;

namespace {

struct Cost {
  double dWall = 1e300;
  double dCpu = 1e300;
};

double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

// Runs a statement with libpq; the first value of its first row ("" when none).
std::string ServerValue(const std::string& sUri, const std::string& sSql) {
  PGconn* pConn = PQconnectdb(sUri.c_str());
  PGresult* pResult = PQexec(pConn, sSql.c_str());
  ExecStatusType eStatus = PQresultStatus(pResult);
  std::string sValue = PQntuples(pResult) > 0 ? PQgetvalue(pResult, 0, 0) : "";
  std::string sError = PQerrorMessage(pConn);
  PQclear(pResult);
  PQfinish(pConn);
  if (eStatus != PGRES_TUPLES_OK && eStatus != PGRES_COMMAND_OK) throw std::runtime_error(sSql + ": " + sError);
  return sValue;
}

// CPU seconds a process has used, with those of the children it has waited for.
double ProcessCpu(const std::string& sPid, int* pnParent = nullptr) {
  std::ifstream in("/proc/" + sPid + "/stat");
  std::string sStat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t nEnd = sStat.rfind(')');
  if (nEnd == std::string::npos) return 0;
  std::istringstream fields(sStat.substr(nEnd + 2));
  std::vector<std::string> vFields{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
  if (vFields.size() < 15) return 0;
  if (pnParent) *pnParent = std::stoi(vFields[1]);
  double dTicks = std::stod(vFields[11]) + std::stod(vFields[12]) + std::stod(vFields[13]) + std::stod(vFields[14]);
  return dTicks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The server: its postmaster and every process it started, ended ones included.
class ServerCpu {
 public:
  explicit ServerCpu(const std::string& sUri) {
    std::string sPid =
        ServerValue(sUri, "SELECT pid FROM pg_stat_activity WHERE backend_type = 'checkpointer'");
    int nParent = 0;
    ProcessCpu(sPid, &nParent);
    if (nParent <= 1) throw std::runtime_error("the server's processes cannot be read from /proc");
    mnPostmaster = nParent;
  }

  double Now() const {
    double dCpu = ProcessCpu(std::to_string(mnPostmaster));
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::string sName = entry.path().filename().string();
      if (sName.find_first_not_of("0123456789") != std::string::npos) continue;
      int nParent = 0;
      double dChild = ProcessCpu(sName, &nParent);
      if (nParent == mnPostmaster) dCpu += dChild;
    }
    return dCpu;
  }

 private:
  int mnPostmaster = 0;
};

// Runs a program to its end with its output discarded (stdin from sStdin when named); its
// wall time and the CPU time of it and the server together.
Cost Run(const std::vector<std::string>& vArgs, const ServerCpu& server, const std::string& sStdin = {}) {
  double dServerBefore = server.Now();
  auto tStart = std::chrono::steady_clock::now();
  pid_t nChild = fork();
  if (nChild < 0) throw std::runtime_error("fork failed");
  if (nChild == 0) {
    int nNull = open("/dev/null", O_WRONLY);
    dup2(nNull, STDOUT_FILENO);
    dup2(nNull, STDERR_FILENO);
    int nIn = open(sStdin.empty() ? "/dev/null" : sStdin.c_str(), O_RDONLY);
    dup2(nIn, STDIN_FILENO);
    std::vector<char*> vArgv;
    for (const auto& s : vArgs) vArgv.push_back(const_cast<char*>(s.c_str()));
    vArgv.push_back(nullptr);
    execv(vArgv[0], vArgv.data());
    _exit(127);
  }
  int nStatus = 0;
  rusage usage{};
  if (wait4(nChild, &nStatus, 0, &usage) != nChild) throw std::runtime_error("wait failed");
  double dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count();
  // The server process of the connection ends just after the client; it is counted once ended.
  usleep(200000);
  double dServer = server.Now() - dServerBefore;
  if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
    std::string sCommand;
    for (const auto& s : vArgs) sCommand += s + " ";
    throw std::runtime_error("failed (status " + std::to_string(nStatus) + "): " + sCommand);
  }
  return {dWall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime) + dServer};
}

// The server's URI with another database name.
std::string UriOf(const std::string& sUri, const std::string& sDatabase) {
  size_t nQuery = std::min(sUri.find('?'), sUri.size());
  size_t nPath = std::min(sUri.find('/', sUri.find("://") + 3), nQuery);
  return sUri.substr(0, nPath) + "/" + sDatabase + sUri.substr(nQuery);
}

// A statement of the trace as it was executed: the trace writes a line break as \n and a
// backslash doubled.
std::string Untraced(const std::string& sLine) {
  std::string sSql;
  for (size_t n = 0; n < sLine.size(); ++n) {
    if (sLine[n] == '\\' && n + 1 < sLine.size()) {
      char c = sLine[++n];
      sSql += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    } else {
      sSql += sLine[n];
    }
  }
  return sSql;
}

class ServerBench {
 public:
  ServerBench(std::string sVarnlog, std::string sPsql, std::string sUri, int nRuns)
      : msVarnlog(std::move(sVarnlog)), msPsql(std::move(sPsql)), msUri(std::move(sUri)), mnRuns(nRuns),
        mServer(msUri) {}

  // A new database with the report schema.
  std::string Fresh() {
    std::string sName = fmt::format("varnbench_{}_{}", getpid(), ++mnDatabases);
    ServerValue(msUri, "CREATE DATABASE " + sName);
    std::string sUri = UriOf(msUri, sName);
    Run({msVarnlog, "--db", sUri, "init"}, mServer);
    return sUri;
  }

  Cost Import(const std::string& sLog) {
    Cost best;
    for (int n = 0; n < mnRuns; ++n) {
      std::string sUri = Fresh();
      Cost cost = Run({msVarnlog, "--db", sUri, "import", "--no", sLog}, mServer);
      best = {std::min(best.dWall, cost.dWall), std::min(best.dCpu, cost.dCpu)};
    }
    return best;
  }

  // The import's write statements as psql reads them, in one transaction.
  std::string TraceScript(const std::string& sLog, const std::string& sWork, size_t* pnStatements) {
    std::string sTrace = sWork + "/server.trace";
    fs::remove(sTrace);
    Run({msVarnlog, "--db", Fresh(), "--trace-sql", sTrace, "import", "--no", sLog}, mServer);
    std::ifstream in(sTrace);
    std::string sScript = "SET DateStyle = 'SQL, DMY';\nBEGIN;\n";
    size_t nStatements = 0;
    for (std::string sLine; std::getline(in, sLine);) {
      std::string sWord = sLine.substr(0, sLine.find(' '));
      if (sWord != "INSERT" && sWord != "UPDATE" && sWord != "DELETE" && sWord != "ALTER") continue;
      std::string sSql = varn::PostgresDialect(Untraced(sLine));
      while (!sSql.empty() && (sSql.back() == ';' || sSql.back() == ' ')) sSql.pop_back();
      sScript += sSql + ";\n";
      ++nStatements;
    }
    sScript += "COMMIT;\n";
    std::string sScriptPath = sWork + "/server.sql";
    std::ofstream(sScriptPath, std::ios::binary) << sScript;
    *pnStatements = nStatements;
    return sScriptPath;
  }

  Cost Floor(const std::string& sScript) {
    Cost best;
    for (int n = 0; n < mnRuns; ++n) {
      std::string sUri = Fresh();
      Cost cost = Run({msPsql, "-X", "-q", "-v", "ON_ERROR_STOP=1", "-f", sScript, sUri}, mServer);
      best = {std::min(best.dWall, cost.dWall), std::min(best.dCpu, cost.dCpu)};
    }
    return best;
  }

  // The year's logs imported once into a new database (that import's cost in *pImport); the
  // report of the year and psql reading the same rows, each the best of the runs.
  Cost YearReport(const std::string& sFolder, Cost* pImport, Cost* pFloor) {
    std::string sUri = Fresh();
    *pImport = Run({msVarnlog, "--db", sUri, "import", "--no", sFolder}, mServer);
    const std::string sRead =
        "SELECT Date_ID, PC_No, StartTime, EndTime, TotalTime, User_ID, UserCharge, "
        "TotalGoods, Total FROM Session ORDER BY Date_ID, LineNo";
    Cost best;
    for (int n = 0; n < mnRuns; ++n) {
      Cost cost = Run({msVarnlog, "--db", sUri, "report", "--from", "2025-01-01", "--to", "2025-12-31"}, mServer);
      best = {std::min(best.dWall, cost.dWall), std::min(best.dCpu, cost.dCpu)};
      Cost floor = Run({msPsql, "-X", "-q", "-c", sRead, sUri}, mServer);
      *pFloor = {std::min(pFloor->dWall, floor.dWall), std::min(pFloor->dCpu, floor.dCpu)};
    }
    return best;
  }

  void DropDatabases() {
    for (int n = 1; n <= mnDatabases; ++n) {
      ServerValue(msUri, fmt::format("DROP DATABASE IF EXISTS varnbench_{}_{} WITH (FORCE)", getpid(), n));
    }
  }

 private:
  std::string msVarnlog;
  std::string msPsql;
  std::string msUri;
  int mnRuns;
  ServerCpu mServer;
  int mnDatabases = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || argc > 7) {
    fmt::print(stderr, "usage: varnbench_pg VARNLOG PSQL SERVER_URI LOG_FILE [RUNS [YEAR_FOLDER]]\n");
    return 2;
  }
  int nRuns = argc >= 6 ? std::max(1, std::atoi(argv[5])) : 3;
  std::string sLog = argv[4];
  try {
    ServerBench bench(argv[1], argv[2], argv[3], nRuns);
    fmt::print(stderr, "the same day into a PostgreSQL server ...\n");
    size_t nStatements = 0;
    std::string sScript = bench.TraceScript(sLog, fs::path(sLog).parent_path().string(), &nStatements);
    Cost floor = bench.Floor(sScript);
    Cost import = bench.Import(sLog);
    Cost yearImport, report, readFloor;
    if (argc == 7) {
      fmt::print(stderr, "a year of logs into a PostgreSQL server, and its report ...\n");
      report = bench.YearReport(argv[6], &yearImport, &readFloor);
    }
    bench.DropDatabases();
    double dRatio = import.dCpu / floor.dCpu;
    fmt::print("\n{:<44} {:>8} {:>8}  {:<26} {:<8} {}\n", "measured on the server", "wall s", "cpu s",
               "ratio (cpu)", "aim", "met");
    fmt::print("{}\n", std::string(102, '-'));
    fmt::print("{:<44} {:>8.3f} {:>8.3f}\n", fmt::format("floor: psql, {} import statements", nStatements),
               floor.dWall, floor.dCpu);
    fmt::print("{:<44} {:>8.3f} {:>8.3f}  {:<26} {:<8} {}\n", "import of " + fs::path(sLog).filename().string(),
               import.dWall, import.dCpu, fmt::format("{:.2f}x floor", dRatio), "<= 1.5x", dRatio <= 1.5 ? "yes" : "NO");
    if (argc == 7) {
      fmt::print("{:<44} {:>8.3f} {:>8.3f}\n", "year: 365 files of 300 sessions, one command", yearImport.dWall,
                 yearImport.dCpu);
      fmt::print("{:<44} {:>8.3f} {:>8.3f}\n", "floor: psql reading the year's sessions", readFloor.dWall,
                 readFloor.dCpu);
      fmt::print("{:<44} {:>8.3f} {:>8.3f}  {:<26} {:<8} {}\n", "report: the year, 109500 sessions", report.dWall,
                 report.dCpu, fmt::format("{:.2f}x floor", report.dCpu / readFloor.dCpu), "< 2 s",
                 report.dWall < 2.0 ? "yes" : "NO");
    }
    fmt::print(
        "\nCPU time of the client and the server together; best of {} runs (the year's import: one); "
        "import wall time ratio {:.2f}x.\n",
        nRuns, import.dWall / floor.dWall);
  } catch (const std::exception& ex) {
    fmt::print(stderr, "varnbench_pg: {}\n", ex.what());
    return 1;
  }
  return 0;
}
