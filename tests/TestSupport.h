// Helpers shared by the tests: a temporary folder removed afterwards, the recording screen,
// and a direct look into a report database that does not go through the component.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ui/RecordingUI.h"

namespace varn::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return mPath; }
  std::string operator/(const std::string& sName) const { return (mPath / sName).string(); }

 private:
  std::filesystem::path mPath;
};

// Writes the bytes to the file and returns its path.
std::string WriteFile(const std::string& sPath, const std::string& sBytes);
std::string ReadFile(const std::string& sPath);

// Installs a fresh recording screen for the rest of the test.
std::shared_ptr<clsRecordingUI> UseRecordingUI();

// Rows of a query run with SQLite itself, every value as text ("NULL" for null).
std::vector<std::vector<std::string>> SqlRows(const std::string& sDBPath, const std::string& sSql);
// The first value of the first row ("" when there is none).
std::string SqlValue(const std::string& sDBPath, const std::string& sSql);
// Runs statements with SQLite itself (to prepare a condition a test needs).
void SqlExec(const std::string& sDBPath, const std::string& sSql);

// The project's source folder (for the example logs).
std::string SourceDir();

}  // namespace varn::test

#include "db/modMainLog.h"

namespace varn::test {

// An import service for testing the records and the processor without the pipeline: a real
// connection signed on to a real database, with the action, matched date and user list a test
// sets. Installed as gobjLogAnalysis while it lives.
class TestService : public IImportService {
 public:
  // Signs on to sDBPath (a new report database is created when the file does not exist).
  explicit TestService(const std::string& sDBPath);
  ~TestService() override;

  bool IsConnected() const override { return mConnection->IsConnected(); }
  std::shared_ptr<clsConnection> DBConnection() const override { return mConnection; }
  varneDBAction WhatDBAction() const override { return meAction; }
  Date MatchedLogDate() const override { return mMatched; }
  IUserCategories* LogFile() const override { return mpUsers; }

  varneDBAction meAction = enuInsert;
  Date mMatched;
  IUserCategories* mpUsers = nullptr;

 private:
  std::shared_ptr<clsConnection> mConnection;
};

// Installs a TestService as gobjLogAnalysis (it stays there until a test resets gobjLogAnalysis).
std::shared_ptr<TestService> UseTestService(const std::string& sDBPath);

}  // namespace varn::test
