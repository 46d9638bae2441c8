// The runtime with the field reader, money and classification: checked integers, the keyed collection,
// dates, number texts, field values, log items, amounts and the table each kind of line feeds. Long
// lists of inputs write one line each, compared with tests/data/runtime-*.expected; after a deliberate
// change, VARN_UPDATE_EXPECTED=1 rewrites those files for review.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <numeric>

#include "parse/LineClassification.h"
#include "records/Money.h"
#include "runtime/Collection.h"
#include "runtime/FieldReader.h"
#include "runtime/Int16.h"
#include "runtime/Text.h"
#include "runtime/Variant.h"
#include "tests/TestSupport.h"

namespace varn {
namespace {

using namespace std::string_literals;
using test::Texts;
constexpr const char* kHex = "0123456789ABCDEF";

// Every call must raise lError.
void ExpectRaise(int32_t lError, std::initializer_list<std::function<void()>> vCalls) {
  int nCall = 0;
  for (const auto& fn : vCalls) EXPECT_EQ(test::ErrorOf(fn).Number(), lError) << "call " << nCall++;
}
// What a call returns, or "#" and the number of the error it raises.
std::string Result(const std::function<std::string()>& fn) {
  std::string s;
  int32_t lError = test::ErrorOf([&] { s = fn(); }).Number();
  return lError ? "#" + std::to_string(lError) : s;
}
// Bytes as printable text between brackets: control and non-ASCII bytes as \xNN.
std::string Shown(std::string_view s) {
  std::string sOut = "[";
  for (unsigned char c : s) sOut += c >= 0x20 && c < 0x7F ? std::string(1, c) : "\\x"s + kHex[c >> 4] + kHex[c & 15];
  return sOut + "]";
}
// The items of a log in memory, or of the file at the path.
Texts ItemsOf(const std::string& s, bool bFile = false) {
  clsFieldReader reader;
  bFile ? reader.Open(s) : reader.OpenText(s);
  Texts v;
  while (!reader.AtEnd()) v.push_back(reader.ReadItem());
  return v;
}

// Serials fixed independently of the code: the runtime counts days from 30/12/1899.
constexpr double kXmas = 37980, kSec = 1.0 / 86400;

TEST(RuntimeTest, CollectionKeepsOrderFindsKeysWithoutRegardToCaseAndRefusesBadCalls) {
  Collection<std::string> names;
  auto Contents = [&] {
    return std::accumulate(names.begin(), names.end(), ""s, [](auto s, auto& p) { return s + *p; });
  };
  // At the end, before or after a position; with a key, none, or an empty one, which is a key like any other.
  using Key = std::optional<std::string>;
  using At = std::optional<int32_t>;
  const std::tuple<const char*, Key, At, At> vAdds[] = {{"b", "B", {}, {}}, {"a", "A", 1, {}}, {"d", "D", {}, 2},
                                                        {"c", "Guest", 3, {}}, {"e", {}, {}, 4}, {"_", "", {}, {}}};
  for (const auto& [s, sKey, lAt, lAfter] : vAdds) names.Add(std::make_shared<std::string>(s), sKey, lAt, lAfter);
  ExpectRaise(errInvalidCall, {[&] { names.Item("Bob"); }, [&] { names.Item(0); }, [&] { names.Item(7); },
                               [&] { names.Item(-1); }, [&] { names.Remove("Bob"); }, [&] { names.Remove(7); },
                               [&] { names.Add(nullptr, "Bob", 8); }, [&] { names.Add(nullptr, "Bob", 1, 1); },
                               [] { Collection<int>().Item(1); }});
  ExpectRaise(errDuplicateKey, {[&] { names.Add(nullptr, "gUEST"); }, [&] { names.Add(nullptr, ""); }});
  EXPECT_EQ(Contents(), "abcde_") << "a refused Add changes nothing";
  EXPECT_EQ(*names.Item(1) + *names.Item(6) + *names.Item("GUEST") + *names.Item("guest") + *names.Item(""), "a_cc_");
  EXPECT_TRUE(names.Exists("gUeSt") && !names.Exists("Bob") && !names.Exists("e")) << "e was added without a key";
  names.Remove("guest");
  names.Remove(1);
  names.Remove(names.Count());
  names.Add(std::make_shared<std::string>("A"), "a");  // a key is free again once its item is gone
  EXPECT_EQ(Contents() + *names.Item("A") + *names.Item("d"), "bdeAAd");
  EXPECT_FALSE(names.Exists("Guest") || names.Exists(""));
}

TEST(RuntimeTest, DatesNumbersAndFieldValuesAreReadAndWrittenAsTheRuntimeDoes) {
  // Day first with "/", "-" or "." twice, or ISO; two-digit years below 30 this century; an optional time.
  // Each text: its serial, written out, as dd/mm/yyyy, its day alone, and as dd/mm/yy.
  std::string sLines;
  for (const char* sText :
       {"25/12/2003", "25-12-2003", "25.12.2003", "   25/12/2003   ", "1/1/2003", "29/02/2004", "29/02/2000",
        "2003-12-25", "30/12/1899", "29/12/1899", "01/01/0100", "31/12/9999 23:59:59", "29/12/1899 06:00", "01/06/29",
        "01/06/30", "01/06/0130", "25/12/2003 08:00", "25/12/2003 8:00:00", "25/12/2003    15:00:04 ",
        "31/01/1066 00:00:01", "28/02/1999 12:34:56", "31/12/1900 23:59:59", "2003-12-25T08:00:00", "2003-12-25 08:00",
        "31/02/2003", "29/02/2003", "29/02/1900", "00/01/2003", "32/01/2003", "01/13/2003", "01/01/0099", "25/12/203",
        "25/12/20031", "25/12-2003", "25/12", "2003/12/25", "2003-1-5", "2003-12-25T", "25/12/2003T08:00",
        "25/12/2003 24:00", "25/12/2003 08:60", "25/12/2003 8", "25/12/2003 08:00:60", "25/12/2003 08:0",
        "25/12/2003 08:00:00 PM", "25/12/2003x", "#25/12/2003#", "25 /12/2003", "\t25/12/2003", "08:00", "37980", ""}) {
    EXPECT_EQ(IsDate(sText), ParseDate(sText).has_value()) << "never an error from the recogniser";
    sLines += Shown(sText) + " " + Result([&] { return NumText(CDate(sText).dSerial) + " " + CStr(CDate(sText)); });
    sLines += " " + Result([&] { return FormatDate(CDate(sText), "dd/mm/yyyy") + " " + CStr(DateOnly(CDate(sText))); });
    sLines += " " + Result([&] { return FormatDate(CDate(sText), "DD/MM/YY"); }) + "\n";
  }
  ExpectRaise(errInvalidCall, {[] { FormatDate(Date{kXmas}, "yyyy-mm-dd"); }, [] { DateSerial(10000, 1, 1); },
                               [] { DateSerial(99, 12, 31); }});
  ExpectRaise(errOverflow, {[] { CStr(Date{std::nan("")}); }, [] { CStr(Date{1e300}); }});
  std::time_t t = std::time(nullptr);
  std::tm tm = *std::localtime(&t);
  Date dtLocal = DateSerial(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  EXPECT_NEAR(Now().dSerial, dtLocal.dSerial + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) * kSec, 5 * kSec);
  const std::pair<std::string, std::string> vTexts[] = {
      {Replace("abc", "", "x"), "abc"}, {Replace("<< 25.12.2003 << x", "<<", ""), " 25.12.2003  x"},
      {Replace("Sign OFF: sign off:", "sign off:", "-", true), "- -"}, {Trim("  \tAnne \t  "), "\tAnne \t"},
      {Trim("    "), ""}, {LTrim("  Anne  "), "Anne  "}, {SqlText("O'Brien's"), "O''Brien''s"},
      {FileNameOf("C:\\logs\\25-12-2003.log"), "25-12-2003.log"}, {FileNameOf("/var/logs/25.log"), "25.log"},
      {FoldCase("GUEST Ä"), "guest Ä"}, {NumText(DateSerial(2003, 12, 25).dSerial), "37980"},
      // Months, days and hours past their range carry over.
      {CStr(DateSerial(2003, 13, 1)), "01/01/2004"}, {CStr(DateSerial(2004, 0, 31)), "31/12/2003"},
      {CStr(DateSerial(2003, 2, 29)), "01/03/2003"}, {CStr(TimeSerial(25, 0, 0)), "31/12/1899 01:00:00"},
      {CStr(TimeSerial(-1, 0, 0)), "29/12/1899 23:00:00"}};
  for (const auto& [sActual, sExpected] : vTexts) EXPECT_EQ(sActual, sExpected);
  const std::pair<Texts, Texts> vSplits[] = {
      {Split("25.12.2003 07:52:34 Sign On: Anne", "sign on:", true), {"25.12.2003 07:52:34 ", " Anne"}},
      {Split("a|b||c", "|"), {"a", "b", "", "c"}}, {Split("", ","), {""}}, {Split("abc", ""), {"abc"}}};
  for (const auto& [vActual, vExpected] : vSplits) EXPECT_EQ(vActual, vExpected);
  // Each value as text (15 significant digits at most, a full stop), whole number (halves to even),
  // double and date (written to the second, rounded), or the error each raises.
  for (const Variant& v : std::initializer_list<Variant>{
           Variant(), int64_t{42}, int64_t{-42}, int64_t{0}, int64_t{2147483647}, int64_t{2147483648},
           int64_t{-2147483648}, int64_t{-2147483649}, 2.0, 100.0, 0.25, 0.1 + 0.2, -5.0, -0.0, -364.95, 1e20, 1e-7,
           1.0 / 3, 2.0 / 3, 999999999999999.0, 1e15, 123456789012345678.0, 0.000025, 1.23456789012345e-5, 2.5, 3.5,
           -2.5, 2.4999, 2.5001, 1.5, 0.5, -1.25, kXmas + 28800.4 * kSec, kXmas + 86399.6 * kSec, -657434.0,
           2958465 + 86399 * kSec, 2147483647.5, 1e10, 3e6, -700000.0, std::nan(""), "12"s, " 12.5 "s, "-7"s, "+7"s,
           "1e3"s, ".5"s, "1."s, "0.25"s, " -364.95 "s, "1e-400"s, "3000000000"s, "1e400"s, "abc"s, ""s, "."s, "1,234"s,
           "12abc"s, "1e"s, "1.5.2"s, "25/12/2003"s, "25/12/2003 08:00:00"s, "31/02/2003"s, "37980"s}) {
    sLines += Shown(Result([&] { return v.ToText(); })) + " " + Result([&] { return NumText(int64_t{v.ToLong()}); });
    sLines += " " + Result([&] { return NumText(v.ToDouble()); }) + " " + Result([&] { return CStr(v.ToDate()); });
    sLines += "\n";
  }
  EXPECT_EQ(test::DifferenceFromFile(sLines, "runtime-values.expected"), "");
  EXPECT_TRUE(Variant().IsNull() && !Variant(""s).IsNull());
  Int16 nTop(32766), nBottom(-32768);
  ++nTop;
  ExpectRaise(errOverflow, {[] { Int16 n(32768); }, [] { Int16 n(-32769); }, [&] { ++nTop; },
                            [&] { nBottom += -1; }});
  nBottom += 65535;
  EXPECT_EQ(nTop.Value() + nBottom.Value(), 2 * 32767) << "a failed step leaves the value as it was";
}

TEST(RuntimeTest, FieldReaderSplitsLinesAndFilesIntoItemsInLinearTime) {
  // Quotes keep commas; CR LF, LF and a lone CR end a line; UTF-8 or else Windows-1252; NULs dropped.
  // A star marks a blank item: nothing but spaces.
  std::string sLines;
  for (const std::string& sBytes : std::initializer_list<std::string>{
           "a,b\r\nc\r\n", "\"PC01,08:00|,,|Guest:1.50,1.50\"\r\nEnd Total 1.50\r\n", "   abc   ,  def  \n",
           "  \" a, b \"\n", "\"\",x\n", "\"abc\"def,ghi\n\"x\"  ,y\n", "ab\"c,d\n", "\"abc,def\r\nghi", "x\n\"abc,def",
           "a\nb\n", "a\rb\rc", "a\n\rb", "a\r\nb", "a\r\n\r\n   \r\nb\r\n", "a,\r\nb", "a\r\n   ", "\t,\tx\t\n", "",
           "\n", "\xEF\xBB\xBF#25/12/2003#\r\n", "\xEF\xBB\xBF\xE9t\xE9", "caf\xC3\xA9,\xE2\x82\xAC 5\n",
           "caf\xE9,\x80 5\n\x93quoted\x94", "\x81\x8D\x8F\x90\x9D", "\xC0\xAF", "\xED\xA0\x80", "ab\xC3",
           "\"a\0,b\"\n"s, "a\0b,c\0\n"s, "\xE9\0x"s, "\"    \",\" \xC2\xA0 \",\" x \""}) {
    sLines += Shown(sBytes) + " ->";
    for (const auto& sItem : ItemsOf(sBytes)) sLines += " " + Shown(sItem) + (IsBlankItem(sItem) ? "*" : "");
    sLines += "\n";
  }
  EXPECT_EQ(test::DifferenceFromFile(sLines, "runtime-items.expected"), "");

  test::TempFolder folder;
  std::string sLog = test::WriteFile(folder / "25-12-2003.log", "#25/12/2003#\r\n\"PC01,08:00\"\r\nEnd Total 3.45");
  EXPECT_EQ(ItemsOf(sLog, true), (Texts{"#25/12/2003#", "PC01,08:00", "End Total 3.45"}));
  clsFieldReader reader;
  reader.Open(test::WriteFile(folder / "empty.log", ""));
  EXPECT_TRUE(reader.IsOpen() && reader.AtEnd());
  ExpectRaise(62, {[&] { reader.ReadItem(); }});
  reader.Close();
  EXPECT_FALSE(reader.IsOpen());
  ExpectRaise(errFileNotFound, {[&] { reader.Open(folder / "x.log"); }, [&] { reader.Open(folder / "no/x.log"); }});
  clsError err = test::ErrorOf([&] { reader.Open(folder.Path().string()); });
  EXPECT_TRUE(err.Number() == 75 && err.Description().find("folder") != std::string::npos) << err.Description();

  const std::string sLine(50u << 20, 'x'), sWestern(8u << 20, '\xE9');  // \xE9 alone: not UTF-8
  const std::string sManyItems = Replace(std::string(300'000, '#'), "#", "PC01, ");
  auto tStart = std::chrono::steady_clock::now();
  std::string sPath = test::WriteFile(folder / "one-line.log", sLine);
  EXPECT_TRUE(ItemsOf(sPath, true) == Texts{sLine} && ItemsOf("\"" + sLine) == Texts{sLine});
  EXPECT_TRUE(ItemsOf(sWestern) == Texts{Replace(sWestern, "\xE9", "\xC3\xA9")});
  EXPECT_EQ(ItemsOf(sManyItems).size(), 300'001u) << "the blank after the last comma is an item too";
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count(), 60);
}

TEST(RuntimeTest, LogTextGivesLineKindsAndAmounts) {
  // Each text: its table and kind (tables 1 date range, 2 shift, 3 session; kinds 1 date, 2 day total, 3 sign
  // on, 4 sign off), nothing trimmed and only "End Total" without regard to case; as an amount (leading
  // non-digits, signs and points too, stripped one at a time) with the boxes it showed; as a number (blanks
  // ignored, a sign, digits with one point, an exponent; too large raises).
  std::string sLines;
  for (const char* sText :
       {"#25/12/2003#", "#25/12/2003", "#01/#02/2006#", "#25.12.2003#", "# 25/12/2003 #", "#Total#", "#", "##",
        "#31/02/2003#", " #25/12/2003#", "25/12/2003", "End Total 364.95", "end total 1234.50", "END TOTAL",
        "eNd ToTaLly wrong", "End Tota", "EndTotal 5", "x End Total 5", "PC04", "Pc 12", "pc 12", "P", " PC01",
        "PC03,08:43,11:37,2:54|3.00,4.00,2.00,,,2.50|Member:7.20,18.70,M1433", "<< 25.12.2003 15:00:04 Sign Off: Anne",
        ">> 25.12.2003 07:52:34 Sign On: Anne", "<<<", ">>>", "<>", "<", "> >", " >> 25.12.2003 07:52:34 Sign On: Anne",
        "Operator note: printer out of paper", "08:43", "12.50", "$12.50", "RM 12.00", "  7", "-5.00", "RM", "abc",
        "$ 12", ".50", "1,250.75", "Guest:$2.25", "$", "", "1e400", "$9E999999999999", "RM 1.5e309", ".5", "5.", "-5",
        "+5", " 1 2 . 5 ", "\t7\n", "1.2.3", "1,5", "12E", "12e+", "12 Eur", "1.5E3", "1.5e-2", "2E+2x", "-", ".",
        "--5", "- 5", "1e-400", "0e999", "1000e-400", "1e308", "0.000001", "-1e400", "0.001e400"}) {
    auto pScreen = test::UseRecordingUI();
    auto eField = static_cast<eLogField>(-1);
    eLogTable eTable = meIdentifyTable(sText, eField);
    sLines += Shown(sText) + " " + std::to_string(eTable) + "/" + std::to_string(eField);
    EXPECT_TRUE(pScreen->mvPointers.at(0) == vbHourglass && pScreen->MousePointer() == vbDefault) << sText;
    EXPECT_EQ(std::count(pScreen->mvPointers.begin(), pScreen->mvPointers.end(), vbDefault), 1)
        << "the hourglass while it works, and no longer";
    sLines += " " + NumText(CleanUpMoney(sText));
    for (const auto& box : pScreen->mvBoxes)
      sLines += " " + box.sTitle + "|" + std::to_string(box.nStyle) + "|" + Shown(box.sPrompt);
    sLines += " " + Result([&] { return NumText(ReadLeadingNumber(sText)); }) + "\n";
    EXPECT_EQ(pScreen->MousePointer(), vbDefault) << sText;
  }
  EXPECT_EQ(test::DifferenceFromFile(sLines, "runtime-text.expected"), "");
  ExpectRaise(errOverflow, {[] { ReadLeadingNumber(std::string(400, '9')); }});
}

}  // namespace
}  // namespace varn
