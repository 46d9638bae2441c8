// Line classification runs once for every line of every log, so the tests look only at the
// first characters and allocate nothing unless a line starts like a date.
#include "parse/LineClassification.h"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "runtime/DateTime.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

constexpr std::string_view kDayTotal = "End Total";

}  // namespace

eLogTable meIdentifyTable(const std::string& sLine, eLogField& eField) {
  clsHourglass hourglass;
  eLogTable eResult = enuNoTable;
  clsTrap trap("clsItemLogFile:meIdentifyTable");
  trap.Run([&] {
    eLogTable eTable = enuNoTable;
    eLogField eKind = enuNoField;
    trap.Step("00");
    if (mbIsDateRange(sLine)) {
      eTable = enuDateRangeTable;
      eKind = enuLogDate;
    }
    trap.Step("01");
    if (mbIsDateRangeTotal(sLine)) {
      eTable = enuDateRangeTable;
      eKind = enuDateTotal;
    }
    trap.Step("02");
    if (mbIsSession(sLine)) eTable = enuSessionTable;
    trap.Step("03");
    if (mbIsShiftOFF(sLine)) {
      eTable = enuShiftTable;
      eKind = enuSignOff;
    }
    trap.Step("04");
    if (mbIsShiftON(sLine)) {
      eTable = enuShiftTable;
      eKind = enuSignOn;
    }
    trap.Step("05");
    eResult = eTable;
    eField = eKind;
  });
  return eResult;
}

bool mbIsDateRange(const std::string& sLine) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemLogFile:mbIsDateRange");
  trap.Run([&] {
    trap.Step("00");
    if (sLine.empty() || sLine.front() != '#') return;
    trap.Step("01");
    std::string sDate;
    std::remove_copy(sLine.begin(), sLine.end(), std::back_inserter(sDate), '#');
    trap.Step("02");
    bResult = IsDate(sDate);
  });
  return bResult;
}

bool mbIsDateRangeTotal(const std::string& sLine) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemLogFile:mbIsDateRangeTotal");
  trap.Run([&] {
    trap.Step("00");
    bResult = UCase(std::string_view(sLine).substr(0, kDayTotal.size())) == UCase(kDayTotal);
  });
  return bResult;
}

bool mbIsSession(const std::string& sLine) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemLogFile:mbIsSession");
  trap.Run([&] {
    trap.Step("00");
    bResult = StartsWith(sLine, "PC");
  });
  return bResult;
}

bool mbIsShiftOFF(const std::string& sLine) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemLogFile:mbIsShiftOFF");
  trap.Run([&] {
    trap.Step("00");
    bResult = StartsWith(sLine, "<<");
  });
  return bResult;
}

bool mbIsShiftON(const std::string& sLine) {
  clsHourglass hourglass;
  bool bResult = false;
  clsTrap trap("clsItemLogFile:mbIsShiftON");
  trap.Run([&] {
    trap.Step("00");
    bResult = StartsWith(sLine, ">>");
  });
  return bResult;
}

}  // namespace varn
