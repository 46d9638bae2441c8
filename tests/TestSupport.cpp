#include "tests/TestSupport.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "db/clsAccessDatabase.h"
#include "runtime/Text.h"

namespace varn::test {

TempFolder::TempFolder(const std::filesystem::path& base) {
  std::string sTemplate = (base / "varnlog-test-XXXXXX").string();
  if (!mkdtemp(sTemplate.data())) throw std::runtime_error("cannot create a temporary folder in " + base.string());
  mPath = sTemplate;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(mPath, ec);
}

std::string WriteFile(const std::string& sPath, const std::string& sBytes) {
  std::ofstream out(sPath, std::ios::binary);
  out << sBytes;
  if (!out) throw std::runtime_error("cannot write " + sPath);
  return sPath;
}

std::string ReadFile(const std::string& sPath) {
  std::ifstream in(sPath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string SourceDir() { return std::getenv("VARN_SOURCE_DIR") ? std::getenv("VARN_SOURCE_DIR") : "."; }

std::string DataFile(const std::string& sName) { return SourceDir() + "/tests/data/" + sName; }

std::string LogText(const Texts& vLines) {
  std::string sText;
  for (const auto& sLine : vLines) sText += sLine + "\r\n";
  return sText;
}

std::string GeneratedDay(const std::string& sDate, int nSessions, int nVersion) {
  std::string sDots = sDate.substr(0, 2) + "." + sDate.substr(3, 2) + "." + sDate.substr(6);
  Texts vLines{"#" + sDate + "#", ">> " + sDots + " 07:55:00 Sign On: Olga"};
  static const char* const kUsers[] = {"Guest", "Member", "Student", "Staff"};
  long lDay = 0;
  for (int n = 0; n < nSessions; ++n) {
    std::string sPC = "PC" + std::to_string(10 + n % 40);
    std::string sUser = kUsers[n % 4];
    int nTotal = 3 + n % 7 + nVersion;
    lDay += nTotal;
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
  vLines.push_back("End Total " + std::to_string(lDay) + ".00");
  return LogText(vLines);
}

namespace {

// A day before and after the operator corrected its log; sDelete runs on the first import.
struct Correction {
  std::string sName;
  Texts vBefore, vAfter;
  std::string sDelete;
};

std::vector<Correction> Corrections() {
  std::vector<Correction> vCases;
  auto Add = [&](const std::string& sName, const std::function<void(Texts&)>& fnCorrect, std::string sDelete = {}) {
    std::string sDay = (vCases.size() < 9 ? "0" : "") + std::to_string(vCases.size() + 1);
    Texts vLines{"\"PC09,07:00,07:30,0:30|1.00|Early:1.00,2.00\"",
                 "#" + sDay + "/03/2025#",
                 ">> " + sDay + ".03.2025 08:00:00 Sign On: Ann",
                 "\"PC01,08:10,08:40,0:30|2.00,1.00,3.00|Guest:1.50,7.50\"",
                 "\"PC02,09:00,10:00,1:00|0.50|Member:2.00,2.50,M7\"",
                 "<< " + sDay + ".03.2025 12:00:00 Sign Off: Ann",
                 "\"PC03,12:10,12:40,0:30,0,$1.50,0,0,0,0,0,0,0,Staff:$1.00,$2.50\"",
                 "End Total 14.50"};
    vCases.push_back({sName, vLines, vLines, std::move(sDelete)});
    fnCorrect(vCases.back().vAfter);
  };
  const std::string kLate = "\"PC04,13:00,13:30,0:30|1.00,1.00|Late:1.00,3.00\"";
  Add("a session removed", [](Texts& v) { v.erase(v.begin() + 3); });
  Add("a session inserted", [&](Texts& v) { v.insert(v.begin() + 4, kLate); });
  Add("a session and a shift moved", [](Texts& v) { std::swap(v[4], v[5]); });
  Add("a session turned into a shift", [](Texts& v) { v[4] = Replace(v[2], "Ann", "Bob"); });
  Add("a shift turned into a session", [&](Texts& v) { v[5] = kLate; });
  Add("a session no longer readable", [](Texts& v) { v[4] = "\"PC02,09:00|0.50\""; });
  Add("goods places dropped", [](Texts& v) { v[3] = "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""; });
  Add("the session before the date line removed", [](Texts& v) { v.erase(v.begin()); });
  auto Unchanged = [](Texts&) {};
  Add("goods rows lost meanwhile", Unchanged, "DELETE FROM Goods WHERE Date_ID=");
  return vCases;
}

std::string Cell(const Variant& v) { return v.IsNull() ? "NULL" : v.ToText(); }

// A day's rows, sorted, keys and import time left out: users by name, goods by their session's line.
std::string DayRows(Connection& conn, int32_t lDateID) {
  std::string sWhere = " WHERE Date_ID=" + NumText(int64_t{lDateID}), sRows;
  std::map<std::string, std::string> mapUsers, mapLines;
  for (const auto& vRow : conn.Query("SELECT User_ID, UserName FROM User").vRows)
    mapUsers[Cell(vRow[0])] = Cell(vRow[1]);
  Texts vRows;
  for (const auto& vRow : conn.Query("SELECT LogDate, DateTotal FROM DateRange" + sWhere).vRows)
    vRows.push_back("day " + Cell(vRow[0]) + " " + Cell(vRow[1]));
  for (std::string sTable : {"Session", "Shift", "Goods"}) {
    QueryResult rows = conn.Query("SELECT * FROM " + sTable + sWhere);
    for (const auto& vRow : rows.vRows) {
      std::string sRow = sTable, sKey;
      for (size_t n = 0; n < vRow.size(); ++n) {
        std::string sColumn = FoldCase(rows.vColumns[n]);
        if (sColumn == "session_id" || sColumn == "shift_id") sKey = Cell(vRow[n]);
        else if (sColumn == "user_id") sRow += " user=" + mapUsers[Cell(vRow[n])];
        else if (sColumn != "date_id" && !vRow[n].IsNull()) sRow += " " + sColumn + "=" + Cell(vRow[n]);
      }
      if (sTable == "Session") mapLines[sKey] = sRow;
      if (sTable == "Goods") sRow += " of " + (mapLines.count(sKey) ? mapLines[sKey] : "no session");
      vRows.push_back(sRow);
    }
  }
  std::sort(vRows.begin(), vRows.end());
  for (const auto& sRow : vRows) sRows += sRow + "\n";
  return sRows;
}

}  // namespace

std::string UpdatesAgainstFirstImports(const std::string& sUpdated, const std::string& sFresh,
                                       const std::string& sFolder) {
  auto pScreen = UseRecordingUI();
  std::vector<Correction> vCases = Corrections();
  auto Import = [&](const std::string& sDB, bool bBefore, bool bUpdate) {
    auto pService = OpenService(sDB);
    std::vector<int32_t> vDates;
    for (size_t n = 0; n < vCases.size(); ++n) {
      std::string sDay = (n < 9 ? "0" : "") + std::to_string(n + 1);
      std::string sLog =
          WriteFile(sFolder + "/" + sDay + "-03-2025.log", LogText(bBefore ? vCases[n].vBefore : vCases[n].vAfter));
      if (bUpdate) pScreen->AnswerNext(vbYes);
      if (!pService->ProcessLogFile(sLog)) throw std::runtime_error(vCases[n].sName + ": not imported");
      vDates.push_back(pService->LastDate_ID());
    }
    gobjLogAnalysis.reset();
    return vDates;
  };
  clsAccessDatabase updated, fresh;
  updated.OpenDatabase(sUpdated);
  std::shared_ptr<Connection> pUpdated = updated.GetConnection();
  pUpdated->Execute("INSERT INTO Session (Session_ID,Date_ID,LineNo,PC_No) VALUES (900,0,1,'older importer')");
  std::vector<int32_t> vUpdated = Import(sUpdated, true, false);
  for (size_t n = 0; n < vCases.size(); ++n) {
    if (!vCases[n].sDelete.empty()) pUpdated->Execute(vCases[n].sDelete + NumText(int64_t{vUpdated[n]}));
  }
  Import(sUpdated, false, true);
  std::vector<int32_t> vFresh = Import(sFresh, false, false);
  fresh.OpenDatabase(sFresh);
  for (size_t n = 0; n < vCases.size(); ++n) {
    std::string sDifference =
        FirstDifference(DayRows(*pUpdated, vUpdated[n]), DayRows(*fresh.GetConnection(), vFresh[n]));
    if (!sDifference.empty()) return vCases[n].sName + ": " + sDifference;
  }
  QueryResult older = pUpdated->Query("SELECT PC_No FROM Session WHERE Date_ID=0");
  if (older.vRows.size() != 1) return "the rows under Date_ID 0 changed: " + std::to_string(older.vRows.size());
  return {};
}

Rows SqlRows(const std::string& sDB, const std::string& sSql) {
  sqlite3* pDb = nullptr;
  bool bOpen = sqlite3_open_v2(sDB.c_str(), &pDb, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> db(pDb, sqlite3_close);
  sqlite3_busy_timeout(pDb, 10000);
  auto fnRow = [](void* pRows, int nColumns, char** apValues, char**) {
    auto& vRow = static_cast<Rows*>(pRows)->emplace_back();
    for (int n = 0; n < nColumns; ++n) vRow.emplace_back(apValues[n] ? apValues[n] : "NULL");
    return 0;
  };
  Rows vRows;
  char* pError = nullptr;
  if (!bOpen || sqlite3_exec(pDb, sSql.c_str(), fnRow, &vRows, &pError) != SQLITE_OK) {
    std::string sMsg = pError ? pError : sqlite3_errmsg(pDb);
    sqlite3_free(pError);
    throw std::runtime_error(sDB + ": " + sSql + ": " + sMsg);
  }
  return vRows;
}

std::string SqlValue(const std::string& sDB, const std::string& sSql) {
  auto vRows = SqlRows(sDB, sSql);
  return vRows.empty() || vRows[0].empty() ? std::string{} : vRows[0][0];
}

void SqlExec(const std::string& sDB, const std::string& sSql) { SqlRows(sDB, sSql); }

std::string Dump(const std::string& sDB, bool bImportTimes) {
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

std::string FirstDifference(const std::string& sActual, const std::string& sExpected) {
  if (sActual == sExpected) return {};
  size_t nAt = 0, nLine = 1;
  while (nAt < sActual.size() && nAt < sExpected.size() && sActual[nAt] == sExpected[nAt]) {
    if (sActual[nAt++] == '\n') ++nLine;
  }
  auto LineAt = [nAt](const std::string& s) {
    size_t nStart = nAt == 0 ? std::string::npos : s.rfind('\n', nAt - 1);
    nStart = nStart == std::string::npos ? 0 : nStart + 1;
    return s.substr(nStart, s.find('\n', nStart) - nStart);
  };
  return "line " + std::to_string(nLine) + ": \"" + LineAt(sActual) + "\" where \"" + LineAt(sExpected) +
         "\" was expected";
}

std::string DifferenceFromFile(const std::string& sActual, const std::string& sName) {
  if (std::getenv("VARN_UPDATE_EXPECTED")) WriteFile(DataFile(sName), sActual);
  std::string sDifference = FirstDifference(sActual, ReadFile(DataFile(sName)));
  return sDifference.empty() ? sDifference : sName + ", " + sDifference;
}

std::shared_ptr<clsLogAnalysis> OpenService(const std::string& sDB) {
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(sDB);
  return pService;
}

std::shared_ptr<clsRecordingUI> UseRecordingUI() {
  auto pScreen = std::make_shared<clsRecordingUI>();
  SetScreen(pScreen);
  return pScreen;
}

Int16 TestService::GetUserID(const std::string& sUserName) {
  auto it = mKeys.find(sUserName);
  return it == mKeys.end() ? Int16() : Int16(it->second);
}

Int16 TestService::CreateUser(const std::string& sUserName) {
  ++mnCreated;
  if (sUserName.empty()) return Int16();
  return Int16(mKeys[sUserName] = static_cast<int32_t>(mKeys.size()) + 1);
}

TestService::TestService(std::string sDB, bool bTrace) : msDB(std::move(sDB)), msTrace(bTrace ? msDB + ".sql" : "") {
  Reopen();
}

TestService::~TestService() {
  if (gobjLogAnalysis.get() == this) gobjLogAnalysis.reset();
  if (IsConnected()) mConnection->DBConnection()->Close();
}

void TestService::Reopen() {
  if (gobjLogAnalysis.get() == this) gobjLogAnalysis.reset();
  if (IsConnected()) mConnection->DBConnection()->Close();
  mConnection = std::make_shared<clsConnection>();
  if (!mConnection->SignOn(msDB)) throw std::runtime_error("cannot sign on to " + msDB);
  // Installed without ownership: the service lives on the test's stack.
  gobjLogAnalysis = std::shared_ptr<IImportService>(this, [](IImportService*) {});
  if (msTrace.empty()) return;
  std::remove(msTrace.c_str());
  mnSeen = 0;
  SharedConnection().TraceTo(msTrace);
}

void TestService::Prepare(const std::string& sSql) {
  mConnection->DBConnection()->Close();
  SqlExec(msDB, sSql);
  Reopen();
}

Texts TestService::Statements(const std::string& sPrefix) {
  std::ifstream in(msTrace);
  Texts vNew;
  size_t nLine = 0;
  for (std::string sLine; std::getline(in, sLine); ++nLine) {
    if (nLine >= mnSeen && sLine.rfind(sPrefix, 0) == 0) vNew.push_back(sLine);
  }
  mnSeen = nLine;
  return vNew;
}

std::string VarnlogPath() {
  return std::string(std::getenv("VARN_BINARY_DIR") ? std::getenv("VARN_BINARY_DIR") : ".") + "/varnlog";
}

pid_t StartChild(const std::function<void()>& fn, long lFileSizeLimit) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start a process");
  if (pid > 0) return pid;
  if (lFileSizeLimit > 0) {
    rlimit limit{static_cast<rlim_t>(lFileSizeLimit), static_cast<rlim_t>(lFileSizeLimit)};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_IGN);
  }
  try {
    fn();
    _exit(0);
  } catch (...) {
    _exit(3);
  }
}

pid_t StartVarnlog(const Texts& vArguments, const std::string& sOutputPath, long lFileSizeLimit) {
  Texts vAll{VarnlogPath()};
  vAll.insert(vAll.end(), vArguments.begin(), vArguments.end());
  std::vector<char*> vArgv;
  for (auto& sArgument : vAll) vArgv.push_back(sArgument.data());
  vArgv.push_back(nullptr);
  return StartChild(
      [&] {
        int nIn = open("/dev/null", O_RDONLY);
        int nOut = open(sOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (nIn < 0 || nOut < 0) _exit(126);
        dup2(nIn, STDIN_FILENO);
        dup2(nOut, STDOUT_FILENO);
        dup2(nOut, STDERR_FILENO);
        execv(vArgv[0], vArgv.data());
        _exit(127);
      },
      lFileSizeLimit);
}

int WaitFor(pid_t pid) {
  int nStatus = 0;
  while (waitpid(pid, &nStatus, 0) < 0) continue;
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
}

RunResult RunVarnlog(const Texts& vArguments, long lFileSizeLimit) {
  TempFolder folder;
  auto start = std::chrono::steady_clock::now();
  int nExit = WaitFor(StartVarnlog(vArguments, folder / "output.txt", lFileSizeLimit));
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  return {nExit, ReadFile(folder / "output.txt"), seconds.count()};
}

std::string Unexpected(const RunResult& result, int nExit, const std::string& sPart) {
  if (result.nExit == nExit && result.sOutput.find(sPart) != std::string::npos) return {};
  return "exit " + std::to_string(result.nExit) + ", output:\n" + result.sOutput;
}

std::string EveryCommandEnds(const std::string& sDB, const std::string& sLog, int nWait) {
  const std::string sDate = Replace(std::filesystem::path(sLog).stem().string(), "-", "/");
  const Texts kCommands[] = {{"status"},      {"history"}, {"history", "--csv"},      {"report"},
                             {"check", sLog}, {"init"},    {"import", "--yes", sLog}, {"delete", "--yes", sDate}};
  std::string sEnds;
  for (const Texts& vCommand : kCommands) {
    Texts vArguments{"--wait", std::to_string(nWait), "--db", sDB};
    vArguments.insert(vArguments.end(), vCommand.begin(), vCommand.end());
    RunResult result = RunVarnlog(vArguments);
    auto Says = [&](const char* sText) { return result.sOutput.find(sText) != std::string::npos; };
    sEnds += (sEnds.empty() ? "" : ", ") + vCommand[0] + " " + std::to_string(result.nExit);
    if (Says("terminate called") || result.nExit < 0) sEnds += " aborted";
    if (result.nExit != 0 && !Says("Varn Log Process:\n")) sEnds += " without the report";
    if (result.dblSeconds > nWait + 1.5) sEnds += " waited longer than told";
    if (Says("Another import") || Says("not imported yet")) sEnds += " said: " + result.sOutput;
  }
  return sEnds;
}

std::shared_ptr<void> HoldLock(const std::string& sDB, const std::string& sBegin) {
  int anEnds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, anEnds) != 0) throw std::runtime_error("socketpair");
  pid_t pid = StartChild([&] {
    close(anEnds[0]);
    sqlite3* pDb = nullptr;
    sqlite3_open(sDB.c_str(), &pDb);
    std::string sSql = sBegin + "; INSERT INTO User (User_ID, UserName) VALUES (999, 'Not yet committed')";
    char c = sqlite3_exec(pDb, sSql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? 'y' : 'n';
    // Held until the holder's end closes; rolled back so that no hot journal is left.
    if (write(anEnds[1], &c, 1) != 1 || read(anEnds[1], &c, 1) < 0) _exit(4);
    sqlite3_exec(pDb, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(pDb);
  });
  close(anEnds[1]);
  std::shared_ptr<void> pHolder(nullptr, [nEnd = anEnds[0], pid](void*) {
    close(nEnd);
    WaitFor(pid);
  });
  char c = 'n';
  if (read(anEnds[0], &c, 1) != 1 || c != 'y') throw std::runtime_error("the lock on " + sDB + " could not be taken");
  return pHolder;
}

}  // namespace varn::test
