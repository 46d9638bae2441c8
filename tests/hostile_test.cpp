// Log files no shop program would write: garbage, NUL bytes, endless lines, broken encoding,
// quotes that never close, too many items, impossible dates and amounts, names written to
// break SQL. None may crash, hang or damage the database: each is imported as the log format
// says, or refused with a clear report and nothing written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "service/clsLogAnalysis.h"
#include "tests/TestSupport.h"

namespace varn::test {
namespace {

// Checked without the component's own decoder, so that a fault there cannot hide itself.
bool IsValidUtf8(const std::string& s) {
  for (size_t n = 0, nLength = 0; n < s.size(); n += nLength) {
    auto c = static_cast<unsigned char>(s[n]);
    nLength = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (nLength == 0 || n + nLength > s.size()) return false;
    for (size_t k = 1; k < nLength; ++k) {
      if ((static_cast<unsigned char>(s[n + k]) & 0xC0) != 0x80) return false;
    }
  }
  return true;
}

// The same bytes on every machine (the standard fixes the generator's output), with the bytes
// that start the log's kinds of line moved aside, so that every item of it is uncategorised.
std::string Garbage(size_t nBytes) {
  std::mt19937 engine(14);
  std::string sBytes(nBytes, '\0');
  for (char& c : sBytes) {
    c = static_cast<char>(engine() & 0xFF);
    if (c == 'P' || c == '<' || c == '>' || c == '#' || c == 'E') c = '_';
  }
  return sBytes;
}

// A text for the expected file: CRLF as '⏎', a run of one character or one line as its count.
std::string Shown(const std::string& sText) {
  Texts vLines;
  for (size_t nAt = 0, nEnd = 0; nEnd != std::string::npos; nAt = nEnd + 2) {
    nEnd = sText.find("\r\n", nAt);
    vLines.push_back(sText.substr(nAt, nEnd - nAt));
  }
  std::string sShown;
  for (size_t n = 0, nSame = 1; n < vLines.size(); n += nSame) {
    for (nSame = 1; n + nSame < vLines.size() && vLines[n + nSame] == vLines[n];) ++nSame;
    sShown += n > 0 ? "⏎" : "";
    for (size_t k = 0, nRun = 1; k < vLines[n].size(); k += nRun) {
      for (nRun = 1; k + nRun < vLines[n].size() && vLines[n][k + nRun] == vLines[n][k];) ++nRun;
      sShown += nRun < 8 ? vLines[n].substr(k, nRun) : vLines[n][k] + ("{×" + std::to_string(nRun) + "}");
    }
    if (nSame > 1) sShown += "{×" + std::to_string(nSame) + " lines}";
  }
  return sShown;
}

// The cases' notation as bytes: ␀ is NUL, "c{×N}" N times c, a line ending "{×N lines}" N such lines.
Texts Expanded(const std::string& sLine) {
  std::string sBytes;
  for (size_t n = 0; n < sLine.size(); ++n) {
    if (sLine.compare(n, 3, "␀") == 0) {
      sBytes += '\0';
      n += 2;
    } else if (sLine.compare(n, 3, "{×") == 0) {
      size_t nCount = std::stoul(sLine.substr(n + 3)), nEnd = sLine.find('}', n);
      if (sLine.compare(nEnd - 5, 5, "lines") == 0) return Texts(nCount, sBytes);
      sBytes.append(nCount - 1, sBytes.back());
      n = nEnd;
    } else {
      sBytes += sLine[n];
    }
  }
  return {sBytes};
}

class HostileLog : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(300);  // a hang fails the test instead of stalling the suite
    mpScreen = UseRecordingUI();
    Open(msDB);
    // An earlier day, so that "nothing written" is more than an empty database.
    ASSERT_TRUE(Import("01-04-2025.log", GeneratedDay("01/04/2025", 20)));
    NewBoxes();
    msEarlier = Day("01/04/2025");
  }
  void TearDown() override {
    EXPECT_EQ(Day("01/04/2025"), msEarlier);  // nothing else was touched
    mpService.reset();
    gobjLogAnalysis.reset();
    alarm(0);
    EXPECT_EQ(SqlValue(msDB, "PRAGMA integrity_check"), "ok");  // whatever a log held
  }
  void Open(const std::string& sDB) {
    mpService = clsLogAnalysis::Create();
    mpService->Initialize(sDB);
  }
  bool Import(const std::string& sName, const std::string& sBytes) {
    mnRejects = mpService->UncategorisedLines().size();
    return mpService->ProcessLogFile(WriteFile(mFolder / sName, sBytes));
  }
  // The boxes shown since the last call, without the temporary folder in their paths.
  Texts NewBoxes() {
    Texts vPrompts;
    for (; mnBoxes < mpScreen->mvBoxes.size(); ++mnBoxes) {
      std::string sPrompt = mpScreen->mvBoxes[mnBoxes].sPrompt;
      size_t nAt = sPrompt.find(mFolder / "");
      vPrompts.push_back(nAt == std::string::npos ? sPrompt : sPrompt.erase(nAt, mFolder.Path().string().size() + 1));
    }
    return vPrompts;
  }
  std::string NewRejects() const { return mpService->UncategorisedLines().substr(mnRejects); }
  // What an import showed and set aside, and what its day holds.
  std::string Report(const std::string& sFile, bool bImported) {
    std::string sReport = "== " + sFile + (bImported ? " imported\n" : " refused\n"), sDate = sFile;
    for (const auto& sBox : NewBoxes()) sReport += "box: " + Shown(sBox) + "\n";
    std::replace(sDate.begin(), sDate.end(), '-', '/');
    return sReport + "set aside: " + Shown(NewRejects()) + "\n" + Day(sDate);
  }
  // A day's rows, keys left out: its sessions (with their first goods), its shifts and its total.
  std::string Day(const std::string& sDate) const {
    std::string sReport;
    for (const std::string sFrom :
         {"LineNo, PC_No, StartTime, EndTime, TotalTime, TotalGoods, UserName, UserCharge, Total, MemberID, Goods_1, "
          "Goods_2, Goods_3, Goods_4 FROM Session LEFT JOIN User USING (User_ID) LEFT JOIN Goods g USING (Session_ID) "
          "JOIN DateRange d ON d.Date_ID = Session.Date_ID",
          "LineNo, SignOn, SignOff, SignDateTime FROM Shift JOIN DateRange USING (Date_ID)",
          "'total', DateTotal FROM DateRange"}) {
      for (const auto& vRow : SqlRows(msDB, "SELECT " + sFrom + " WHERE LogDate = '" + sDate + "' ORDER BY 1")) {
        for (const auto& sValue : vRow) sReport += Shown(sValue) + (&sValue == &vRow.back() ? "\n" : "|");
      }
    }
    return sReport;
  }

  TempFolder mFolder;
  std::string msDB = mFolder / "shop.db", msEarlier;
  std::shared_ptr<clsRecordingUI> mpScreen;
  std::shared_ptr<clsLogAnalysis> mpService;
  size_t mnBoxes = 0, mnRejects = 0;
};

// Each log of hostile.cases either imports, and then shows, sets aside and stores what the
// format says, or is refused with a report and nothing written: hostile.expected holds which.
TEST_F(HostileLog, HostileLogsAreImportedAsTheFormatSaysOrRefused) {
  std::vector<std::pair<std::string, std::string>> vCases;  // the file's name, its bytes
  std::istringstream in(ReadFile(DataFile("hostile.cases")));
  for (std::string sLine; std::getline(in, sLine);) {
    if (sLine.rfind("== ", 0) == 0) {
      vCases.emplace_back(sLine.substr(3), "");
    } else if (sLine.rfind("//", 0) != 0) {
      for (const auto& sBytes : Expanded(sLine)) vCases.back().second += "\r\n" + sBytes;
    }
  }
  std::string sReport;
  for (const auto& [sFile, sBytes] : vCases) {
    std::string sBefore = Dump(msDB);
    int nDates = mpService->HistoryLogDates()->Count();
    bool bImported = Import(sFile + ".log", sBytes.substr(2));
    sReport += Report(sFile, bImported);
    EXPECT_EQ(mpService->WhatDBAction(), bImported ? enuInsert : enuUnspecified) << sFile;
    if (bImported) continue;
    EXPECT_EQ(FirstDifference(Dump(msDB), sBefore), "") << sFile;
    EXPECT_EQ(mpService->HistoryLogDates()->Count(), nDates) << sFile;
  }
  sReport += "goods columns: " + SqlValue(msDB, "SELECT COUNT(*) FROM pragma_table_info('Goods')") + "\n";
  if (std::getenv("VARN_UPDATE_EXPECTED")) WriteFile(DataFile("hostile.expected"), sReport);
  EXPECT_EQ(FirstDifference(sReport, ReadFile(DataFile("hostile.expected"))), "");
}

// Bytes of every value: alone, a file without a date line; after one, lines set aside.
TEST_F(HostileLog, GarbageIsRefusedOrSetAside) {
  std::string sBefore = Dump(msDB);
  EXPECT_FALSE(Import("12-04-2025.log", Garbage(1 << 20)));
  EXPECT_EQ(NewBoxes(), Texts{"5\r\n14/clsLogAnalysis:mbProcessFile\r\nNo date line in 12-04-2025.log: nothing of it "
                              "was imported."});
  EXPECT_TRUE(IsValidUtf8(NewRejects()));
  EXPECT_EQ(Dump(msDB), sBefore);

  EXPECT_TRUE(Import("09-04-2025.log", "#09/04/2025#\r\n" + Garbage(1 << 20)));
  EXPECT_EQ(NewBoxes(), Texts{});
  // The bytes are not UTF-8, so they were read as the shop's Windows code page.
  EXPECT_GT(NewRejects().size(), 100000u);
  EXPECT_TRUE(IsValidUtf8(NewRejects()));
  EXPECT_EQ(Report("09-04-2025", true), "== 09-04-2025 imported\nset aside: " + Shown(NewRejects()) + "\ntotal|0.0\n");
  // The command line prints such lines without harm.
  RunResult command = RunVarnlog({"--db", mFolder / "other.db", "import", mFolder / "09-04-2025.log"});
  EXPECT_EQ(command.nExit, 0);
  EXPECT_NE(command.sOutput.find("09-04-2025.log: inserted 09/04/2025 (0 sessions, 0 shifts, day total 0, "),
            std::string::npos)
      << command.sOutput.substr(0, 300);
}

// A byte that is never UTF-8, put before each byte of a day's log in turn. The file is then read
// in the shop's Windows code page, where the byte is 'ÿ'. Only the line it lands in changes
// (hostile-utf8.expected): text fields keep it where it stands, a line it spoils is set aside or
// dropped with a report, and only a spoilt date line refuses the file.
TEST_F(HostileLog, InvalidUtf8InEveryPositionStaysInItsOwnLine) {
  const std::string sClean = LogText({"#19/04/2025#", ">> 19.04.2025 08:00:00 Sign On: Olga",
                                      "\"PC01,08:10,08:40,0:30|1.50,2.00|Guest:1.50,5.00,M12\"", "End Total 5.00"});
  std::string sTemplate = WriteFile(mFolder / "template.db", ReadFile(msDB)), sReport;
  for (size_t nAt = 0; nAt <= sClean.size(); ++nAt) {
    std::string sBytes = sClean;
    sBytes.insert(nAt, "\xFF");
    mpService.reset();
    WriteFile(msDB, ReadFile(sTemplate));
    Open(msDB);
    bool bImported = Import("19-04-2025.log", sBytes);
    sReport += "@" + std::to_string(nAt) + " " + Report("19-04-2025", bImported);
    EXPECT_EQ(SqlValue(msDB, "PRAGMA integrity_check"), "ok") << nAt;
    EXPECT_TRUE(IsValidUtf8(Dump(msDB)) && IsValidUtf8(NewRejects())) << nAt;
  }
  if (std::getenv("VARN_UPDATE_EXPECTED")) WriteFile(DataFile("hostile-utf8.expected"), sReport);
  EXPECT_EQ(FirstDifference(sReport, ReadFile(DataFile("hostile-utf8.expected"))), "");
}

}  // namespace
}  // namespace varn::test
