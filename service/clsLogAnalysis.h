// The import service object a host drives: Initialize once with the database path, then
// ProcessLogFile one log at a time. It owns the connection, the progress window, the history
// of imported dates and, during an import, the log file processor. Failures are reported to
// the user and answered with False; nothing is raised to the host but from the plain
// properties (IsConnected before Initialize raises 91).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/clsConnection.h"
#include "db/modMainLog.h"
#include "parse/clsItemLogFile.h"
#include "records/clsItemDateRange.h"
#include "runtime/Collection.h"
#include "runtime/DateTime.h"
#include "runtime/FieldReader.h"
#include "ui/frmProgress.h"

namespace varn {

using HistoryCollection = Collection<clsItemDateRange>;

// What a host shows of the report database (the service's readers below raise on a failure).
struct DayCounts {
  int64_t lSessions = 0;
  int64_t lShifts = 0;
};
struct DaySummary {
  std::string sLogDate;  // as stored; "?" when the date has no row
  double dblTotal = 0;
  DayCounts counts;
};
struct HistoryLine {
  int32_t lDate_ID;
  std::string sLogDate;   // "dd/mm/yyyy", or the stored text when it is no date
  std::string sImported;  // as CStr writes a date, or the stored text when it is no date
  double dblTotal;
};

// A line of a known kind (a session, a shift) that could not be read: reported, nothing of it stored.
struct UnreadableLine {
  std::string sFile;    // the log's path
  int32_t lLineNo;      // among the log's non-blank items
  std::string sText;    // the whole line
  std::string sReason;  // the number and detail of its report

  // What stands before the line where it is listed: "line 7 unreadable (9 Subscript out of range): ".
  std::string Heading() const;
};

class clsLogAnalysis : public IImportService, public std::enable_shared_from_this<clsLogAnalysis> {
 public:
  static std::shared_ptr<clsLogAnalysis> Create() { return std::shared_ptr<clsLogAnalysis>(new clsLogAnalysis); }
  ~clsLogAnalysis() override;

  // The lines of no known kind, each after "\r\n", of every import this service ran.
  const std::string& UncategorisedLines() const { return mUncategorisedLines; }
  // The lines that could not be read, of every import this service ran.
  const std::vector<UnreadableLine>& UnreadableLines() const { return mvUnreadableLines; }
  varneDBAction WhatDBAction() const override { return mWhatDBAction; }
  // Whether the last ProcessLogFile stopped because the update question was answered No.
  bool UpdateDeclined() const { return mbUpdateDeclined; }
  bool IsConnected() const override;
  std::shared_ptr<clsConnection> DBConnection() const override { return mConnection; }
  // Empty before the first GetHistoryDates.
  std::shared_ptr<HistoryCollection> HistoryLogDates() const { return mHistoryLogDates; }
  void GetHistoryDates();
  // Whether the last GetHistoryDates took every DateRange row: a history it stopped short of
  // answers nothing for sure.
  bool HistoryLoaded() const { return mbHistoryLoaded; }
  bool ProcessLogFile(const std::string& sFilePath);
  bool IsAlreadyImported(const std::string& sFileName, std::string* psDateImported = nullptr);
  bool DeleteLogDate(const std::string& sDate);
  // What the last update removed of its day's stored rows, or the last deletion of its day's.
  const DayRowsRemoved& RowsRemoved() const { return mRemoved; }
  void Initialize(const std::string& sDBPath = {});

  Date MatchedLogDate() const override { return mMatchedLogDate; }
  IUserCategories* LogFile() const override { return mLogFile.get(); }

  // The Date_ID of the date the last successful ProcessLogFile wrote (0 before any).
  int32_t LastDate_ID() const { return mlLastDate_ID; }

  int64_t RowCount(const std::string& sTable);
  DayCounts CountsOfDay(int32_t lDate_ID);
  DaySummary SummaryOfDay(int32_t lDate_ID);
  // The sessions and shifts of every day that has any, by Date_ID, in two reads.
  std::map<int32_t, DayCounts> CountsByDay();
  // Every DateRange row in date order; rows whose date cannot be read come last, by key.
  std::vector<HistoryLine> DateHistory();

 private:
  clsLogAnalysis() = default;

  bool mbProcessFile(const std::string& sFilePath);
  int64_t mlGetLines(clsFieldReader& reader);
  bool mbUpdateDB();
  bool mbFileCheck(const std::string& sFilePath);
  bool mbDoesExist(const std::string& sFilePath);
  bool mbConfirmUnderLock(const std::string& sFilePath);
  // The log date a file's name gives: the name after the last separator less its 4-character
  // extension ("25-12-2003.log" -> "25-12-2003"); raises 5 for a shorter name or a bare name.
  static std::string msNameDate(const std::string& sFilePath);
  bool mbFailureEnding();
  QueryResult mRows(const std::string& sSql) const;
  int64_t mlCount(const std::string& sTable, const std::string& sWhere);

  std::shared_ptr<clsConnection> mConnection;
  std::shared_ptr<clsItemLogFile> mLogFile;
  varneDBAction mWhatDBAction = enuUnspecified;
  bool mbUpdateDeclined = false;
  std::shared_ptr<HistoryCollection> mHistoryLogDates;
  bool mbHistoryLoaded = false;
  std::string mUncategorisedLines;
  std::vector<UnreadableLine> mvUnreadableLines;
  Date mMatchedLogDate;
  int32_t mlMatchedDate_ID = 0;
  DayRowsRemoved mRemoved;
  std::unique_ptr<frmProgress> mProgress;
  int32_t mlLastDate_ID = 0;

  // The DateRange rows as last loaded completely, kept in the connection's cache: every import
  // reloads the history several times, and while no row can have changed the rows are used
  // again instead of being read and converted anew.
  struct HistoryRow {
    int32_t lDate_ID;
    double dblDateTotal;
    Date logDate;
    Date importedDate;
    std::string sKey;  // the log date as "dd/mm/yyyy"
  };
  struct HistoryRows {
    std::vector<HistoryRow> vRows;
  };
  void mAddHistoryItem(const HistoryRow& row);
};

}  // namespace varn
