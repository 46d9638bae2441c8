// varnbench: times whole imports by the command line against the floor for SQL sent as text,
// sqlite3 running the same write statements (from the import's statement trace) in one
// transaction, then the report of the year imported against sqlite3 reading the rows it reads,
// and prints every figure beside its aim.
//   varnbench VARNLOG SQLITE3 WORK_FOLDER [RUNS]
// Each figure is the best of RUNS runs (default 3), each run of an import taking turns with
// one of its floor, timed as wall clock and as the CPU time of the child process (user +
// system), which other work on the machine disturbs far less; the ratios are taken on CPU
// time. Peak memory is the child's largest resident set.
#include <fmt/core.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Cost {
  double dWall = 0;
  double dCpu = 0;
  double dPeakMiB = 0;
};

Cost Best(const Cost& a, const Cost& b) {
  return {std::min(a.dWall, b.dWall), std::min(a.dCpu, b.dCpu), std::max(a.dPeakMiB, b.dPeakMiB)};
}

double Seconds(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

// Runs a program to its end with its output discarded (stdin from a file when one is named);
// its wall time, CPU time and peak memory. A non-zero exit status stops the benchmark.
Cost Run(const std::vector<std::string>& vArgs, const std::string& sStdin = {}) {
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
  if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
    std::string sCommand;
    for (const auto& s : vArgs) sCommand += s + " ";
    throw std::runtime_error("failed (status " + std::to_string(nStatus) + "): " + sCommand);
  }
  return {dWall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

// A small deterministic generator, so every run imports the same logs.
class Random {
 public:
  uint32_t Next(uint32_t nBound) {
    mnState ^= mnState << 13;
    mnState ^= mnState >> 7;
    mnState ^= mnState << 17;
    return static_cast<uint32_t>(mnState % nBound);
  }

 private:
  uint64_t mnState = 0x9E3779B97F4A7C15ull;
};

std::string Amount(Random& random) { return fmt::format("{}.{:02}", random.Next(5), random.Next(4) * 25); }

// One session line with nine goods places: mostly the current layout, one in ten the older one.
std::string SessionLine(Random& random, int nSession) {
  static const char* apUsers[] = {"Guest", "Member", "Student", "Staff"};
  int nStart = 8 * 60 + random.Next(12 * 60);
  int nUsed = 10 + static_cast<int>(random.Next(180));
  int nEnd = std::min(nStart + nUsed, 23 * 60 + 59);
  std::string sTimes = fmt::format("PC{:02},{:02}:{:02},{:02}:{:02},{}:{:02}", 1 + random.Next(24), nStart / 60,
                                   nStart % 60, nEnd / 60, nEnd % 60, (nEnd - nStart) / 60, (nEnd - nStart) % 60);
  std::string sUser = apUsers[random.Next(4)];
  std::string sMember = sUser == "Member" ? fmt::format(",M{}", 1000 + nSession % 9000) : "";
  std::string sCharge = Amount(random), sTotal = Amount(random);
  std::vector<std::string> vGoods;
  for (int n = 0; n < 9; ++n) vGoods.push_back(random.Next(3) == 0 ? Amount(random) : "");
  std::string sLine;
  if (random.Next(10) == 0) {
    for (auto& sGoods : vGoods) sGoods = sGoods.empty() ? "0" : "$" + sGoods;
    sLine = sTimes;
    for (const auto& sGoods : vGoods) sLine += "," + sGoods;
    sLine += fmt::format(",{}:${},${}{}", sUser, sCharge, sTotal, sMember);
  } else {
    sLine = sTimes + "|";
    for (size_t n = 0; n < vGoods.size(); ++n) sLine += (n ? "," : "") + vGoods[n];
    sLine += fmt::format("|{}:{},{}{}", sUser, sCharge, sTotal, sMember);
  }
  return "\"" + sLine + "\"";
}

// A day's log: the date line, nSessions sessions among nShifts sign-ons and sign-offs (half
// each), and the day's total.
void WriteDay(const fs::path& path, int nDay, int nMonth, int nYear, int nSessions, int nShifts) {
  Random random;
  std::ofstream out(path, std::ios::binary);
  out << fmt::format("#{:02}/{:02}/{}#\r\n", nDay, nMonth, nYear);
  int nPairs = std::max(nShifts / 2, 1);
  int nSession = 0;
  for (int nPair = 0; nPair < nPairs; ++nPair) {
    std::string sOperator = fmt::format("Operator{}", nPair % 7);
    int nMinute = nPair * 600 / nPairs;
    if (nShifts > 0) {
      out << fmt::format(">> {:02}.{:02}.{} {:02}:{:02}:00 Sign On: {}\r\n", nDay, nMonth, nYear, 8 + nMinute / 60,
                         nMinute % 60, sOperator);
    }
    int nUntil = nSessions * (nPair + 1) / nPairs;
    for (; nSession < nUntil; ++nSession) out << SessionLine(random, nSession) << "\r\n";
    if (nShifts > 0) {
      out << fmt::format("<< {:02}.{:02}.{} {:02}:{:02}:59 Sign Off: {}\r\n", nDay, nMonth, nYear,
                         8 + (nMinute + 5) / 60, (nMinute + 5) % 60, sOperator);
    }
  }
  out << "End Total 0\r\n";
}

class Bench {
 public:
  Bench(std::string sVarnlog, std::string sSqlite3, fs::path work, int nRuns)
      : msVarnlog(std::move(sVarnlog)), msSqlite3(std::move(sSqlite3)), mWork(std::move(work)), mnRuns(nRuns) {
    fs::remove_all(mWork);
    fs::create_directories(mWork);
    Run({msVarnlog, "--db", Path("empty.mdb"), "init"});
  }

  std::string Path(const std::string& sName) const { return (mWork / sName).string(); }

  void Fresh(const std::string& sDB) const {
    fs::copy_file(Path("empty.mdb"), sDB, fs::copy_options::overwrite_existing);
  }

  Cost Import(const std::string& sDB, const std::string& sLogs, bool bUpdate) const {
    return Run({msVarnlog, "--db", sDB, "import", bUpdate ? "--yes" : "--no", sLogs});
  }

  // The write statements of an import as sqlite3 reads them, in one transaction.
  std::string TraceScript(const std::string& sDB, const std::string& sLogs, bool bUpdate, const std::string& sName,
                          size_t* pnStatements) const {
    std::string sTrace = Path(sName + ".trace");
    fs::remove(sTrace);
    Run({msVarnlog, "--db", sDB, "--trace-sql", sTrace, "import", bUpdate ? "--yes" : "--no", sLogs});
    std::ifstream in(sTrace);
    std::string sScript = "PRAGMA journal_mode=DELETE;\nPRAGMA synchronous=FULL;\nBEGIN;\n";
    size_t nStatements = 0;
    for (std::string sLine; std::getline(in, sLine);) {
      std::string sWord = sLine.substr(0, sLine.find(' '));
      if (sWord != "INSERT" && sWord != "UPDATE" && sWord != "DELETE" && sWord != "ALTER") continue;
      sScript += sLine + ";\n";
      ++nStatements;
    }
    sScript += "COMMIT;\n";
    std::string sScriptPath = Path(sName + ".sql");
    std::ofstream(sScriptPath, std::ios::binary) << sScript;
    *pnStatements = nStatements;
    return sScriptPath;
  }

  // sqlite3 running a script on a copy of sStartDB.
  Cost FloorOnce(const std::string& sStartDB, const std::string& sScript) const {
    std::string sDB = Path("floor.mdb");
    fs::copy_file(sStartDB, sDB, fs::copy_options::overwrite_existing);
    return Run({msSqlite3, sDB}, sScript);
  }

  // The report of a period ("--month", "2025-06"), its tables printed and discarded.
  Cost Report(const std::string& sDB, const std::vector<std::string>& vPeriod) const {
    std::vector<std::string> vArgs{msVarnlog, "--db", sDB, "report"};
    vArgs.insert(vArgs.end(), vPeriod.begin(), vPeriod.end());
    return Run(vArgs);
  }

  // sqlite3 running a script on sDB itself, its output discarded.
  Cost Sqlite(const std::string& sDB, const std::string& sScript) const { return Run({msSqlite3, sDB}, sScript); }

  int Runs() const { return mnRuns; }

 private:
  std::string msVarnlog;
  std::string msSqlite3;
  fs::path mWork;
  int mnRuns;
};

struct Row {
  std::string sWhat;
  Cost cost;
  std::string sRatio;
  std::string sAim;
  bool bMet = true;
  bool bHasAim = false;
};

std::vector<Row> gvRows;

void AddRow(const std::string& sWhat, const Cost& cost) { gvRows.push_back({sWhat, cost, "", "", true, false}); }

void AddRatio(const std::string& sWhat, const Cost& cost, double dRatio, double dAim, const std::string& sAgainst) {
  gvRows.push_back({sWhat, cost, fmt::format("{:.2f}x {}", dRatio, sAgainst), fmt::format("<= {:.1f}x", dAim),
                    dRatio <= dAim, true});
}

struct DaySize {
  int nSessions;
  Cost import, update, floorImport, floorUpdate;
  size_t nImportStatements = 0, nUpdateStatements = 0;
};

DaySize MeasureDay(const Bench& bench, int nSessions) {
  DaySize day{nSessions, {}, {}, {}, {}};
  fs::path folder = bench.Path(fmt::format("day-{}", nSessions));
  fs::create_directories(folder);
  std::string sLog = (folder / "03-02-2025.log").string();
  WriteDay(sLog, 3, 2, 2025, nSessions, 200);

  std::string sImported = bench.Path("imported.mdb");
  bench.Fresh(sImported);
  std::string sImportScript = bench.TraceScript(sImported, sLog, false, "import", &day.nImportStatements);
  std::string sUpdateStart = bench.Path("update-start.mdb");
  fs::copy_file(sImported, sUpdateStart, fs::copy_options::overwrite_existing);
  std::string sUpdateScript = bench.TraceScript(sImported, sLog, true, "update", &day.nUpdateStatements);

  // The runs take turns with their floors, so that other work on the machine weighs on both alike.
  std::string sDB = bench.Path("day.mdb");
  Cost none{1e300, 1e300, 0};
  day.import = day.update = day.floorImport = day.floorUpdate = none;
  for (int n = 0; n < bench.Runs(); ++n) {
    bench.Fresh(sDB);
    day.import = Best(day.import, bench.Import(sDB, sLog, false));
    day.floorImport = Best(day.floorImport, bench.FloorOnce(bench.Path("empty.mdb"), sImportScript));
    day.update = Best(day.update, bench.Import(sDB, sLog, true));
    day.floorUpdate = Best(day.floorUpdate, bench.FloorOnce(sUpdateStart, sUpdateScript));
  }
  return day;
}

std::string Machine() {
  std::ifstream in("/proc/cpuinfo");
  std::string sModel = "unknown processor";
  for (std::string sLine; std::getline(in, sLine);) {
    if (sLine.rfind("model name", 0) == 0) {
      sModel = sLine.substr(sLine.find(':') + 2);
      break;
    }
  }
  return fmt::format("{} cores ({})", sysconf(_SC_NPROCESSORS_ONLN), sModel);
}

void Print(int nRuns) {
  fmt::print("\n{:<44} {:>8} {:>8} {:>9}  {:<26} {:<8} {}\n", "measured", "wall s", "cpu s", "peak MiB", "ratio (cpu)",
             "aim", "met");
  fmt::print("{}\n", std::string(112, '-'));
  for (const Row& row : gvRows) {
    fmt::print("{:<44} {:>8.3f} {:>8.3f} {:>9.1f}  {:<26} {:<8} {}\n", row.sWhat, row.cost.dWall, row.cost.dCpu,
               row.cost.dPeakMiB, row.sRatio, row.sAim, row.bHasAim ? (row.bMet ? "yes" : "NO") : "");
  }
  fmt::print("\nBest of {} runs each. Machine: {}.\n", nRuns, Machine());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    fmt::print(stderr, "usage: varnbench VARNLOG SQLITE3 WORK_FOLDER [RUNS]\n");
    return 2;
  }
  int nRuns = argc == 5 ? std::max(1, std::atoi(argv[4])) : 3;
  try {
    Bench bench(argv[1], argv[2], argv[3], nRuns);
    std::vector<DaySize> vDays;
    for (int nSessions : {1000, 4000, 20000, 32000}) {
      fmt::print(stderr, "day of {} sessions ...\n", nSessions);
      vDays.push_back(MeasureDay(bench, nSessions));
    }
    double dPeak = 0;
    for (const DaySize& day : vDays) {
      std::string sSize = fmt::format("{} sessions", day.nSessions);
      AddRow(fmt::format("floor: sqlite3, {} import statements", day.nImportStatements), day.floorImport);
      if (day.nSessions == 20000) {
        AddRatio("import, " + sSize, day.import, day.import.dCpu / day.floorImport.dCpu, 1.2, "floor");
      } else {
        AddRow("import, " + sSize, day.import);
        gvRows.back().sRatio = fmt::format("{:.2f}x floor", day.import.dCpu / day.floorImport.dCpu);
      }
      AddRow(fmt::format("floor: sqlite3, {} update statements", day.nUpdateStatements), day.floorUpdate);
      AddRatio("update, " + sSize, day.update, day.update.dCpu / day.import.dCpu, 1.5, "import");
      dPeak = std::max({dPeak, day.import.dPeakMiB, day.update.dPeakMiB});
    }
    const DaySize& small = vDays[1];
    const DaySize& large = vDays[3];
    AddRatio("import cost, 32000 against 4000 sessions", large.import, large.import.dCpu / small.import.dCpu, 9.0,
             "4000");

    fmt::print(stderr, "a year of 365 days of 300 sessions ...\n");
    fs::path year = bench.Path("year");
    fs::create_directories(year);
    for (int nDay = 0; nDay < 365; ++nDay) {
      // Day nDay of 2025, named day first.
      static const int anMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
      int nMonth = 0, nDate = nDay;
      while (nDate >= anMonthDays[nMonth]) nDate -= anMonthDays[nMonth++];
      WriteDay(year / fmt::format("{:02}-{:02}-2025.log", nDate + 1, nMonth + 1), nDate + 1, nMonth + 1, 2025, 300, 2);
    }
    std::string sTraced = bench.Path("year-traced.mdb");
    bench.Fresh(sTraced);
    size_t nYearStatements = 0;
    std::string sYearScript = bench.TraceScript(sTraced, year.string(), false, "year", &nYearStatements);
    std::string sYearDB = bench.Path("year.mdb");
    Cost yearCost{1e300, 1e300, 0}, yearFloor{1e300, 1e300, 0};
    for (int n = 0; n < nRuns; ++n) {
      bench.Fresh(sYearDB);
      yearCost = Best(yearCost, bench.Import(sYearDB, year.string(), false));
      yearFloor = Best(yearFloor, bench.FloorOnce(bench.Path("empty.mdb"), sYearScript));
    }
    AddRow(fmt::format("floor: sqlite3, {} year statements", nYearStatements), yearFloor);
    AddRatio("year: 365 files of 300 sessions, one command", yearCost, yearCost.dCpu / yearFloor.dCpu, 1.5, "floor");
    dPeak = std::max(dPeak, yearCost.dPeakMiB);

    // Its report, against the least a report that reads every session costs: sqlite3 reading the
    // same rows, in the same order.
    fmt::print(stderr, "the report of that year ...\n");
    std::string sReadScript = bench.Path("year-read.sql");
    std::ofstream(sReadScript) << "SELECT Date_ID, PC_No, StartTime, EndTime, TotalTime, User_ID, UserCharge, "
                                  "TotalGoods, Total FROM Session ORDER BY Date_ID, LineNo;\n";
    Cost report{1e300, 1e300, 0}, month{1e300, 1e300, 0}, readFloor{1e300, 1e300, 0};
    for (int n = 0; n < nRuns; ++n) {
      report = Best(report, bench.Report(sYearDB, {"--from", "2025-01-01", "--to", "2025-12-31"}));
      readFloor = Best(readFloor, bench.Sqlite(sYearDB, sReadScript));
      month = Best(month, bench.Report(sYearDB, {"--month", "2025-06"}));
    }
    AddRow("floor: sqlite3 reading the year's sessions", readFloor);
    gvRows.push_back({"report: the year, 109500 sessions", report,
                      fmt::format("{:.2f}x floor", report.dCpu / readFloor.dCpu), "< 1 s", report.dWall < 1.0, true});
    AddRow("report: June of that year", month);

    gvRows.push_back({"peak memory of any import or update", Cost{0, 0, dPeak}, fmt::format("{:.1f} MiB", dPeak),
                      "< 64 MiB", dPeak < 64.0, true});
    Print(nRuns);
  } catch (const std::exception& ex) {
    fmt::print(stderr, "varnbench: {}\n", ex.what());
    return 1;
  }
  return 0;
}
