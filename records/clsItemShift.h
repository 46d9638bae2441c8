// The record of one sign-on (">> 25.12.2003 08:00:00 Sign On: Anne") or sign-off ("<< ...
// Sign Off: Anne") line and its row in Shift.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/DateTime.h"
#include "runtime/Int16.h"

namespace varn {

class clsItemShift {
 public:
  Date Time() const { return mTime; }
  void Time(Date vData) { mTime = vData; }
  const std::string& SignOff() const { return msSignOff; }
  void SignOff(const std::string& vData) { msSignOff = vData; }
  const std::string& SignOn() const { return msSignOn; }
  void SignOn(const std::string& vData) { msSignOn = vData; }
  Int16 LineNo() const { return mnLineNo; }
  void LineNo(Int16 vData) { mnLineNo = vData; }
  int32_t Date_ID() const { return mlDate_ID; }
  void Date_ID(int32_t vData) { mlDate_ID = vData; }
  int32_t Shift_ID() const { return mlShift_ID; }
  void Shift_ID(int32_t vData) { mlShift_ID = vData; }

  bool SetUp(const std::string& sLine, int32_t eField);
  bool DBUpdate(int32_t eDBAction);

 private:
  int32_t mlShift_ID = 0;
  int32_t mlDate_ID = 0;
  Int16 mnLineNo;
  std::string msSignOn;
  std::string msSignOff;
  Date mTime;
};

}  // namespace varn
