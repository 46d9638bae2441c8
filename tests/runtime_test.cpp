// The runtime layer: checked integers, the keyed collection, dates, number texts and field values.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Collection.h"
#include "runtime/DateTime.h"
#include "runtime/Error.h"
#include "runtime/Int16.h"
#include "runtime/Text.h"
#include "runtime/Variant.h"

namespace varn {
namespace {

// The number of the clsError that fn raises, or 0 when it raises none.
int32_t ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const clsError& e) {
    return e.Number();
  }
  return 0;
}

constexpr double kHour = 1.0 / 24;
constexpr double kSecond = 1.0 / 86400;

TEST(Int16Test, OverflowAtBothEndsRaisesSix) {
  EXPECT_EQ(Int16(32767).Value(), 32767);
  EXPECT_EQ(Int16(-32768).Value(), -32768);
  EXPECT_EQ(ErrorOf([] { Int16 n(32768); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { Int16 n(-32769); }), errOverflow);

  Int16 nTop(32766);
  ++nTop;
  EXPECT_EQ(nTop.Value(), 32767);
  EXPECT_EQ(ErrorOf([&] { ++nTop; }), errOverflow);
  EXPECT_EQ(nTop.Value(), 32767) << "a failed step leaves the value as it was";

  Int16 nBottom(-32768);
  EXPECT_EQ(ErrorOf([&] { nBottom += -1; }), errOverflow);
  EXPECT_EQ(nBottom.Value(), -32768);
  nBottom += 65535;
  EXPECT_EQ(nBottom.Value(), 32767);

  EXPECT_EQ(CLng(2147483647), 2147483647);
  EXPECT_EQ(CLng(-2147483648LL), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ErrorOf([] { CLng(2147483648LL); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { CLng(-2147483649LL); }), errOverflow);
}

using Names = Collection<std::string>;

std::vector<std::string> Contents(const Names& names) {
  std::vector<std::string> v;
  for (const auto& p : names) v.push_back(*p);
  return v;
}

std::shared_ptr<std::string> Name(const char* s) { return std::make_shared<std::string>(s); }

TEST(CollectionTest, KeepsOrderAndFindsKeysWithoutRegardToCase) {
  Names names;
  names.Add(Name("Anne"), "25/12/2003");
  names.Add(Name("Bob"));
  names.Add(Name("Carl"), "Guest");
  ASSERT_EQ(names.Count(), 3);
  EXPECT_EQ(Contents(names), (std::vector<std::string>{"Anne", "Bob", "Carl"}));
  EXPECT_EQ(*names.Item(1), "Anne");
  EXPECT_EQ(*names.Item(3), "Carl");
  EXPECT_EQ(*names.Item("GUEST"), "Carl");
  EXPECT_EQ(*names.Item("guest"), "Carl");
  EXPECT_TRUE(names.Exists("gUeSt"));
  EXPECT_FALSE(names.Exists("Bob")) << "an item added without a key has none";
}

TEST(CollectionTest, MissingKeysPositionsAndSecondKeysRaise) {
  Names names;
  names.Add(Name("Anne"), "Member");
  names.Add(Name("Bob"));
  EXPECT_EQ(ErrorOf([&] { names.Item("Guest"); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Item(0); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Item(3); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Item(-1); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Remove("Guest"); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Remove(3); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Add(Name("Carl"), "MEMBER"); }), errDuplicateKey);
  EXPECT_EQ(ErrorOf([&] { names.Add(Name("Carl"), "Guest", 5); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([&] { names.Add(Name("Carl"), "Guest", 1, 1); }), errInvalidCall);
  EXPECT_EQ(Contents(names), (std::vector<std::string>{"Anne", "Bob"})) << "a refused Add changes nothing";
  EXPECT_FALSE(names.Exists("Guest"));
  Names empty;
  EXPECT_EQ(ErrorOf([&] { empty.Item(1); }), errInvalidCall);
}

TEST(CollectionTest, AddsBeforeAndAfterAndRemovesByPositionOrKey) {
  Names names;
  names.Add(Name("b"), "B");
  names.Add(Name("a"), "A", 1);
  names.Add(Name("d"), "D", std::nullopt, 2);
  names.Add(Name("c"), "C", 3);
  names.Add(Name("e"), std::nullopt, std::nullopt, 4);
  EXPECT_EQ(Contents(names), (std::vector<std::string>{"a", "b", "c", "d", "e"}));

  names.Remove("c");
  names.Remove(1);
  EXPECT_EQ(Contents(names), (std::vector<std::string>{"b", "d", "e"}));
  EXPECT_FALSE(names.Exists("A"));
  EXPECT_FALSE(names.Exists("C"));
  EXPECT_EQ(*names.Item("d"), "d");

  names.Add(Name("a again"), "a");
  EXPECT_EQ(*names.Item("A"), "a again") << "a removed key can be used again";
  names.Remove("A");
  EXPECT_EQ(names.Count(), 3);
}

TEST(CollectionTest, AnEmptyKeyIsAKeyLikeAnyOther) {
  Names names;
  names.Add(Name("blank"), "");
  EXPECT_EQ(*names.Item(""), "blank");
  EXPECT_EQ(ErrorOf([&] { names.Add(Name("other"), ""); }), errDuplicateKey);
  names.Remove(1);
  EXPECT_FALSE(names.Exists("")) << "removing the item must drop its key";
  EXPECT_EQ(ErrorOf([&] { names.Item(""); }), errInvalidCall);
}

// Serials of a few days, fixed independently of the code: the runtime counts days from
// 30 December 1899.
constexpr double kChristmas2003 = 37980;    // 25/12/2003
constexpr double kFirstOf2003 = 37622;      // 01/01/2003
constexpr double kLeapDay2004 = 38046;      // 29/02/2004
constexpr double kNewYearsEve1999 = 36525;  // 31/12/1999

struct DateCase {
  const char* sText;
  std::optional<double> dSerial;  // nothing: the text is no date
};

TEST(DateTest, RecognisesDayFirstDatesAndIsoDatesOnly) {
  const std::vector<DateCase> vCases = {
      {"25/12/2003", kChristmas2003},
      {"25-12-2003", kChristmas2003},
      {"25.12.2003", kChristmas2003},
      {"   25/12/2003   ", kChristmas2003},
      {"25/12/03", kChristmas2003},
      {"1/1/2003", kFirstOf2003},
      {"01/01/03", kFirstOf2003},
      {"12-5-2003", kFirstOf2003 + 131},
      {"31/12/99", kNewYearsEve1999},
      {"29/02/2004", kLeapDay2004},
      {"2003-12-25", kChristmas2003},
      {"30/12/1899", 0},
      {"31/12/1899", 1},
      {"29/12/1899", -1},
      {"01/01/0100", -657434},
      {"31/12/9999", 2958465},
      {"25/12/2003 08:00", kChristmas2003 + 8 * kHour},
      {"25/12/2003 8:00:00", kChristmas2003 + 8 * kHour},
      {"25/12/2003    15:00:04 ", kChristmas2003 + 15 * kHour + 4 * kSecond},
      {"25.12.2003 07:52:34", kChristmas2003 + (7 * 3600 + 52 * 60 + 34) * kSecond},
      {"25/12/2003 0:00", kChristmas2003},
      {"25/12/2003 23:59:59", kChristmas2003 + 86399 * kSecond},
      {"2003-12-25T08:00:00", kChristmas2003 + 8 * kHour},
      {"2003-12-25 08:00", kChristmas2003 + 8 * kHour},
      {"29/12/1899 06:00", -1.25},
      {"31/02/2003", std::nullopt},
      {"29/02/2003", std::nullopt},
      {"29/02/1900", std::nullopt},
      {"29/02/2000", DateSerial(2000, 2, 29).dSerial},
      {"00/00/0000", std::nullopt},
      {"00/01/2003", std::nullopt},
      {"32/01/2003", std::nullopt},
      {"01/13/2003", std::nullopt},
      {"12/25/2003", std::nullopt},
      {"01/01/0099", std::nullopt},
      {"25/12/203", std::nullopt},
      {"25/12/20031", std::nullopt},
      {"25/12-2003", std::nullopt},
      {"25/12", std::nullopt},
      {"2003/12/25", std::nullopt},
      {"2003-1-5", std::nullopt},
      {"2003-12-25T", std::nullopt},
      {"25/12/2003T08:00", std::nullopt},
      {"25/12/2003 24:00", std::nullopt},
      {"25/12/2003 08:60", std::nullopt},
      {"25/12/2003 08:00:60", std::nullopt},
      {"25/12/2003 08:0", std::nullopt},
      {"25/12/2003 8", std::nullopt},
      {"25/12/2003 08:00:00 PM", std::nullopt},
      {"25/12/2003x", std::nullopt},
      {"#25/12/2003#", std::nullopt},
      {"25 /12/2003", std::nullopt},
      {"\t25/12/2003", std::nullopt},
      {"08:00", std::nullopt},
      {"37980", std::nullopt},
      {"End Total 364.95", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sText);
    std::optional<Date> dt;
    EXPECT_EQ(ErrorOf([&] { dt = ParseDate(c.sText); }), 0) << "a text that is no date is never an error";
    EXPECT_EQ(IsDate(c.sText), c.dSerial.has_value());
    if (c.dSerial && dt) {
      EXPECT_NEAR(dt->dSerial, *c.dSerial, 1e-9);
      EXPECT_EQ(CDate(c.sText), *dt);
    }
    if (!c.dSerial) {
      EXPECT_EQ(ErrorOf([&] { CDate(c.sText); }), errTypeMismatch);
    }
  }
}

TEST(DateTest, TwoDigitYearsBelowThirtyAreThisCentury) {
  struct YearCase {
    const char* sText;
    int nYear;
  };
  for (const auto& c : std::vector<YearCase>{
           {"01/06/00", 2000}, {"01/06/29", 2029}, {"01/06/30", 1930}, {"01/06/99", 1999}, {"01/06/0130", 130}}) {
    SCOPED_TRACE(c.sText);
    ASSERT_TRUE(IsDate(c.sText));
    EXPECT_EQ(*ParseDate(c.sText), DateSerial(c.nYear, 6, 1));
  }
}

TEST(DateTest, WritesDayFirstTextsThatReadBackAsTheSameDate) {
  struct TextCase {
    double dSerial;
    const char* sText;
    const char* sShort;
  };
  const std::vector<TextCase> vCases = {
      {kChristmas2003, "25/12/2003", "25/12/03"},
      {kChristmas2003 + 8 * kHour, "25/12/2003 08:00:00", "25/12/03"},
      {kFirstOf2003 + 15 * kHour + 4 * kSecond, "01/01/2003 15:00:04", "01/01/03"},
      {0, "30/12/1899", "30/12/99"},
      {0.5, "30/12/1899 12:00:00", "30/12/99"},
      {-1.25, "29/12/1899 06:00:00", "29/12/99"},
      {-657434, "01/01/0100", "01/01/00"},
      {2958465 + 86399 * kSecond, "31/12/9999 23:59:59", "31/12/99"},
      {kChristmas2003 + (8 * 3600 + 0.4) * kSecond, "25/12/2003 08:00:00", "25/12/03"},
      {kChristmas2003 + (86399.6) * kSecond, "26/12/2003", "26/12/03"},
      {kNewYearsEve1999, "31/12/1999", "31/12/99"},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sText);
    Date dt{c.dSerial};
    EXPECT_EQ(CStr(dt), c.sText);
    EXPECT_EQ(FormatDate(dt, "dd/mm/yy"), c.sShort);
    EXPECT_EQ(FormatDate(dt, "dd/mm/yyyy"), std::string(c.sText).substr(0, 10));
    EXPECT_EQ(CStr(CDate(CStr(dt))), CStr(dt));
  }
  EXPECT_EQ(ErrorOf([] { FormatDate(Date{kChristmas2003}, "yyyy-mm-dd"); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { CStr(Date{std::nan("")}); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { CStr(Date{1e300}); }), errOverflow);
}

TEST(DateTest, EveryWrittenDateAndTimeReadsBackExactly) {
  for (int nYear : {100, 1066, 1899, 1900, 1930, 1999, 2000, 2003, 2029, 2030, 9999}) {
    for (int nMonth : {1, 2, 12}) {
      for (int nSecond : {0, 1, 8 * 3600, 12 * 3600 + 34 * 60 + 56, 86399}) {
        int nDay = nMonth == 2 ? 28 : 31;
        char sDay[16], sTime[16];
        std::snprintf(sDay, sizeof sDay, "%02d/%02d/%04d", nDay, nMonth, nYear);
        std::snprintf(sTime, sizeof sTime, "%02d:%02d:%02d", nSecond / 3600, nSecond / 60 % 60, nSecond % 60);
        std::string sWritten = nSecond == 0 ? std::string(sDay) : std::string(sDay) + " " + sTime;
        SCOPED_TRACE(sWritten);
        Date dt = CDate(std::string(sDay) + " " + sTime);
        EXPECT_EQ(CStr(dt), sWritten);
        EXPECT_EQ(CDate(CStr(dt)), dt);
        EXPECT_EQ(DateOnly(dt), DateSerial(nYear, nMonth, nDay));
        if (nYear >= 1930 && nYear <= 2029) {
          EXPECT_EQ(CDate(FormatDate(dt, "dd/mm/yy")), DateOnly(dt));
        }
      }
    }
  }
}

TEST(DateTest, SerialsCarryPastTheirRanges) {
  EXPECT_EQ(DateSerial(2003, 13, 1), DateSerial(2004, 1, 1));
  EXPECT_EQ(DateSerial(2004, 0, 31), DateSerial(2003, 12, 31));
  EXPECT_EQ(DateSerial(2003, 2, 29), DateSerial(2003, 3, 1));
  EXPECT_EQ(DateSerial(2003, 12, 25).dSerial, kChristmas2003);
  EXPECT_EQ(CStr(TimeSerial(25, 0, 0)), "31/12/1899 01:00:00");
  EXPECT_EQ(CStr(TimeSerial(-1, 0, 0)), "29/12/1899 23:00:00");
  EXPECT_EQ(ErrorOf([] { DateSerial(10000, 1, 1); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { DateSerial(99, 12, 31); }), errInvalidCall);
}

TEST(DateTest, NowIsTheLocalDateAndTime) {
  std::time_t tBefore = std::time(nullptr);
  Date dtNow = Now();
  std::time_t tAfter = std::time(nullptr);
  char sBefore[16], sAfter[16];
  std::tm tm{};
  std::strftime(sBefore, sizeof sBefore, "%d/%m/%Y", localtime_r(&tBefore, &tm));
  std::strftime(sAfter, sizeof sAfter, "%d/%m/%Y", localtime_r(&tAfter, &tm));
  std::string sToday = FormatDate(dtNow, "dd/mm/yyyy");
  EXPECT_TRUE(sToday == sBefore || sToday == sAfter) << sToday;
  EXPECT_EQ(CDate(CStr(dtNow)), dtNow);
}

TEST(NumTextTest, WritesShortestFormWithFullStop) {
  struct NumCase {
    double dValue;
    const char* sText;
  };
  const std::vector<NumCase> vCases = {
      {1.5, "1.5"},
      {2, "2"},
      {0.25, "0.25"},
      {0.1 + 0.2, "0.3"},
      {1234.5, "1234.5"},
      {-5, "-5"},
      {-0.0, "0"},
      {100, "100"},
      {1e20, "1e+20"},
      {1e-7, "1e-07"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {-364.95, "-364.95"},
      {150000000000000, "150000000000000"},
      {999999999999999, "999999999999999"},
      {1e15, "1e+15"},
      {123456789012345678.0, "1.23456789012346e+17"},
      {0.000025, "0.000025"},
      {1.23456789012345e-5, "0.0000123456789012345"},
      {3.14159265358979311, "3.14159265358979"},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sText);
    EXPECT_EQ(NumText(c.dValue), c.sText);
  }
  EXPECT_EQ(NumText(int64_t{-12}), "-12");
  EXPECT_EQ(NumText(int64_t{0}), "0");
}

TEST(TextTest, SplitsReplacesAndTrimsAsTheLinesNeedThem) {
  EXPECT_EQ(Split("25.12.2003 07:52:34 Sign On: Anne", "sign on:", true),
            (std::vector<std::string>{"25.12.2003 07:52:34 ", " Anne"}));
  EXPECT_EQ(Split("a|b||c", "|"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(Split("", ","), (std::vector<std::string>{""}));
  EXPECT_EQ(Split("abc", ""), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(Split("abc", "", true), (std::vector<std::string>{"abc"}));
  EXPECT_EQ(Replace("<< 25.12.2003 << x", "<<", ""), " 25.12.2003  x");
  EXPECT_EQ(Replace("Sign OFF: sign off:", "sign off:", "-", true), "- -");
  EXPECT_EQ(Replace("abc", "", "x"), "abc");
  EXPECT_EQ(Trim("  \tAnne \t  "), "\tAnne \t");
  EXPECT_EQ(Trim("    "), "");
  EXPECT_EQ(LTrim("  Anne  "), "Anne  ");
  EXPECT_EQ(SqlText("O'Brien's"), "O''Brien''s");
  EXPECT_EQ(FileNameOf("C:\\logs\\25-12-2003.log"), "25-12-2003.log");
  EXPECT_EQ(FileNameOf("/var/logs/25-12-2003.log"), "25-12-2003.log");
  EXPECT_EQ(FoldCase("GUEST Ä"), "guest Ä");
}

struct LongCase {
  const char* sLabel;
  Variant v;
  int32_t lExpected;  // the number, or the error number when bError
  bool bError;
};

TEST(VariantTest, ToLongRoundsHalfToEvenAndRefusesWhatIsNoNumber) {
  const std::vector<LongCase> vCases = {
      {"whole", Variant(int64_t{42}), 42, false},
      {"largest", Variant(int64_t{2147483647}), 2147483647, false},
      {"past 32 bits", Variant(int64_t{2147483648}), errOverflow, true},
      {"2.5", Variant(2.5), 2, false},
      {"3.5", Variant(3.5), 4, false},
      {"-2.5", Variant(-2.5), -2, false},
      {"2.4999", Variant(2.4999), 2, false},
      {"2.5001", Variant(2.5001), 3, false},
      {"0.5", Variant(0.5), 0, false},
      {"double past 32 bits", Variant(2147483647.5), errOverflow, true},
      {"1e10", Variant(1e10), errOverflow, true},
      {"NaN", Variant(std::nan("")), errOverflow, true},
      {"text", Variant(std::string("12")), 12, false},
      {"text with blanks", Variant(std::string(" 12.5 ")), 12, false},
      {"text 13.5", Variant(std::string("13.5")), 14, false},
      {"signed text", Variant(std::string("-7")), -7, false},
      {"plus text", Variant(std::string("+7")), 7, false},
      {"exponent text", Variant(std::string("1e3")), 1000, false},
      {"fraction only", Variant(std::string(".5")), 0, false},
      {"point last", Variant(std::string("1.")), 1, false},
      {"large text", Variant(std::string("3000000000")), errOverflow, true},
      {"huge text", Variant(std::string("1e400")), errOverflow, true},
      {"letters", Variant(std::string("abc")), errTypeMismatch, true},
      {"empty", Variant(std::string("")), errTypeMismatch, true},
      {"point alone", Variant(std::string(".")), errTypeMismatch, true},
      {"grouped", Variant(std::string("1,234")), errTypeMismatch, true},
      {"trailing text", Variant(std::string("12abc")), errTypeMismatch, true},
      {"bare exponent", Variant(std::string("1e")), errTypeMismatch, true},
      {"date text", Variant(std::string("25/12/2003")), errTypeMismatch, true},
      {"Null", Variant(Null{}), errInvalidUseOfNull, true},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sLabel);
    int32_t lValue = 0;
    int32_t lError = ErrorOf([&] { lValue = c.v.ToLong(); });
    EXPECT_EQ(lError, c.bError ? c.lExpected : 0);
    if (!c.bError) {
      EXPECT_EQ(lValue, c.lExpected);
    }
  }
}

TEST(VariantTest, ToDoubleToDateAndToText) {
  EXPECT_EQ(Variant(std::string("0.25")).ToDouble(), 0.25);
  EXPECT_EQ(Variant(std::string(" -364.95 ")).ToDouble(), -364.95);
  EXPECT_EQ(Variant(std::string("1e-400")).ToDouble(), 0);
  EXPECT_EQ(Variant(int64_t{3}).ToDouble(), 3);
  EXPECT_EQ(Variant(1.5).ToDouble(), 1.5);
  EXPECT_EQ(ErrorOf([] { Variant(std::string("1.5.2")).ToDouble(); }), errTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant().ToDouble(); }), errInvalidUseOfNull);

  EXPECT_EQ(Variant(std::string("25/12/2003")).ToDate().dSerial, kChristmas2003);
  EXPECT_EQ(Variant(std::string("25/12/2003 08:00:00")).ToDate(), Variant(kChristmas2003 + 8 * kHour).ToDate());
  EXPECT_EQ(Variant(int64_t{0}).ToDate().dSerial, 0);
  EXPECT_EQ(Variant(-1.25).ToDate().dSerial, -1.25);
  EXPECT_EQ(ErrorOf([] { Variant(std::string("31/02/2003")).ToDate(); }), errTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant(std::string("37980")).ToDate(); }), errTypeMismatch);
  EXPECT_EQ(ErrorOf([] { Variant(3e6).ToDate(); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(-700000.0).ToDate(); }), errOverflow);
  EXPECT_EQ(ErrorOf([] { Variant(Null{}).ToDate(); }), errInvalidUseOfNull);

  EXPECT_EQ(Variant(int64_t{-42}).ToText(), "-42");
  EXPECT_EQ(Variant(0.1 + 0.2).ToText(), "0.3");
  EXPECT_EQ(Variant(std::string(" as held ")).ToText(), " as held ");
  EXPECT_EQ(ErrorOf([] { Variant().ToText(); }), errInvalidUseOfNull);
  EXPECT_TRUE(Variant().IsNull());
  EXPECT_FALSE(Variant(std::string()).IsNull());
}

}  // namespace
}  // namespace varn
