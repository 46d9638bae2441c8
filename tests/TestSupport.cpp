#include "tests/TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
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
#include "service/clsLogAnalysis.h"

extern char** environ;

namespace varn::test {

TempFolder::TempFolder(const std::filesystem::path& base) {
  std::string sTemplate = (base / "varnlog-test-XXXXXX").string();
  if (!mkdtemp(sTemplate.data())) throw std::runtime_error("cannot create a temporary folder in " + base.string());
  mPath = sTemplate;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(mPath, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    }
  }
  std::filesystem::permissions(mPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
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

std::string SourceDir() {
  const char* p = std::getenv("VARN_SOURCE_DIR");
  return p ? p : ".";
}

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

// A day's rows, keys and import time left out: users by name, goods by their session's line.
Texts DayRows(Connection& conn, int32_t lDateID) {
  std::string sWhere = " WHERE Date_ID=" + NumText(int64_t{lDateID});
  std::map<std::string, std::string> mapUsers, mapLines;
  for (const auto& vRow : conn.Query("SELECT User_ID, UserName FROM User").vRows)
    mapUsers[Cell(vRow[0])] = Cell(vRow[1]);
  Texts vRows;
  QueryResult day = conn.Query("SELECT LogDate, DateTotal FROM DateRange" + sWhere);
  for (const auto& vRow : day.vRows) vRows.push_back("day " + Cell(vRow[0]) + " " + Cell(vRow[1]));
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
  return vRows;
}

}  // namespace

std::string UpdatesAgainstFirstImports(const std::string& sUpdated, const std::string& sFresh,
                                       const std::string& sFolder) {
  auto pScreen = UseRecordingUI();
  std::vector<Correction> vCases = Corrections();
  auto Import = [&](const std::string& sDB, bool bBefore, bool bUpdate) {
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(sDB);
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
    Texts vWant = DayRows(*fresh.GetConnection(), vFresh[n]), vGot = DayRows(*pUpdated, vUpdated[n]);
    for (size_t nRow = 0; nRow < std::max(vWant.size(), vGot.size()); ++nRow) {
      std::string sGot = nRow < vGot.size() ? vGot[nRow] : "nothing",
                  sWant = nRow < vWant.size() ? vWant[nRow] : "nothing";
      if (sGot != sWant) return vCases[n].sName + ": " + sGot + " where " + sWant + " was expected";
    }
  }
  QueryResult older = pUpdated->Query("SELECT PC_No FROM Session WHERE Date_ID=0");
  if (older.vRows.size() != 1) return "the rows under Date_ID 0 changed: " + std::to_string(older.vRows.size());
  return {};
}

namespace {

class clsSqlite {
 public:
  explicit clsSqlite(const std::string& sPath) {
    if (sqlite3_open_v2(sPath.c_str(), &mp, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      std::string sMsg = mp ? sqlite3_errmsg(mp) : "cannot open";
      sqlite3_close(mp);
      throw std::runtime_error(sPath + ": " + sMsg);
    }
    sqlite3_busy_timeout(mp, 10000);
  }
  ~clsSqlite() { sqlite3_close(mp); }
  clsSqlite(const clsSqlite&) = delete;
  clsSqlite& operator=(const clsSqlite&) = delete;
  sqlite3* mp = nullptr;
};

}  // namespace

Rows SqlRows(const std::string& sDB, const std::string& sSql) {
  clsSqlite db(sDB);
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db.mp, sSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sSql + ": " + sqlite3_errmsg(db.mp));
  }
  Rows vRows;
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    Texts vRow;
    for (int n = 0; n < sqlite3_column_count(pStmt); ++n) {
      const unsigned char* pText = sqlite3_column_text(pStmt, n);
      vRow.emplace_back(pText ? reinterpret_cast<const char*>(pText) : "NULL");
    }
    vRows.push_back(std::move(vRow));
  }
  sqlite3_finalize(pStmt);
  return vRows;
}

std::string SqlValue(const std::string& sDB, const std::string& sSql) {
  auto vRows = SqlRows(sDB, sSql);
  return vRows.empty() || vRows[0].empty() ? std::string{} : vRows[0][0];
}

void SqlExec(const std::string& sDB, const std::string& sSql) {
  clsSqlite db(sDB);
  char* pError = nullptr;
  if (sqlite3_exec(db.mp, sSql.c_str(), nullptr, nullptr, &pError) != SQLITE_OK) {
    std::string sMsg = pError ? pError : "error";
    sqlite3_free(pError);
    throw std::runtime_error(sSql + ": " + sMsg);
  }
}

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

std::shared_ptr<clsRecordingUI> UseRecordingUI() {
  auto pScreen = std::make_shared<clsRecordingUI>();
  SetScreen(pScreen);
  return pScreen;
}

Int16 FixedUsers::GetUserID(const std::string& sUserName) {
  ++mnLookups;
  auto it = mKeys.find(sUserName);
  return it == mKeys.end() ? Int16() : Int16(it->second);
}

Int16 FixedUsers::CreateUser(const std::string& sUserName) {
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
  const char* pBinary = std::getenv("VARN_BINARY_DIR");
  return std::string(pBinary ? pBinary : ".") + "/varnlog";
}

pid_t StartVarnlog(const Texts& vArguments, const std::string& sOutputPath, const RunOptions& options) {
  std::string sInputPath = options.sInput.empty() ? "/dev/null" : WriteFile(sOutputPath + ".in", options.sInput);
  Texts vAll{VarnlogPath()};
  vAll.insert(vAll.end(), vArguments.begin(), vArguments.end());
  std::vector<char*> vArgv;
  for (auto& sArgument : vAll) vArgv.push_back(sArgument.data());
  vArgv.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start " + vAll[0]);
  if (pid == 0) {
    int nIn = open(sInputPath.c_str(), O_RDONLY);
    int nOut = open(sOutputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (nIn < 0 || nOut < 0) _exit(126);
    dup2(nIn, STDIN_FILENO);
    dup2(nOut, STDOUT_FILENO);
    dup2(nOut, STDERR_FILENO);
    if (options.lFileSizeLimit > 0) {
      rlimit limit{static_cast<rlim_t>(options.lFileSizeLimit), static_cast<rlim_t>(options.lFileSizeLimit)};
      setrlimit(RLIMIT_FSIZE, &limit);
      signal(SIGXFSZ, SIG_IGN);
    }
    execv(vArgv[0], vArgv.data());
    _exit(127);
  }
  return pid;
}

int WaitFor(pid_t pid) {
  int nStatus = 0;
  while (waitpid(pid, &nStatus, 0) < 0) {
  }
  return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -WTERMSIG(nStatus);
}

RunResult RunVarnlog(const Texts& vArguments, const RunOptions& options) {
  TempFolder folder;
  std::string sOutput = folder / "output.txt";
  auto start = std::chrono::steady_clock::now();
  RunResult result;
  result.nExit = WaitFor(StartVarnlog(vArguments, sOutput, options));
  result.dblSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  result.sOutput = ReadFile(sOutput);
  return result;
}

LockHolder::LockHolder(const std::string& sDB, const std::string& sBegin) {
  int anReady[2], anRelease[2];
  if (pipe(anReady) != 0 || pipe(anRelease) != 0) throw std::runtime_error("pipe");
  mPid = fork();
  if (mPid == 0) {
    close(anReady[0]);
    close(anRelease[1]);
    sqlite3* pDb = nullptr;
    sqlite3_open(sDB.c_str(), &pDb);
    std::string sSql = sBegin + "; INSERT INTO User (User_ID, UserName) VALUES (999, 'Not yet committed')";
    char c = sqlite3_exec(pDb, sSql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? 'y' : 'n';
    if (write(anReady[1], &c, 1) != 1 || read(anRelease[0], &c, 1) < 0) _exit(4);
    sqlite3_exec(pDb, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(pDb);
    _exit(0);
  }
  close(anReady[1]);
  close(anRelease[0]);
  mnRelease = anRelease[1];
  char c = 'n';
  bool bRead = read(anReady[0], &c, 1) == 1;
  close(anReady[0]);
  if (!bRead || c != 'y') {
    close(mnRelease);
    WaitFor(mPid);
    throw std::runtime_error("the lock on " + sDB + " could not be taken");
  }
}

LockHolder::~LockHolder() {
  close(mnRelease);
  WaitFor(mPid);
}

}  // namespace varn::test
