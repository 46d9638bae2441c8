// Dates as the runtime keeps them: a double counting days from 30 December 1899, the time
// of day as its fraction. Texts are read and written day first, whatever the machine's locale.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace varn {

struct Date {
  double dSerial = 0;  // 0 is the date never set, 30/12/1899
  friend bool operator==(Date a, Date b) { return a.dSerial == b.dSerial; }
};

// Recognises day/month/year in digits with "/", "-" or "." (the same separator twice, a
// two- or four-digit year, 00-29 read as 20xx and 30-99 as 19xx), optionally followed by
// h:mm or h:mm:ss, and the ISO form yyyy-mm-dd with or without a time. Blanks around the
// text are ignored. An impossible date or any other text gives nothing, never an error.
std::optional<Date> ParseDate(std::string_view sText);
bool IsDate(std::string_view sText);
// The text read as a date; raises type mismatch (13) when it is not one.
Date CDate(std::string_view sText);

Date DateSerial(int nYear, int nMonth, int nDay);
Date TimeSerial(int nHour, int nMinute, int nSecond);
Date DateOnly(Date dt);
Date Now();

// "dd/mm/yyyy" or "dd/mm/yy".
std::string FormatDate(Date dt, std::string_view sFormat);
// The default text form: dd/mm/yyyy hh:mm:ss, the date alone at midnight.
std::string CStr(Date dt);

}  // namespace varn
