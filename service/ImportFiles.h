// What the operator's programs (the command line, the desktop program) do with the import
// service, said the same way by both. Logs are imported one file at a time: a folder stands for its .log files named by
// a date, in date order, and every other file in it is skipped with its reason. Each file ends in one result, told in
// one line ("25-12-2003.log: inserted 25/12/2003 (...)").
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "service/clsLogAnalysis.h"

namespace varn {

enum eFileOutcome { enuFileInserted, enuFileUpdated, enuFileSkipped, enuFileFailed };

struct FileImport {
  std::string sPath;
  eFileOutcome eOutcome = enuFileFailed;
  std::string sWhy;  // skipped or failed: why
  DaySummary day;    // inserted or updated
  DayRowsRemoved removed;
  // The lines it did not store (each uncategorised one after "\r\n"): views into the service,
  // valid until its next import, as a line may be as long as the log.
  std::string_view sUncategorised;
  std::span<const UnreadableLine> vUnreadable;

  size_t UncategorisedCount() const;
  // Each uncategorised line as it stood in the log.
  std::vector<std::string_view> Uncategorised() const;
  // Each line it did not store, in the order they are listed: an uncategorised one (not an empty
  // one) without a heading, then each unreadable one after its heading ("line 7 unreadable (...): ").
  void ForEachReject(const std::function<void(std::string_view sHeading, std::string_view sLine)>& fn) const;
  // A line of those as a list shows it: made visible, and cut short as a log's line may be long.
  static std::string Shown(std::string_view sHeading, std::string_view sLine);
  // The file's name and what became of it, in one line (names from a log made visible).
  std::string Line() const;
};

// What a number of file imports came to.
struct ImportTally {
  int nInserted = 0, nUpdated = 0, nSkipped = 0, nFailed = 0;
  size_t nUncategorised = 0, nUnreadable = 0;

  void Add(const FileImport& file);
  std::string Line() const;  // "3 inserted, 0 updated, 0 skipped, 0 failed; 2 uncategorised, 0 unreadable lines"
};

// The logs a path stands for, in import order: a file itself, or a folder's log files; the
// folder's other files go to vSkipped, each a skipped result with its reason.
std::vector<std::string> LogFilesOf(const std::string& sPath, std::vector<FileImport>& vSkipped);

// One log through the service: inserted, updated, skipped (the update question answered No) or failed.
FileImport ImportLogFile(clsLogAnalysis& service, const std::string& sPath);

// A day's deletion in words: the question before it ("dd/mm/yyyy" and what it holds), and what it removed.
std::string DeletionQuestion(const std::string& sLogDate, const DayCounts& counts);
std::string DeletionDone(const std::string& sLogDate, const DayRowsRemoved& removed);

}  // namespace varn
