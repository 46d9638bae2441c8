// The test support library, shared by the suites and the fuzz targets: a temporary folder, a
// direct look into SQLite files, the one service fixture over a real database, logs written and
// generated, a database dump, the command line run as a process, and a lock held by another
// process. Nothing here needs a test framework: a helper that cannot do its work throws.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/modMainLog.h"
#include "runtime/Error.h"
#include "service/clsLogAnalysis.h"
#include "ui/RecordingUI.h"

namespace varn::test {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

// A new folder, removed with everything in it when it goes.
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
// "" when the text matches the file of tests/data, else its name and the first difference. With
// VARN_UPDATE_EXPECTED set the file is rewritten first, for review after a deliberate change.
std::string DifferenceFromFile(const std::string& sActual, const std::string& sName);

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

// An import service initialised on sDB, as a host makes one.
std::shared_ptr<clsLogAnalysis> OpenService(const std::string& sDB);

// Installs a fresh recording screen for the rest of the test.
std::shared_ptr<clsRecordingUI> UseRecordingUI();

// The import service seen by the records and the processor, without the pipeline: a real
// connection signed on to a real database (created when missing), with the action, matched
// date and user list a test sets. It is gobjLogAnalysis while it lives. Its own user list is for
// sessions that are not about users: known names answer their key, new ones get the next key
// and are counted.
class TestService : public IImportService, public IUserCategories {
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
  Int16 GetUserID(const std::string& sUserName) override;
  Int16 CreateUser(const std::string& sUserName) override;

  // Signs on afresh, as a new import would.
  void Reopen();
  // Changes the database with SQLite itself, outside the connection, then signs on afresh.
  void Prepare(const std::string& sSql);
  // The statements run since the last call (those starting with sPrefix).
  Texts Statements(const std::string& sPrefix = {});
  const std::string& Path() const { return msDB; }

  varneDBAction meAction = enuInsert;
  Date mMatched;
  std::map<std::string, int32_t> mKeys;
  int mnCreated = 0;
  IUserCategories* mpUsers = this;

 private:
  std::string msDB;
  std::string msTrace;  // empty: not traced
  size_t mnSeen = 0;
  std::shared_ptr<clsConnection> mConnection;
};

// The command line as a process of its own, with a full disk past lFileSizeLimit bytes when that
// is set: stdin from /dev/null, stdout and stderr together; the exit status, or minus the signal
// that ended it.
struct RunResult {
  int nExit = 0;
  std::string sOutput;
  double dblSeconds = 0;
};
// fn in a forked process of its own, with a full disk past lFileSizeLimit bytes when that is set:
// it exits with 0 once fn returns, with 3 when fn throws.
pid_t StartChild(const std::function<void()>& fn, long lFileSizeLimit = 0);
std::string VarnlogPath();
pid_t StartVarnlog(const Texts& vArguments, const std::string& sOutputPath, long lFileSizeLimit = 0);
int WaitFor(pid_t pid);
RunResult RunVarnlog(const Texts& vArguments, long lFileSizeLimit = 0);
// "" when the command line ended with nExit and printed sPart, else how it ended and all it printed.
std::string Unexpected(const RunResult& result, int nExit, const std::string& sPart = {});

// Every command of the command line, waiting at most nWait seconds, on a database (a file or a
// server's address) that holds the day of sLog: what each ended with, as "status 1, history 0,
// ...", in the order status, history, history --csv, report, check, init, import --yes, delete --yes.
// An ending that is no answer is named beside its command: an abort, a failure without the
// error report, a wait longer than told, or another program's lock taken for an import's.
std::string EveryCommandEnds(const std::string& sDB, const std::string& sLog, int nWait);

// Another process holding an SQLite database's write lock (sBegin: "BEGIN IMMEDIATE" or
// "BEGIN EXCLUSIVE") with a row not yet committed, until the holder it returns goes.
std::shared_ptr<void> HoldLock(const std::string& sDB, const std::string& sBegin = "BEGIN IMMEDIATE");

}  // namespace varn::test
