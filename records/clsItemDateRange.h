// The record of one log date: the day, its total, when it was last imported, and the key of
// its DateRange row. The processor feeds it the date line ("#25/12/2003#") and the day-total
// lines ("End Total 364.95"); the history fills one per stored row through its properties.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "db/Enums.h"
#include "runtime/DateTime.h"

namespace varn {

class clsItemDateRange {
 public:
  double DateTotal() const { return mdblDateTotal; }
  void DateTotal(double vData) { mdblDateTotal = vData; }
  Date LogDate() const { return mLogDate; }
  void LogDate(Date vData) { mLogDate = vData; }
  Date ImportedDate() const { return mImportedDate; }
  void ImportedDate(Date vData) { mImportedDate = vData; }
  int32_t Date_ID() const { return mlDate_ID; }
  void Date_ID(int32_t vData) { mlDate_ID = vData; }

  // The day a date line names ("#25/12/2003#"), when it reads as a date.
  static std::optional<Date> LineDate(const std::string& sLine);
  // Takes a date line (enuLogDate) or a day-total line (enuDateTotal); others are ignored.
  bool SetUp(const std::string& sLine, int32_t eField, int32_t eDBAction);
  // Writes the row: INSERT for enuInsert, UPDATE for enuUpdate.
  bool DBUpdate(int32_t eDBAction);

 private:
  double mdblCleanUpEndTotal(const std::string& sLine);
  int32_t mlGetID(Date dtLogDate);

  double mdblDateTotal = 0;
  Date mLogDate;
  Date mImportedDate;
  int32_t mlDate_ID = 0;
};

}  // namespace varn
