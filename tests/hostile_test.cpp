// Log files no shop program would write: garbage, NUL bytes, endless lines, broken encoding,
// quotes that never close, too many items, impossible dates and amounts, names written to
// break SQL. None may crash, hang or damage the database: each is imported as the log format
// says, or refused with a clear report and nothing written.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "service/clsLogAnalysis.h"
#include "tests/FaultSupport.h"

namespace varn::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

bool IsValidUtf8(const std::string& s) {
  for (size_t n = 0; n < s.size();) {
    auto c = static_cast<unsigned char>(s[n]);
    size_t nLength = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (nLength == 0 || n + nLength > s.size()) return false;
    for (size_t k = 1; k < nLength; ++k) {
      if ((static_cast<unsigned char>(s[n + k]) & 0xC0) != 0x80) return false;
    }
    n += nLength;
  }
  return true;
}

// Bytes of every value, from a generator whose output the standard fixes, so the same garbage
// on every machine. Bytes that start the log's kinds of line are moved aside, so every item
// of it is uncategorised.
std::string Garbage(size_t nBytes) {
  std::mt19937 engine(14);
  std::string sBytes(nBytes, '\0');
  for (char& c : sBytes) {
    c = static_cast<char>(engine() & 0xFF);
    if (c == 'P' || c == '<' || c == '>' || c == '#' || c == 'E') c = '_';
  }
  return sBytes;
}

class HostileLog : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(300);  // a hang fails the test instead of stalling the suite
    mpScreen = UseRecordingUI();
    msDB = mFolder / "shop.db";
    mpService = Open(msDB);
    // An earlier day, so that "nothing written" is more than an empty database.
    ASSERT_TRUE(Import("01-04-2025.log", GeneratedDay("01/04/2025", 20)));
    mnBoxes = mpScreen->mvBoxes.size();
  }
  void TearDown() override {
    mpService.reset();
    gobjLogAnalysis.reset();
    alarm(0);
  }
  static std::shared_ptr<clsLogAnalysis> Open(const std::string& sDB) {
    auto pService = clsLogAnalysis::Create();
    pService->Initialize(sDB);
    return pService;
  }
  bool Import(const std::string& sName, const std::string& sBytes) {
    return mpService->ProcessLogFile(WriteFile(mFolder / sName, sBytes));
  }
  // The boxes shown since the last call.
  std::vector<std::string> NewBoxes() {
    std::vector<std::string> vPrompts;
    for (size_t n = mnBoxes; n < mpScreen->mvBoxes.size(); ++n) vPrompts.push_back(mpScreen->mvBoxes[n].sPrompt);
    mnBoxes = mpScreen->mvBoxes.size();
    return vPrompts;
  }
  std::string NewRejects() {
    std::string sNew = mpService->UncategorisedLines().substr(mnRejects);
    mnRejects = mpService->UncategorisedLines().size();
    return sNew;
  }
  // The rows a day's import stored, keys left out.
  Rows Sessions(const std::string& sLogDate) const {
    return SqlRows(msDB,
                   "SELECT s.LineNo, PC_No, StartTime, EndTime, TotalTime, TotalGoods, UserName, UserCharge, "
                   "Total, MemberID FROM Session s JOIN DateRange d ON d.Date_ID = s.Date_ID "
                   "LEFT JOIN User u ON u.User_ID = s.User_ID WHERE LogDate = '" +
                       sLogDate + "' ORDER BY s.LineNo");
  }
  Rows Shifts(const std::string& sLogDate) const {
    return SqlRows(msDB,
                   "SELECT s.LineNo, SignOn, SignOff, SignDateTime FROM Shift s JOIN DateRange d ON "
                   "d.Date_ID = s.Date_ID WHERE LogDate = '" +
                       sLogDate + "' ORDER BY s.LineNo");
  }
  std::string DayTotal(const std::string& sLogDate) const {
    return SqlValue(msDB, "SELECT DateTotal FROM DateRange WHERE LogDate = '" + sLogDate + "'");
  }

  TempFolder mFolder;
  std::string msDB;
  std::shared_ptr<clsRecordingUI> mpScreen;
  std::shared_ptr<clsLogAnalysis> mpService;
  size_t mnBoxes = 0;
  size_t mnRejects = 0;
};

TEST_F(HostileLog, FilesWithoutAUsableDateOrWithTooManyItemsAreRefused) {
  auto Items = [](size_t nItems) {
    std::vector<std::string> vLines{"#10/04/2025#"};
    vLines.resize(nItems, "note");
    return LogText(vLines);
  };
  auto DateLine = [](const std::string& sDate) {
    return LogText({"#" + sDate + "#", "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""});
  };
  struct Case {
    const char* sName;
    std::string sBytes;
    std::vector<std::string> vReports;  // how each report begins
  };
  const std::string sNoDate = "5\r\n14/clsLogAnalysis:mbProcessFile\r\nNo date line in ";
  const std::vector<std::string> vOverflow{"6\r\n03/clsLogAnalysis:mlGetLines\r\nOverflow",
                                           "6\r\n08/clsLogAnalysis:mbProcessFile\r\nOverflow"};
  std::vector<Case> vCases{
      {"binary garbage", Garbage(1 << 20), {sNoDate}},
      {"NUL bytes", std::string(1 << 16, '\0'), {sNoDate}},
      {"31/02/2003", DateLine("31/02/2003"), {sNoDate}},
      {"00/00/0000", DateLine("00/00/0000"), {sNoDate}},
      {"29/02/2023", DateLine("29/02/2023"), {sNoDate}},
      {"32/01/2025", DateLine("32/01/2025"), {sNoDate}},
      {"15/13/2025", DateLine("15/13/2025"), {sNoDate}},
      {"32,768 items", Items(32768), vOverflow},
      {"40,000 items", Items(40000), vOverflow},
      // Two day totals whose sum no double holds: the date's record refuses the second.
      {"day totals past the largest double",
       LogText({"#11/04/2025#", "End Total 1e308", "End Total 1e308"}),
       {"6\r\n07/clsItemDateRange:SetUp\r\nOverflow"}},
  };
  for (const auto& c : vCases) {
    SCOPED_TRACE(c.sName);
    std::string sBefore = Dump(msDB);
    EXPECT_FALSE(Import("12-04-2025.log", c.sBytes));
    EXPECT_EQ(mpService->WhatDBAction(), enuUnspecified);
    std::vector<std::string> vBoxes = NewBoxes();
    ASSERT_EQ(vBoxes.size(), c.vReports.size());
    for (size_t n = 0; n < vBoxes.size(); ++n) EXPECT_EQ(vBoxes[n].rfind(c.vReports[n], 0), 0u) << vBoxes[n];
    EXPECT_EQ(Dump(msDB), sBefore);
    EXPECT_EQ(mpService->HistoryLogDates()->Count(), 1);
    EXPECT_TRUE(IsValidUtf8(NewRejects()));
  }
  // The impossible dates were set aside as lines of no known kind.
  EXPECT_NE(mpService->UncategorisedLines().find("\r\n#31/02/2003#\r\n"), std::string::npos);
  EXPECT_EQ(IntegrityCheck(msDB), "ok");
}

TEST_F(HostileLog, TheLargestItemCountIsStillImported) {
  std::vector<std::string> vLines{"#10/04/2025#"};
  vLines.resize(32767, "note");
  EXPECT_TRUE(Import("10-04-2025.log", LogText(vLines)));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{});
  EXPECT_EQ(NewRejects().size(), 32766 * std::string("\r\nnote").size());
  EXPECT_EQ(DayTotal("10/04/2025"), "0.0");
}

TEST_F(HostileLog, GarbageAfterTheDateLineIsSetAside) {
  std::string sBytes = "#09/04/2025#\r\n" + Garbage(1 << 20);
  EXPECT_TRUE(Import("09-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{});
  std::string sRejects = NewRejects();
  EXPECT_GT(sRejects.size(), 100000u);
  // The bytes are not UTF-8, so they were read as the shop's Windows code page.
  EXPECT_TRUE(IsValidUtf8(sRejects));
  EXPECT_EQ(DayTotal("09/04/2025"), "0.0");
  EXPECT_EQ(Sessions("09/04/2025"), Rows{});
  EXPECT_EQ(Shifts("09/04/2025"), Rows{});
  EXPECT_EQ(IntegrityCheck(msDB), "ok");

  // The command line prints such lines without harm.
  RunResult command = RunVarnlog(mFolder, {"--db", mFolder / "other.db", "import", mFolder / "09-04-2025.log"});
  EXPECT_EQ(command.nExit, 0);
  EXPECT_NE(command.sOutput.find("09-04-2025.log: inserted 09/04/2025 (0 sessions, 0 shifts, day total 0, "),
            std::string::npos)
      << command.sOutput.substr(0, 300);
}

TEST_F(HostileLog, NulBytesAreDropped) {
  using namespace std::string_literals;
  std::string sBytes =
      "#05/0\0"s
      "4/2025#\r\n"s
      "\"PC01,08:1\0"s
      "0,08:40,0:30|2.00|Gu\0"s
      "est:1.50,3.50\"\r\n"s
      "\0\0\0\0\r\n"s
      ">> 05.04.2025 08:00:00 Sign On: Ol\0"s
      "ga\r\n"s;
  EXPECT_TRUE(Import("05-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{});
  EXPECT_EQ(NewRejects(), "");
  EXPECT_EQ(Sessions("05/04/2025"), (Rows{{"2", "PC01", "08:10", "08:40", "0:30", "2.0", "Guest", "1.5", "3.5", " "}}));
  // The line of NULs is blank: it takes no line number.
  EXPECT_EQ(Shifts("05/04/2025"), (Rows{{"3", "Olga", "", "05/04/2025 08:00:00"}}));
}

TEST_F(HostileLog, FiftyMegabytesWithoutALineBreakAreOneUncategorisedLine) {
  std::string sBytes = LogText({"#13/04/2025#", "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\""});
  sBytes.append(50 << 20, 'x');
  EXPECT_TRUE(Import("13-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{});
  EXPECT_EQ(NewRejects().size(), (50u << 20) + 2);
  EXPECT_EQ(Sessions("13/04/2025").size(), 1u);
  EXPECT_EQ(DayTotal("13/04/2025"), "3.5");
}

TEST_F(HostileLog, LinesOfAMegabyte) {
  std::string sMember = "M" + std::string(1 << 20, '7');
  std::string sBytes = LogText({"#14/04/2025#", "\"PC01,08:10,08:40,0:30|2.00|Member:1.50,3.50," + sMember + "\"",
                                std::string(1 << 20, 'n'),
                                // A goods field of more places than a 16-bit count holds.
                                "\"PC02,08:10,08:40,0:30|" + std::string(1 << 20, ',') + "|Guest:1.50,3.50\"",
                                "\"PC03,08:10,08:40,0:30|1.00|Guest:1.50,2.50\""});
  EXPECT_TRUE(Import("14-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{"6\r\n01/clsItemGoods:SetUp\r\nOverflow"});
  EXPECT_EQ(NewRejects().size(), (1u << 20) + 2);
  EXPECT_EQ(SqlValue(msDB, "SELECT MemberID = '" + sMember + "' FROM Session WHERE PC_No = 'PC01'"), "1");
  Rows vSessions = Sessions("14/04/2025");
  ASSERT_EQ(vSessions.size(), 2u);
  EXPECT_EQ(vSessions[1],
            (std::vector<std::string>{"5", "PC03", "08:10", "08:40", "0:30", "1.0", "Guest", "1.5", "2.5", " "}));
  EXPECT_EQ(DayTotal("14/04/2025"), "6.0");
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM pragma_table_info('Goods')"), "18");
}

TEST_F(HostileLog, QuotesThatNeverCloseEndWithTheirLine) {
  std::string sBytes =
      "#15/04/2025#\r\n"
      "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\r\n"
      "\"PC02,09:10,09:40,0:30|2.00|Guest:1.50,3.50\r\n"
      "End Total 99\"\r\n"
      "\"PC03,10:10,10:40,0:30|2.00|Guest:1.50,3.50";
  EXPECT_TRUE(Import("15-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{});
  EXPECT_EQ(NewRejects(), "");
  Rows vSessions = Sessions("15/04/2025");
  ASSERT_EQ(vSessions.size(), 3u);
  EXPECT_EQ((Rows{{vSessions[0][0], vSessions[0][1], vSessions[0][2]},
                  {vSessions[1][0], vSessions[1][1], vSessions[1][2]},
                  {vSessions[2][0], vSessions[2][1], vSessions[2][2]}}),
            (Rows{{"2", "PC01", "08:10"}, {"3", "PC02", "09:10"}, {"5", "PC03", "10:10"}}));
  EXPECT_EQ(DayTotal("15/04/2025"), "99.0");
}

TEST_F(HostileLog, QuotesSemicolonsAndCommentMarksAreStoredExactly) {
  std::string sBytes = LogText({
      "#16/04/2025#",
      ">> 16.04.2025 08:00:00 Sign On: O'Neil; DROP TABLE Shift; --",
      "\"PC'01;--,08:10',08:40,0:30|2.00|O'Brien'); DELETE FROM Session; --:1.50,3.50,M';--\"",
      "\"PC02,08:10,08:40,0:30,0,0,0,0,0,0,0,0,$1.00,Semi;colon /* x */:$1.00,$2.00,M--1\"",
      "<< 16.04.2025 22:00:00 Sign Off: Anne \"Nan\" O'Neil -- done",
  });
  EXPECT_TRUE(Import("16-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(), std::vector<std::string>{});
  EXPECT_EQ(Sessions("16/04/2025"),
            (Rows{{"3", "PC'01;--", "08:10'", "08:40", "0:30", "2.0", "O'Brien'); DELETE FROM Session; --", "1.5",
                   "3.5", "M';--"},
                  {"4", "PC02", "08:10", "08:40", "0:30", "1.0", "Semi;colon /* x */", "1.0", "2.0", "M--1"}}));
  EXPECT_EQ(Shifts("16/04/2025"), (Rows{{"2", "O'Neil; DROP TABLE Shift; --", "", "16/04/2025 08:00:00"},
                                        {"5", "", "Anne \"Nan\" O'Neil -- done", "16/04/2025 22:00:00"}}));
  // Nothing else was touched: the earlier day is whole.
  EXPECT_EQ(Sessions("01/04/2025").size(), 20u);
  EXPECT_EQ(IntegrityCheck(msDB), "ok");
}

TEST_F(HostileLog, AmountsOutOfRangeAreReportedAndNeverStoredInfinite) {
  std::string sBytes = LogText({
      "#17/04/2025#",
      "\"PC01,08:10,08:40,0:30|2.00|Guest:1e400,3.50\"",        // the charge overflows: reported, 0
      "\"PC02,08:10,08:40,0:30|2.00|Guest:1.50,-\"",            // a total of '-' reads 0
      "\"PC03,08:10,08:40,0:30|1e400|Guest:1.50,3.50\"",        // goods that overflow: the line is dropped
      "\"PC04,08:10,08:40,0:30|-,-5,inf,nan|Guest:inf,nan\"",   // no digits read 0; a goods sign is kept
      "\"PC05,08:10,08:40,0:30|1e308,1e308|Guest:1.50,3.50\"",  // goods whose sum overflows: dropped
      // The largest double is written with 15 digits that still read back as a finite amount.
      "\"PC06,08:10,08:40,0:30|2.00|Guest:1.7976931348623157e308,1.7976931348623157e308\"",
      "End Total 1e400",  // reported; the day's total then comes from its sessions
  });
  EXPECT_TRUE(Import("17-04-2025.log", sBytes));
  EXPECT_EQ(NewBoxes(),
            (std::vector<std::string>{
                "6\r\n01/modMainLog:CleanUpMoney\r\nOverflow", "6\r\n02/clsItemGoods:SetUp\r\nOverflow",
                "6\r\n02/clsItemGoods:SetUp\r\nOverflow", "6\r\n01/clsItemDateRange:mdblCleanUpEndTotal\r\nOverflow"}));
  EXPECT_EQ(SqlRows(msDB,
                    "SELECT s.LineNo, PC_No, TotalGoods, UserCharge, Total FROM Session s JOIN DateRange d "
                    "ON d.Date_ID = s.Date_ID WHERE LogDate = '17/04/2025' ORDER BY 1"),
            (Rows{{"2", "PC01", "2.0", "0.0", "3.5"},
                  {"3", "PC02", "2.0", "1.5", "0.0"},
                  {"5", "PC04", "-5.0", "0.0", "0.0"},
                  {"7", "PC06", "2.0", "1.79769313486231e+308", "1.79769313486231e+308"}}));
  EXPECT_EQ(SqlRows(msDB,
                    "SELECT Goods_1, Goods_2, Goods_3, Goods_4 FROM Goods g JOIN Session s ON "
                    "s.Session_ID = g.Session_ID WHERE PC_No = 'PC04'"),
            (Rows{{"0", "-5", "0", "0"}}));
  EXPECT_EQ(DayTotal("17/04/2025"), "1.79769313486231e+308");
  EXPECT_EQ(SqlValue(msDB,
                     "SELECT COUNT(*) FROM Session WHERE abs(Total) > 1.8e308 OR abs(UserCharge) > 1.8e308 "
                     "OR abs(TotalGoods) > 1.8e308 OR Total IS NULL"),
            "0");
}

TEST_F(HostileLog, ImpossibleSignOnMomentsDropOnlyTheirLine) {
  std::string sBytes =
      LogText({"#18/04/2025#", ">> 31.02.2003 08:00:00 Sign On: Olga", "<< 00.00.0000 08:00:00 Sign Off: Olga",
               ">> 18.04.2025 25:61:00 Sign On: Pete", ">> 18.04.2025 09:00:00 Sign On: Anne"});
  EXPECT_TRUE(Import("18-04-2025.log", sBytes));
  std::vector<std::string> vBoxes = NewBoxes();
  ASSERT_EQ(vBoxes.size(), 3u);
  for (const auto& sBox : vBoxes) EXPECT_NE(sBox.find("/clsItemShift:SetUp\r\nType mismatch"), std::string::npos);
  EXPECT_EQ(Shifts("18/04/2025"), (Rows{{"5", "Anne", "", "18/04/2025 09:00:00"}}));
}

// A byte that is never UTF-8, put before each byte of a day's log in turn. The file is then read
// in the shop's Windows code page, where the byte is 'ÿ'. Only the line it lands in may change:
// text fields keep it where it stands, a line it spoils is set aside or dropped with a report,
// and only a spoilt date line refuses the file.
TEST_F(HostileLog, InvalidUtf8InEveryPositionStaysInItsOwnLine) {
  const std::vector<std::string> vLines{"#19/04/2025#", ">> 19.04.2025 08:00:00 Sign On: Olga",
                                        "\"PC01,08:10,08:40,0:30|1.50,2.00|Guest:1.50,5.00,M12\"", "End Total 5.00"};
  const std::string sClean = LogText(vLines);
  // What each line stores, looked at without keys and line numbers (a byte between CR and LF is
  // an item of its own, which moves the numbers after it): the date, the shift, the session,
  // the day's total.
  const std::vector<std::string> vQueries{
      "SELECT LogDate FROM DateRange WHERE Date_ID > 1",
      "SELECT SignOn, SignOff, SignDateTime FROM Shift WHERE Date_ID > 1",
      "SELECT PC_No, StartTime, EndTime, TotalTime, TotalGoods, UserCharge, Total, MemberID, UserName, "
      "Goods_1, Goods_2 FROM Session s JOIN User USING (User_ID) JOIN Goods USING (Session_ID) WHERE s.Date_ID > 1",
      "SELECT DateTotal FROM DateRange WHERE Date_ID > 1"};
  auto Stored = [&](const std::string& sDB) {
    std::vector<Rows> vStored;
    for (const auto& sQuery : vQueries) vStored.push_back(SqlRows(sDB, sQuery));
    return vStored;
  };
  // The text fields stored as written: the line, the column of its row, and from which of its
  // characters on the field takes the byte in (a PC field must still begin with "PC").
  struct Field {
    std::string sText;
    size_t nLine, nColumn, nFrom;
  };
  const std::vector<Field> vFields{{"Olga", 1, 0, 0},  {"PC01", 2, 0, 2}, {"08:10", 2, 1, 0},
                                   {"08:40", 2, 2, 0}, {"M12", 2, 7, 0},  {"Guest", 2, 8, 0}};
  std::string sTemplate = mFolder / "template.db";
  fs::copy_file(msDB, sTemplate);
  auto ImportInto = [&](const std::string& sDB, const std::string& sBytes) {
    fs::copy_file(sTemplate, sDB, fs::copy_options::overwrite_existing);
    mpService = Open(sDB);
    mnBoxes = mpScreen->mvBoxes.size();
    return mpService->ProcessLogFile(WriteFile(mFolder / "19-04-2025.log", sBytes));
  };
  ASSERT_TRUE(ImportInto(mFolder / "clean.db", sClean));
  const std::vector<Rows> vClean = Stored(mFolder / "clean.db");
  ASSERT_EQ(vClean[2].size(), 1u);

  std::string sDB = mFolder / "spoilt.db";
  for (size_t nAt = 0; nAt <= sClean.size(); ++nAt) {
    SCOPED_TRACE("byte put at " + std::to_string(nAt));
    std::string sBytes = sClean;
    sBytes.insert(nAt, "\xFF");
    // The line whose text the byte lands in; none between CR and LF or at the end.
    size_t nLine = vLines.size();
    for (size_t n = 0, nStart = 0; n < vLines.size(); nStart += vLines[n++].size() + 2) {
      if (nAt >= nStart && nAt <= nStart + vLines[n].size()) nLine = n;
    }
    bool bDone = ImportInto(sDB, sBytes);
    std::vector<std::string> vBoxes = NewBoxes();
    EXPECT_EQ(IntegrityCheck(sDB), "ok");
    EXPECT_TRUE(IsValidUtf8(Dump(sDB)));
    const std::string& sRejects = mpService->UncategorisedLines();
    EXPECT_TRUE(IsValidUtf8(sRejects));
    if (nLine == 0) {
      EXPECT_FALSE(bDone);
      ASSERT_EQ(vBoxes.size(), 1u);
      EXPECT_NE(vBoxes[0].find("No date line in "), std::string::npos);
      EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM DateRange"), "1");
      continue;
    }
    ASSERT_TRUE(bDone);
    std::vector<Rows> vStored = Stored(sDB);
    for (size_t nQuery = 0; nQuery < vQueries.size(); ++nQuery) {
      if (nQuery != nLine) {
        EXPECT_EQ(vStored[nQuery], vClean[nQuery]) << vQueries[nQuery];
      }
    }
    if (nLine == vLines.size()) {
      EXPECT_EQ(sRejects, "\r\n\xC3\xBF");  // the byte alone, an item of its own
      continue;
    }
    for (const auto& field : vFields) {
      size_t nStart = sClean.find(field.sText);
      if (field.nLine != nLine || nAt < nStart + field.nFrom || nAt > nStart + field.sText.size()) continue;
      std::string sExpected = field.sText;
      sExpected.insert(nAt - nStart, "\xC3\xBF");
      ASSERT_EQ(vStored[nLine].size(), 1u) << field.sText;
      EXPECT_EQ(vStored[nLine][0][field.nColumn], sExpected);
    }
    // A session or shift line that stored nothing was set aside or reported, never lost unseen.
    if (nLine != 3 && vStored[nLine].empty()) {
      EXPECT_TRUE(sRejects.find("\xC3\xBF") != std::string::npos || !vBoxes.empty()) << sRejects;
    }
  }
}

}  // namespace
}  // namespace varn::test
