#include "tests/TestSupport.h"

#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace varn::test {

TempFolder::TempFolder() {
  std::string sTemplate = (std::filesystem::temp_directory_path() / "varnlog-test-XXXXXX").string();
  if (!mkdtemp(sTemplate.data())) throw std::runtime_error("cannot create a temporary folder");
  mPath = sTemplate;
}

TempFolder::~TempFolder() {
  std::error_code ec;
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

std::shared_ptr<clsRecordingUI> UseRecordingUI() {
  auto pScreen = std::make_shared<clsRecordingUI>();
  SetScreen(pScreen);
  return pScreen;
}

namespace {
struct Db {
  sqlite3* p = nullptr;
  explicit Db(const std::string& sPath) {
    if (sqlite3_open_v2(sPath.c_str(), &p, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      std::string sMsg = p ? sqlite3_errmsg(p) : "cannot open";
      sqlite3_close(p);
      throw std::runtime_error(sPath + ": " + sMsg);
    }
    sqlite3_busy_timeout(p, 10000);
  }
  ~Db() { sqlite3_close(p); }
};
}  // namespace

std::vector<std::vector<std::string>> SqlRows(const std::string& sDBPath, const std::string& sSql) {
  Db db(sDBPath);
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db.p, sSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
    throw std::runtime_error(sSql + ": " + sqlite3_errmsg(db.p));
  }
  std::vector<std::vector<std::string>> vRows;
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    std::vector<std::string> vRow;
    for (int n = 0; n < sqlite3_column_count(pStmt); ++n) {
      const unsigned char* pText = sqlite3_column_text(pStmt, n);
      vRow.emplace_back(pText ? reinterpret_cast<const char*>(pText) : "NULL");
    }
    vRows.push_back(std::move(vRow));
  }
  sqlite3_finalize(pStmt);
  return vRows;
}

std::string SqlValue(const std::string& sDBPath, const std::string& sSql) {
  auto vRows = SqlRows(sDBPath, sSql);
  return vRows.empty() || vRows[0].empty() ? std::string{} : vRows[0][0];
}

void SqlExec(const std::string& sDBPath, const std::string& sSql) {
  Db db(sDBPath);
  char* pError = nullptr;
  if (sqlite3_exec(db.p, sSql.c_str(), nullptr, nullptr, &pError) != SQLITE_OK) {
    std::string sMsg = pError ? pError : "error";
    sqlite3_free(pError);
    throw std::runtime_error(sSql + ": " + sMsg);
  }
}

std::string SourceDir() {
  const char* p = std::getenv("VARN_SOURCE_DIR");
  return p ? p : ".";
}

}  // namespace varn::test

namespace varn::test {

TestService::TestService(const std::string& sDBPath) : mConnection(std::make_shared<clsConnection>()) {
  mConnection->SignOn(sDBPath);
}

TestService::~TestService() {
  if (mConnection && mConnection->IsConnected()) mConnection->DBConnection()->Close();
}

std::shared_ptr<TestService> UseTestService(const std::string& sDBPath) {
  auto pService = std::make_shared<TestService>(sDBPath);
  gobjLogAnalysis = pService;
  return pService;
}

}  // namespace varn::test
