// What the record tests share: a fresh report database behind a test import service, every
// statement the component runs traced, and the boxes it showed.
#pragma once

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/modMainLog.h"
#include "tests/TestSupport.h"

namespace varn::test {

// A user list for session tests that are not about users: known names answer their key,
// new ones get the next key; every call is counted.
class FixedUsers : public IUserCategories {
 public:
  Int16 GetUserID(const std::string& sUserName) override {
    ++mnLookups;
    auto it = mKeys.find(sUserName);
    return it == mKeys.end() ? Int16() : Int16(it->second);
  }
  Int16 CreateUser(const std::string& sUserName) override {
    ++mnCreated;
    if (sUserName.empty()) return Int16();
    return Int16(mKeys[sUserName] = static_cast<int32_t>(mKeys.size()) + 1);
  }

  std::map<std::string, int32_t> mKeys;
  int mnLookups = 0;
  int mnCreated = 0;
};

class RecordDb {
 public:
  RecordDb() : msDB(mFolder / "report.db"), msTrace(mFolder / "trace.sql") {
    mpUI = UseRecordingUI();
    Open();
  }
  ~RecordDb() { gobjLogAnalysis.reset(); }
  RecordDb(const RecordDb&) = delete;
  RecordDb& operator=(const RecordDb&) = delete;

  // Signs on afresh, as a new import would; statements traced from here on.
  void Open() {
    gobjLogAnalysis.reset();
    mpService = UseTestService(msDB);
    mpService->mpUsers = &mUsers;
    std::remove(msTrace.c_str());
    mnSeen = 0;
    SharedConnection().TraceTo(msTrace);
  }
  // Changes the database with SQLite itself, outside the component's connection.
  void Prepare(const std::string& sSql) {
    gobjLogAnalysis.reset();
    mpService.reset();
    SqlExec(msDB, sSql);
    Open();
  }

  // Every statement traced since the last call.
  std::vector<std::string> Statements() {
    std::ifstream in(msTrace);
    std::vector<std::string> vAll;
    for (std::string sLine; std::getline(in, sLine);) vAll.push_back(sLine);
    std::vector<std::string> vNew(vAll.begin() + static_cast<std::ptrdiff_t>(std::min(mnSeen, vAll.size())),
                                  vAll.end());
    mnSeen = vAll.size();
    return vNew;
  }
  // The statements traced since the last call that start with sPrefix.
  std::vector<std::string> Statements(const std::string& sPrefix) {
    std::vector<std::string> vFound;
    for (const std::string& s : Statements()) {
      if (s.rfind(sPrefix, 0) == 0) vFound.push_back(s);
    }
    return vFound;
  }

  // The location line ("02/clsItemGoods:SetUp") of every box shown since the last call.
  std::vector<std::string> Reports() {
    std::vector<std::string> vFound;
    for (size_t n = mnBoxesSeen; n < mpUI->mvBoxes.size(); ++n) {
      const std::string& sPrompt = mpUI->mvBoxes[n].sPrompt;
      size_t nFirst = sPrompt.find("\r\n");
      size_t nSecond = nFirst == std::string::npos ? nFirst : sPrompt.find("\r\n", nFirst + 2);
      vFound.push_back(nSecond == std::string::npos ? sPrompt : sPrompt.substr(nFirst + 2, nSecond - nFirst - 2));
    }
    mnBoxesSeen = mpUI->mvBoxes.size();
    return vFound;
  }
  // The whole text of the last box.
  std::string LastBox() const { return mpUI->mvBoxes.empty() ? std::string{} : mpUI->mvBoxes.back().sPrompt; }

  std::vector<std::vector<std::string>> Rows(const std::string& sSql) const { return SqlRows(msDB, sSql); }
  std::string Value(const std::string& sSql) const { return SqlValue(msDB, sSql); }
  // Names of the table's columns in order.
  std::vector<std::string> Columns(const std::string& sTable) const {
    std::vector<std::string> vNames;
    for (const auto& vRow : SqlRows(msDB, "PRAGMA table_info(" + sTable + ")")) vNames.push_back(vRow[1]);
    return vNames;
  }

  const std::string& Path() const { return msDB; }

  FixedUsers mUsers;
  std::shared_ptr<clsRecordingUI> mpUI;
  std::shared_ptr<TestService> mpService;

 private:
  TempFolder mFolder;
  std::string msDB;
  std::string msTrace;
  size_t mnSeen = 0;
  size_t mnBoxesSeen = 0;
};

}  // namespace varn::test
