// The test support library, shared by the suites and the fuzz targets: a temporary folder, a
// direct look into SQLite files, the one service fixture over a real database, logs written and
// generated, a database dump, the command line run as a process, and a lock held by another
// process. Nothing here needs a test framework: a helper that cannot do its work throws.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/modMainLog.h"
#include "runtime/Error.h"
#include "ui/RecordingUI.h"

namespace varn::test {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

// A new folder, removed with everything in it (read-only parts too) when it goes.
class TempFolder {
 public:
  explicit TempFolder(const std::filesystem::path& base = std::filesystem::temp_directory_path());
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return mPath; }
  std::string operator/(const std::string& sName) const { return (mPath / sName).string(); }

 private:
  std::filesystem::path mPath;
};

std::string WriteFile(const std::string& sPath, const std::string& sBytes);  // returns sPath
std::string ReadFile(const std::string& sPath);
std::string SourceDir();
std::string DataFile(const std::string& sName);  // a file of tests/data

// Lines joined with the shop program's CRLF.
std::string LogText(const Texts& vLines);
// A busy day of the shop: shifts, sessions in both layouts with goods, four user categories,
// member ids and the day's total; sDate is "dd/mm/yyyy". nVersion changes every total, as a
// corrected log would.
std::string GeneratedDay(const std::string& sDate, int nSessions, int nVersion = 0);

// SQLite itself, beside the component: every value as text, "NULL" for null.
Rows SqlRows(const std::string& sDB, const std::string& sSql);
std::string SqlValue(const std::string& sDB, const std::string& sSql);  // "" when no row
void SqlExec(const std::string& sDB, const std::string& sSql);
// Every table's definition and rows in key order; without the import times a database can be
// compared with one that received the same imports at another moment.
std::string Dump(const std::string& sDB, bool bImportTimes = true);
// "" when equal, else the first line where they differ.
std::string FirstDifference(const std::string& sActual, const std::string& sExpected);

// Corrected logs imported as updates over their first versions (a line removed, inserted, moved,
// turned into another kind or unreadable, goods places dropped, a goods row lost meanwhile, a
// session before the date line) must leave each day as a first import of the corrected log
// leaves it, keys and import times aside, and an older importer's row under Date_ID 0 alone.
// sUpdated and sFresh: two new databases of one engine. "" when so, else the first difference.
std::string UpdatesAgainstFirstImports(const std::string& sUpdated, const std::string& sFresh,
                                       const std::string& sFolder);

// The error a call raises (number 0 when it raises none).
template <class Fn>
clsError ErrorOf(Fn&& fn) {
  try {
    fn();
  } catch (const clsError& err) {
    return err;
  }
  return clsError(0, "");
}

// Installs a fresh recording screen for the rest of the test.
std::shared_ptr<clsRecordingUI> UseRecordingUI();

// A user list for sessions that are not about users: known names answer their key, new ones
// get the next key; every call is counted.
class FixedUsers : public IUserCategories {
 public:
  Int16 GetUserID(const std::string& sUserName) override;
  Int16 CreateUser(const std::string& sUserName) override;

  std::map<std::string, int32_t> mKeys;
  int mnLookups = 0;
  int mnCreated = 0;
};

// The import service seen by the records and the processor, without the pipeline: a real
// connection signed on to a real database (created when missing), with the action, matched
// date and user list a test sets. It is gobjLogAnalysis while it lives.
class TestService : public IImportService {
 public:
  explicit TestService(std::string sDB, bool bTrace = true);
  ~TestService() override;
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  bool IsConnected() const override { return mConnection && mConnection->IsConnected(); }
  std::shared_ptr<clsConnection> DBConnection() const override { return mConnection; }
  varneDBAction WhatDBAction() const override { return meAction; }
  Date MatchedLogDate() const override { return mMatched; }
  IUserCategories* LogFile() const override { return mpUsers; }

  // Signs on afresh, as a new import would.
  void Reopen();
  // Changes the database with SQLite itself, outside the connection, then signs on afresh.
  void Prepare(const std::string& sSql);
  // The statements run since the last call (those starting with sPrefix).
  Texts Statements(const std::string& sPrefix = {});
  Rows Query(const std::string& sSql) const { return SqlRows(msDB, sSql); }
  std::string Value(const std::string& sSql) const { return SqlValue(msDB, sSql); }
  const std::string& Path() const { return msDB; }

  varneDBAction meAction = enuInsert;
  Date mMatched;
  FixedUsers mUsers;
  IUserCategories* mpUsers = &mUsers;

 private:
  std::string msDB;
  std::string msTrace;  // empty: not traced
  size_t mnSeen = 0;
  std::shared_ptr<clsConnection> mConnection;
};

// The command line as a process of its own: stdin from /dev/null unless given, stdout and
// stderr together; the exit status, or minus the signal that ended it.
struct RunOptions {
  long lFileSizeLimit = 0;  // RLIMIT_FSIZE in bytes; 0: none
  std::string sInput;       // fed to stdin when not empty
};
struct RunResult {
  int nExit = 0;
  std::string sOutput;
  double dblSeconds = 0;
};
std::string VarnlogPath();
pid_t StartVarnlog(const Texts& vArguments, const std::string& sOutputPath, const RunOptions& options = {});
int WaitFor(pid_t pid);
RunResult RunVarnlog(const Texts& vArguments, const RunOptions& options = {});

// Another process holding an SQLite database's write lock (sBegin: "BEGIN IMMEDIATE" or
// "BEGIN EXCLUSIVE") with a row not yet committed, until the holder goes.
class LockHolder {
 public:
  explicit LockHolder(const std::string& sDB, const std::string& sBegin = "BEGIN IMMEDIATE");
  ~LockHolder();
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  pid_t mPid = 0;
  int mnRelease = -1;
};

}  // namespace varn::test
