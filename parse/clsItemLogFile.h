// The processor of one log file: turns its lines into a date-range record, session records
// and shift records, keeps them in memory, and writes them all in one pass (date, sessions,
// shifts). It also holds the user list that session lines resolve their user category in.
//   ProcessLine: whether the line was taken, is of no known kind (uncategorised), is of a known
//   kind but could not be read (reported, nothing of it kept), or stops the file (a failure
//   already reported).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "db/modMainLog.h"
#include "parse/clsItemUser.h"
#include "records/clsItemDateRange.h"
#include "records/clsItemSession.h"
#include "records/clsItemShift.h"
#include "runtime/Collection.h"
#include "runtime/Int16.h"

namespace varn {

class clsTrap;

enum eLineOutcome { enuLineTaken, enuLineUncategorised, enuLineUnreadable, enuLineStopsFile };

// The stored rows an update or a deletion removed.
struct DayRowsRemoved {
  int64_t lSessions = 0;
  int64_t lShifts = 0;
  int64_t lGoods = 0;
};

class clsItemLogFile : public IUserCategories {
 public:
  clsItemLogFile();  // loads the user list

  const std::shared_ptr<clsItemDateRange>& DateRange() const { return mDateRange; }
  // The log is named after that day: a first date line naming another day refuses the file.
  void NamedAfter(const std::string& sFileName, std::optional<Date> nameDay);
  // What the last update's write pass removed: the day's rows no line of the log holds any more.
  const DayRowsRemoved& Removed() const { return mRemoved; }
  eLineOutcome ProcessLine(const std::string& sLine, Int16 nLineNumber);
  bool DBUpdateALL(int32_t eWhatAction);
  Int16 CreateUser(const std::string& sUserName) override;
  Int16 GetUserID(const std::string& sUserName) override;

  // True once a date line has given the day: without one nothing can be written.
  bool HasLogDate() const { return mDateRangeWritten; }

 private:
  // False only when the line could not be read (reported).
  bool mbProcessSession(const std::string& sLine, Int16 nLineNumber);
  bool mbProcessShift(const std::string& sLine, Int16 nLineNumber, eLogField eField);
  int32_t mlKeyFor(eLogTable eTable, Int16 nLineNumber, int32_t& lCounter, int32_t& lNewCounter, bool& bNewInUpdate,
                   clsTrap& trap);
  int32_t mlNextKey(eLogTable eTable, int32_t& lCounter);
  bool mbDatabaseFailedSince(uint64_t lFailures) const;
  bool mbIsNamedDay(const std::string& sLine) const;
  // After an update's write pass: deletes the day's rows that no record held now wrote.
  void mRemoveStaleRows();
  double mdblRecalcDateTotal();
  void mReset();
  void mGetUsers();

  std::shared_ptr<clsItemDateRange> mDateRange;
  // The records in line order. Each line has its own number, so they need no keyed collection.
  std::vector<std::shared_ptr<clsItemSession>> mvSessions;
  int32_t mSessionID = 0;
  std::vector<std::shared_ptr<clsItemShift>> mvShifts;
  int32_t mShiftID = 0;
  std::shared_ptr<Collection<clsItemUser>> mUsers;
  bool mDateRangeWritten = false;
  std::string msFileName;
  std::optional<Date> mNameDay;
  DayRowsRemoved mRemoved;
  // Lines of an update that have no stored row yet: they are inserted, numbered on from the
  // highest stored key like a first import.
  std::unordered_set<int32_t> mNewSessionLines;
  std::unordered_set<int32_t> mNewShiftLines;
  int32_t mNewSessionID = 0;
  int32_t mNewShiftID = 0;
  // A failure already reported that must stop the file (no key, a failed statement).
  bool mbStopFile = false;
};

}  // namespace varn
