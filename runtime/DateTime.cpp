// Dates as day serials: the calendar arithmetic, the day-first recogniser and the text forms.
#include "runtime/DateTime.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1 March of year 0 shifted to 1 January 1970 (proleptic Gregorian calendar).
constexpr int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct Civil {
  int nYear, nMonth, nDay;
};

constexpr Civil CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<int>(yoe + era * 400 + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

constexpr int64_t kEpoch = DaysFromCivil(1899, 12, 30);
constexpr int64_t kFirstDay = DaysFromCivil(100, 1, 1) - kEpoch;
constexpr int64_t kLastDay = DaysFromCivil(9999, 12, 31) - kEpoch;

bool IsLeapYear(int nYear) { return (nYear % 4 == 0 && nYear % 100 != 0) || nYear % 400 == 0; }

int DaysInMonth(int nYear, int nMonth) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return nMonth == 2 && IsLeapYear(nYear) ? 29 : kDays[nMonth - 1];
}

// Before the epoch the integer part counts days back while the fraction still counts the time
// forward from midnight, so the magnitude of the fraction is subtracted.
Date Serial(int64_t lDays, int64_t lSeconds) {
  double dFraction = static_cast<double>(lSeconds) / kSecondsPerDay;
  return Date{static_cast<double>(lDays) + (lDays < 0 ? -dFraction : dFraction)};
}

// A serial as its day and its time in whole seconds; a time that rounds up to midnight
// belongs to the next day. Serials outside the years 100 to 9999 overflow.
struct DayAndTime {
  int64_t lDays;
  int64_t lSeconds;
};

DayAndTime Split(Date dt) {
  if (!(dt.dSerial > kFirstDay - 1 && dt.dSerial < kLastDay + 1)) RaiseError(errOverflow);
  double dDays = std::trunc(dt.dSerial);
  auto lDays = static_cast<int64_t>(dDays);
  auto lSeconds = static_cast<int64_t>(std::llround(std::fabs(dt.dSerial - dDays) * kSecondsPerDay));
  if (lSeconds == kSecondsPerDay) return {lDays + 1, 0};
  return {lDays, lSeconds};
}

// Reads the text left to right; each reader leaves the position unchanged when it fails.
class Scanner {
 public:
  explicit Scanner(std::string_view sText) : ms(sText) {}

  bool AtEnd() const { return mn == ms.size(); }
  char Peek() const { return AtEnd() ? '\0' : ms[mn]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++mn;
    return true;
  }
  bool TakeSpaces() {
    size_t nStart = mn;
    while (Peek() == ' ') ++mn;
    return mn > nStart;
  }
  // A run of nMin to nMax digits; its length goes to nCount.
  bool TakeNumber(int nMin, int nMax, int& nValue, int* pnCount = nullptr) {
    int nCount = 0, nRead = 0;
    while (nCount < nMax && Peek() >= '0' && Peek() <= '9') {
      nRead = nRead * 10 + (ms[mn] - '0');
      ++mn;
      ++nCount;
    }
    if (nCount < nMin || (Peek() >= '0' && Peek() <= '9')) {
      mn -= static_cast<size_t>(nCount);
      return false;
    }
    nValue = nRead;
    if (pnCount) *pnCount = nCount;
    return true;
  }

 private:
  std::string_view ms;
  size_t mn = 0;
};

struct Parts {
  int nYear = 0, nMonth = 0, nDay = 0;
  int nHour = 0, nMinute = 0, nSecond = 0;
};

bool TakeTime(Scanner& scan, Parts& parts) {
  if (!scan.TakeNumber(1, 2, parts.nHour) || !scan.Take(':') || !scan.TakeNumber(2, 2, parts.nMinute)) return false;
  if (scan.Take(':') && !scan.TakeNumber(2, 2, parts.nSecond)) return false;
  return parts.nHour < 24 && parts.nMinute < 60 && parts.nSecond < 60;
}

// yyyy-mm-dd, then a time after a "T" or after blanks.
bool TakeIsoDate(Scanner& scan, Parts& parts) {
  if (!scan.Take('-') || !scan.TakeNumber(2, 2, parts.nMonth) || !scan.Take('-') ||
      !scan.TakeNumber(2, 2, parts.nDay)) {
    return false;
  }
  if (scan.Take('T')) return TakeTime(scan, parts);
  return !scan.TakeSpaces() || scan.AtEnd() || TakeTime(scan, parts);
}

// d/m/y with "/", "-" or "." twice, then a time after blanks.
bool TakeDayFirstDate(Scanner& scan, Parts& parts) {
  char cSeparator = scan.Peek();
  if (cSeparator != '/' && cSeparator != '-' && cSeparator != '.') return false;
  int nYearDigits = 0;
  if (!scan.Take(cSeparator) || !scan.TakeNumber(1, 2, parts.nMonth) || !scan.Take(cSeparator) ||
      !scan.TakeNumber(2, 4, parts.nYear, &nYearDigits) || nYearDigits == 3) {
    return false;
  }
  if (nYearDigits == 2) parts.nYear += parts.nYear < 30 ? 2000 : 1900;
  return !scan.TakeSpaces() || scan.AtEnd() || TakeTime(scan, parts);
}

bool IsPossible(const Parts& parts) {
  return parts.nYear >= 100 && parts.nYear <= 9999 && parts.nMonth >= 1 && parts.nMonth <= 12 && parts.nDay >= 1 &&
         parts.nDay <= DaysInMonth(parts.nYear, parts.nMonth);
}

std::string TwoDigits(int64_t lValue) {
  char sBuffer[16];
  std::snprintf(sBuffer, sizeof sBuffer, "%02d", static_cast<int>(lValue % 100));
  return sBuffer;
}

// The two digits of a number from 0 to 99.
void PutTwoDigits(char* pAt, int64_t n) {
  pAt[0] = static_cast<char>('0' + n / 10);
  pAt[1] = static_cast<char>('0' + n % 10);
}

std::string DayMonthYear(const Civil& civil, bool bFullYear) {
  // Written digit by digit: loading the history formats every stored date, and formatting
  // through printf costs many times more. Years of other than four digits take printf's way.
  if (civil.nYear >= 0 && civil.nYear <= 9999) {
    char sText[10];
    PutTwoDigits(sText, civil.nDay);
    sText[2] = '/';
    PutTwoDigits(sText + 3, civil.nMonth);
    sText[5] = '/';
    if (!bFullYear) {
      PutTwoDigits(sText + 6, civil.nYear % 100);
      return std::string(sText, 8);
    }
    PutTwoDigits(sText + 6, civil.nYear / 100);
    PutTwoDigits(sText + 8, civil.nYear % 100);
    return std::string(sText, 10);
  }
  char sBuffer[40];
  if (bFullYear) {
    std::snprintf(sBuffer, sizeof sBuffer, "%02d/%02d/%04d", civil.nDay, civil.nMonth, civil.nYear);
  } else {
    std::snprintf(sBuffer, sizeof sBuffer, "%02d/%02d/%02d", civil.nDay, civil.nMonth, civil.nYear % 100);
  }
  return sBuffer;
}

Civil CivilOf(int64_t lDays) { return CivilFromDays(lDays + kEpoch); }

}  // namespace

std::optional<Date> ParseDate(std::string_view sText) {
  std::string sTrimmed = Trim(sText);
  Scanner scan(sTrimmed);
  Parts parts;
  int nFirstDigits = 0, nFirst = 0;
  if (!scan.TakeNumber(1, 4, nFirst, &nFirstDigits)) return std::nullopt;
  bool bRead = false;
  if (nFirstDigits == 4) {
    parts.nYear = nFirst;
    bRead = TakeIsoDate(scan, parts);
  } else if (nFirstDigits <= 2) {
    parts.nDay = nFirst;
    bRead = TakeDayFirstDate(scan, parts);
  }
  if (!bRead || !scan.AtEnd() || !IsPossible(parts)) return std::nullopt;
  int64_t lDays = DaysFromCivil(parts.nYear, parts.nMonth, parts.nDay) - kEpoch;
  return Serial(lDays, parts.nHour * 3600 + parts.nMinute * 60 + parts.nSecond);
}

bool IsDate(std::string_view sText) { return ParseDate(sText).has_value(); }

Date CDate(std::string_view sText) {
  std::optional<Date> dt = ParseDate(sText);
  if (!dt) RaiseError(errTypeMismatch);
  return *dt;
}

// Months and days past their range carry into the next year or month, as the runtime's does.
Date DateSerial(int nYear, int nMonth, int nDay) {
  int64_t lMonths = int64_t{nYear} * 12 + (nMonth - 1);
  int64_t lYear = lMonths >= 0 ? lMonths / 12 : (lMonths - 11) / 12;
  int64_t lMonth = lMonths - lYear * 12 + 1;
  int64_t lDays = DaysFromCivil(lYear, lMonth, 1) + (nDay - 1) - kEpoch;
  if (lDays < kFirstDay || lDays > kLastDay) RaiseError(errInvalidCall);
  return Serial(lDays, 0);
}

Date TimeSerial(int nHour, int nMinute, int nSecond) {
  int64_t lTotal = int64_t{nHour} * 3600 + int64_t{nMinute} * 60 + nSecond;
  int64_t lDays = lTotal >= 0 ? lTotal / kSecondsPerDay : (lTotal - kSecondsPerDay + 1) / kSecondsPerDay;
  return Serial(lDays, lTotal - lDays * kSecondsPerDay);
}

Date DateOnly(Date dt) { return Serial(Split(dt).lDays, 0); }

Date Now() {
  std::time_t tNow = std::time(nullptr);
  std::tm tmLocal{};
  localtime_r(&tNow, &tmLocal);
  int64_t lDays = DaysFromCivil(tmLocal.tm_year + 1900, tmLocal.tm_mon + 1, tmLocal.tm_mday) - kEpoch;
  return Serial(lDays, tmLocal.tm_hour * 3600 + tmLocal.tm_min * 60 + tmLocal.tm_sec);
}

std::string FormatDate(Date dt, std::string_view sFormat) {
  std::string sWanted = FoldCase(sFormat);
  if (sWanted != "dd/mm/yyyy" && sWanted != "dd/mm/yy") RaiseError(errInvalidCall);
  return DayMonthYear(CivilOf(Split(dt).lDays), sWanted == "dd/mm/yyyy");
}

std::string CStr(Date dt) {
  DayAndTime split = Split(dt);
  std::string sText = DayMonthYear(CivilOf(split.lDays), true);
  if (split.lSeconds == 0) return sText;
  return sText + " " + TwoDigits(split.lSeconds / 3600) + ":" + TwoDigits(split.lSeconds / 60 % 60) + ":" +
         TwoDigits(split.lSeconds % 60);
}

}  // namespace varn
