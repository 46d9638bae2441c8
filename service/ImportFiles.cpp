// Logs imported one file at a time, with what became of each.
#include "service/ImportFiles.h"

#include <algorithm>
#include <filesystem>

#include "runtime/Text.h"

namespace varn {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kBreak = "\r\n";

// Why a file of a folder is not imported ("" when it is a log file).
std::string WhyNotALog(const fs::path& file) {
  if (FoldCase(file.extension().string()) != ".log") return "not a .log file";
  if (!ParseDate(file.stem().string())) return "not named by a date";
  return {};
}

std::string NameOf(const std::string& sPath) { return VisibleText(fs::path(sPath).filename().string()); }

}  // namespace

size_t FileImport::UncategorisedCount() const { return Uncategorised().size(); }

std::vector<std::string_view> FileImport::Uncategorised() const {
  std::vector<std::string_view> vLines;
  for (size_t nAt = sUncategorised.find(kBreak); nAt != std::string_view::npos;) {
    size_t nNext = sUncategorised.find(kBreak, nAt + kBreak.size());
    vLines.push_back(sUncategorised.substr(nAt + kBreak.size(), nNext - nAt - kBreak.size()));
    nAt = nNext;
  }
  return vLines;
}

void FileImport::ForEachReject(const std::function<void(std::string_view, std::string_view)>& fn) const {
  for (std::string_view sLine : Uncategorised()) {
    if (!sLine.empty()) fn({}, sLine);
  }
  for (const UnreadableLine& line : vUnreadable) fn(line.Heading(), line.sText);
}

std::string FileImport::Shown(std::string_view sHeading, std::string_view sLine) {
  constexpr size_t kShownLineLength = 200;
  return std::string(sHeading) + VisibleText(sLine, kShownLineLength);
}

std::string FileImport::Line() const {
  const std::string sName = NameOf(sPath);
  if (eOutcome == enuFileSkipped || eOutcome == enuFileFailed) {
    return sName + ": " + (eOutcome == enuFileSkipped ? "skipped (" : "failed (") + sWhy + ")";
  }
  std::string sLine = sName + (eOutcome == enuFileUpdated ? ": updated " : ": inserted ") + day.sLogDate + " (" +
                      NumText(day.counts.lSessions) + " sessions, " + NumText(day.counts.lShifts) +
                      " shifts, day total " + NumText(day.dblTotal) + ", " +
                      NumText(static_cast<int64_t>(UncategorisedCount())) + " uncategorised lines, " +
                      NumText(static_cast<int64_t>(vUnreadable.size())) + " unreadable lines";
  if (eOutcome == enuFileUpdated) {
    sLine += ", removed " + NumText(removed.lSessions) + " sessions and " + NumText(removed.lShifts) +
             " shifts no longer in the log";
  }
  return sLine + ")";
}

void ImportTally::Add(const FileImport& file) {
  switch (file.eOutcome) {
    case enuFileInserted: ++nInserted; break;
    case enuFileUpdated: ++nUpdated; break;
    case enuFileSkipped: ++nSkipped; return;
    case enuFileFailed: ++nFailed; return;
  }
  nUncategorised += file.UncategorisedCount();
  nUnreadable += file.vUnreadable.size();
}

std::string ImportTally::Line() const {
  return NumText(int64_t{nInserted}) + " inserted, " + NumText(int64_t{nUpdated}) + " updated, " +
         NumText(int64_t{nSkipped}) + " skipped, " + NumText(int64_t{nFailed}) + " failed; " +
         NumText(static_cast<int64_t>(nUncategorised)) + " uncategorised, " +
         NumText(static_cast<int64_t>(nUnreadable)) + " unreadable lines";
}

std::vector<std::string> LogFilesOf(const std::string& sPath, std::vector<FileImport>& vSkipped) {
  std::error_code ec;
  fs::path path = fs::absolute(sPath, ec);
  if (!fs::is_directory(path, ec)) return {path.string()};
  std::vector<fs::path> vEntries;
  for (const auto& entry : fs::directory_iterator(path, ec)) {
    if (entry.is_regular_file(ec)) vEntries.push_back(entry.path());
  }
  std::sort(vEntries.begin(), vEntries.end());
  std::vector<std::pair<double, std::string>> vFiles;
  for (const fs::path& file : vEntries) {
    std::string sWhy = WhyNotALog(file);
    if (sWhy.empty()) {
      vFiles.emplace_back(ParseDate(file.stem().string())->dSerial, file.string());
      continue;
    }
    FileImport& skipped = vSkipped.emplace_back();
    skipped.sPath = file.string();
    skipped.eOutcome = enuFileSkipped;
    skipped.sWhy = sWhy;
  }
  std::stable_sort(vFiles.begin(), vFiles.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> vPaths;
  for (auto& file : vFiles) vPaths.push_back(std::move(file.second));
  return vPaths;
}

FileImport ImportLogFile(clsLogAnalysis& service, const std::string& sPath) {
  FileImport file;
  file.sPath = sPath;
  std::error_code ec;
  if (!fs::is_regular_file(sPath, ec)) {
    file.sWhy = "no such file";
    return file;
  }
  const size_t nUncategorisedBefore = service.UncategorisedLines().size();
  const size_t nUnreadableBefore = service.UnreadableLines().size();
  if (!service.ProcessLogFile(sPath)) {
    bool bDeclined = service.UpdateDeclined();
    file.eOutcome = bDeclined ? enuFileSkipped : enuFileFailed;
    file.sWhy = bDeclined ? "already imported, not updated" : "nothing written";
    return file;
  }
  file.eOutcome = service.WhatDBAction() == enuUpdate ? enuFileUpdated : enuFileInserted;
  file.day = service.SummaryOfDay(service.LastDate_ID());
  file.removed = service.RowsRemoved();
  file.sUncategorised = std::string_view(service.UncategorisedLines()).substr(nUncategorisedBefore);
  file.vUnreadable = std::span(service.UnreadableLines()).subspan(nUnreadableBefore);
  return file;
}

std::string DeletionQuestion(const std::string& sLogDate, const DayCounts& counts) {
  return "Delete the log date " + sLogDate + " (" + NumText(counts.lSessions) + " sessions, " +
         NumText(counts.lShifts) + " shifts) from the report database?";
}

std::string DeletionDone(const std::string& sLogDate, const DayRowsRemoved& removed) {
  return "Deleted " + sLogDate + " with its " + NumText(removed.lSessions) + " sessions, " + NumText(removed.lShifts) +
         " shifts and " + NumText(removed.lGoods) + " goods rows";
}

}  // namespace varn
