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
