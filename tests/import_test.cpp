// Whole log files imported into real report databases through the service and the command
// line, the history of imported dates, the check of a log file against it, and deletion.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

#include "tests/TestSupport.h"

namespace varn::test {
namespace {

const std::string kSession = "\"PC01,08:10,08:40,0:30|2.00|Guest:1.50,3.50\"";

class ImportTest : public ::testing::Test {
 protected:
  void TearDown() override { gobjLogAnalysis.reset(); }
  std::string Log(const std::string& sName, const Texts& vLines) { return WriteFile(mFolder / sName, LogText(vLines)); }
  // A short day of one shift and one session with goods.
  std::string ShortDay(const std::string& sName, const std::string& sDate) {
    return Log(sName, {"#" + sDate + "#", ">> " + sDate + " 08:00:00 Sign On: Ann", kSession});
  }
  std::string DayLog() { return WriteFile(mFolder / "03-02-2025.log", ReadFile(DataFile("day-03-02-2025.log"))); }
  const clsRecordingUI::Box& LastBox() const { return mpScreen->mvBoxes.back(); }
  size_t Boxes() const { return mpScreen->mvBoxes.size(); }

  TempFolder mFolder;
  std::string msDB = mFolder / "varnrpt.mdb";
  std::shared_ptr<clsRecordingUI> mpScreen = UseRecordingUI();
  std::shared_ptr<clsLogAnalysis> mpService = OpenService(msDB);
};

TEST_F(ImportTest, RealisticDayIsStoredRowByRowAndTheNextDayContinuesTheKeysAfterAGap) {
  SqlExec(msDB, "INSERT INTO User (User_ID, UserName) VALUES (10, 'MEMBER')");
  mpService = OpenService(msDB);
  ASSERT_TRUE(mpService->ProcessLogFile(DayLog()));
  EXPECT_EQ(mpService->LastDate_ID(), 1);
  // Keys start one above the gap left after the highest stored key; the unquoted PC04 line
  // fails to set up but still uses its key (5). Known users keep their key whatever the case.
  EXPECT_EQ(DifferenceFromFile(Dump(msDB, false), "day-03-02-2025.expected"), "");
  // A quoted line with commas stays one item; an unquoted one falls apart into several.
  EXPECT_EQ(mpService->UncategorisedLines(), "\r\nTill drawer jammed\r\nfixed\r\n09:15\r\n10:00\r\n0:45");
  // The broken PC04 session is reported once, where its conversion failed, nothing else.
  ASSERT_EQ(Boxes(), 1u);
  EXPECT_NE(mpScreen->mvBoxes[0].sPrompt.find("clsItemSession:msConvertToNewFormat"), std::string::npos);
  EXPECT_NE(mpScreen->mvBoxes[0].sPrompt.find("(03-02-2025.log, line 8: PC04)"), std::string::npos);
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
  EXPECT_EQ(mpScreen->msngHighestValue, 18);  // every non-blank item counted
  EXPECT_EQ(mpScreen->mlEvents, 18);          // and the host's windows given their turn after each

  ASSERT_TRUE(mpService->ProcessLogFile(ShortDay("04-02-2025.log", "04/02/2025")));
  EXPECT_EQ(mpService->LastDate_ID(), 2);
  EXPECT_EQ(SqlRows(msDB, "SELECT Date_ID, LogDate, DateTotal FROM DateRange WHERE LogDate='04/02/2025'"),
            (Rows{{"2", "04/02/2025", "3.5"}}));
  EXPECT_EQ(SqlValue(msDB, "SELECT Session_ID FROM Session WHERE Date_ID=2"), "10");
  EXPECT_EQ(SqlValue(msDB, "SELECT Shift_ID FROM Shift WHERE Date_ID=2"), "7");
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM User WHERE UserName='Guest'"), "1");
}

TEST_F(ImportTest, SecondImportAsksBeforeReadingAndUpdatesInPlaceOrLeavesAlone) {
  std::string sLog = DayLog();
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  std::string sFirst = Dump(msDB);
  size_t nBoxes = Boxes();
  mpScreen->AnswerNext(vbNo);
  EXPECT_FALSE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuUnspecified);
  ASSERT_EQ(Boxes(), nBoxes + 1);  // the question only: the file was not read
  EXPECT_EQ(LastBox().sPrompt, "Records are already imported.\r\nDo you wish to update?");
  EXPECT_EQ(std::to_string(LastBox().nStyle) + " " + LastBox().sTitle, "36 Varn Log Process");
  EXPECT_EQ(Dump(msDB), sFirst);

  // The operator corrected a total and the log gained a late session.
  std::string sText = ReadFile(sLog);
  sText.replace(sText.find("Staff:0.00,1.00"), 15, "Staff:0.00,9.00");
  sText.replace(sText.find("End Total"), 0, "\"PC09,22:10,22:40,0:30|1.00|Late:1.00,2.00\"\r\n");
  WriteFile(sLog, sText);
  mpScreen->AnswerNext(vbYes);
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(mpService->WhatDBAction(), enuUpdate);
  // Keys are kept and session 8 holds the new total. Lines without a stored row are numbered
  // like a first import from the highest stored key plus two: the broken PC04 line uses 10, the
  // new line takes 11 (with its goods).
  EXPECT_EQ(DifferenceFromFile(Dump(msDB, false), "day-03-02-2025-updated.expected"), "");

  // A file named by no date is a first import, asked nothing; its own date line is stored.
  nBoxes = Boxes();
  EXPECT_TRUE(mpService->ProcessLogFile(ShortDay("shop.log", "13/05/2003")));
  EXPECT_EQ(mpService->WhatDBAction(), enuInsert);
  EXPECT_EQ(Boxes(), nBoxes);
  EXPECT_TRUE(mpService->IsAlreadyImported("13/05/2003"));
}

TEST_F(ImportTest, FailedWriteOrReadLeavesTheDatabaseAsItWas) {
  std::string sLog = DayLog();
  // A refused late shift, an update refused, a user that cannot be stored (a session must
  // never lose its user): each stops the file with the database as it was.
  using Case = std::pair<std::string, bool>;  // the trigger, and whether the date was imported before
  for (const auto& [sTrigger, bImportedBefore] :
       {Case{"BEFORE INSERT ON User", false}, Case{"BEFORE INSERT ON Shift WHEN NEW.LineNo > 15", false},
        Case{"BEFORE UPDATE ON Shift", true}}) {
    SCOPED_TRACE(sTrigger);
    ASSERT_TRUE(!bImportedBefore || OpenService(msDB)->ProcessLogFile(sLog));
    SqlExec(msDB, "CREATE TRIGGER refuse " + sTrigger + " BEGIN SELECT RAISE(ABORT, 'refused'); END");
    mpService = OpenService(msDB);
    std::string sBefore = Dump(msDB);
    if (bImportedBefore) mpScreen->AnswerNext(vbYes);
    EXPECT_FALSE(mpService->ProcessLogFile(sLog));
    EXPECT_EQ(mpService->WhatDBAction(), enuUnspecified);
    // No date, no users, no goods columns: the new date left nothing behind.
    EXPECT_EQ(FirstDifference(Dump(msDB), sBefore), "");
    EXPECT_EQ(mpService->HistoryLogDates()->Count(), bImportedBefore ? 1 : 0);
    EXPECT_NE(LastBox().sPrompt.find("refused"), std::string::npos);
    SqlExec(msDB, "DROP TRIGGER refuse");
  }

  Texts vLines{"#05/02/2025#"};
  vLines.resize(32800, "note");
  std::string sBefore = Dump(msDB);
  size_t nBoxes = Boxes();
  EXPECT_FALSE(mpService->ProcessLogFile(Log("05-02-2025.log", vLines)));
  EXPECT_EQ(Dump(msDB), sBefore);
  ASSERT_EQ(Boxes(), nBoxes + 1);  // refused once counted, before anything is read
  EXPECT_EQ(LastBox().sPrompt,
            "6\r\n01/clsLogAnalysis:mbProcessFile\r\nThe log 05-02-2025.log has 32,800 items; one "
            "import takes at most 32,767.");
  // After all those failures the same service still commits its next day, for every other reader to see.
  ASSERT_TRUE(mpService->ProcessLogFile(Log("08-02-2025.log", {"#08/02/2025#", kSession})));
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM DateRange WHERE LogDate = '08/02/2025'"), "1");
}

TEST_F(ImportTest, DayTotalBeforeTheDateLineAndFilesWithoutADateOrService) {
  ASSERT_TRUE(mpService->ProcessLogFile(Log("06-02-2025.log", {"End Total 12.50", "#06/02/2025#", kSession})));
  EXPECT_EQ(SqlRows(msDB, "SELECT Date_ID, LogDate, DateTotal FROM DateRange"), (Rows{{"1", "06/02/2025", "12.5"}}));
  std::string sBefore = Dump(msDB);
  size_t nBoxes = Boxes();
  EXPECT_FALSE(mpService->ProcessLogFile(Log("07-02-2025.log", {kSession})));
  EXPECT_FALSE(mpService->ProcessLogFile(WriteFile(mFolder / "08-02-2025.log", "")));
  EXPECT_EQ(Dump(msDB), sBefore);
  ASSERT_EQ(Boxes(), nBoxes + 2);
  EXPECT_NE(mpScreen->mvBoxes[nBoxes].sPrompt.find("No date line in " + mFolder / "07-02-2025.log"), std::string::npos);
  EXPECT_FALSE(mpService->ProcessLogFile(mFolder / "09-02-2025.log"));  // missing: nothing to report
  EXPECT_EQ(Boxes(), nBoxes + 2);

  // Without Initialize, or without a connection, nothing is imported.
  auto pFresh = clsLogAnalysis::Create();
  EXPECT_FALSE(pFresh->ProcessLogFile(DayLog()));
  EXPECT_EQ(LastBox().sPrompt.rfind("91\r\n00/clsLogAnalysis:ProcessLogFile\r\n", 0), 0u);
  auto pUnconnected = OpenService(mFolder / "missing-folder/varnrpt.mdb");
  EXPECT_FALSE(pUnconnected->IsConnected());
  EXPECT_FALSE(pUnconnected->ProcessLogFile(mFolder / "03-02-2025.log"));
  EXPECT_EQ(LastBox().sPrompt + ", style " + std::to_string(LastBox().nStyle), "Not connected, style 16");
}

TEST_F(ImportTest, DeletingADateRemovesAllItsRowsAndTheHistoryLoadsWhatIsStored) {
  ASSERT_TRUE(mpService->ProcessLogFile(ShortDay("24-12-2003.log", "24/12/2003")));
  ASSERT_TRUE(mpService->ProcessLogFile(ShortDay("25-12-2003.log", "25/12/2003")));
  std::string sKept = SqlValue(msDB, "SELECT Date_ID FROM DateRange WHERE LogDate='24/12/2003'");
  EXPECT_FALSE(mpService->DeleteLogDate("26.12.2003"));
  EXPECT_EQ(LastBox().sPrompt.rfind("5\r\n01/clsLogAnalysis:DeleteLogDate\r\n", 0), 0u);
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM Session"), "2");
  EXPECT_TRUE(mpService->DeleteLogDate("25.12.2003"));
  for (std::string sTable : {"DateRange", "Session", "Shift", "Goods"})
    EXPECT_EQ(SqlRows(msDB, "SELECT DISTINCT Date_ID FROM " + sTable), Rows{{sKept}}) << sTable;
  // The history follows the table at once: the deleted date is imported afresh, not "updated".
  EXPECT_FALSE(mpService->IsAlreadyImported("25/12/2003"));
  EXPECT_TRUE(mpService->DeleteLogDate("24/12/2003"));
  EXPECT_EQ(SqlValue(msDB, "SELECT COUNT(*) FROM Goods"), "0");
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 0);

  // The history loads every stored date in database order, none from before.
  EXPECT_FALSE(mpService->IsAlreadyImported("12-05-2003"));
  SqlExec(msDB,
          "INSERT INTO DateRange VALUES (2, '12/05/2003', 99.5, '13/05/2003 09:15:00'), (7, '01/01/2004', 0, "
          "'02/01/2004'), (5, '31/12/1999', 12.25, '01/01/2000 00:00:01')");
  mpService = OpenService(msDB);
  EXPECT_EQ(mpScreen->MousePointer(), vbDefault);
  auto pHistory = mpService->HistoryLogDates();
  std::vector<int32_t> vKeys;
  for (const auto& pItem : *pHistory) vKeys.push_back(pItem->Date_ID());
  EXPECT_EQ(vKeys, (std::vector<int32_t>{2, 5, 7}));
  EXPECT_EQ(pHistory->Item("31/12/1999")->DateTotal(), 12.25);
  EXPECT_EQ(CStr(pHistory->Item("12/05/2003")->ImportedDate()), "13/05/2003 09:15:00");

  std::string sImported;
  EXPECT_TRUE(mpService->IsAlreadyImported("12-05-2003", &sImported));
  EXPECT_EQ(sImported, "13/05/2003 09:15:00");
  EXPECT_EQ(FormatDate(mpService->MatchedLogDate(), "dd/mm/yyyy"), "12/05/2003");
  EXPECT_TRUE(mpService->IsAlreadyImported("1.1.04", &sImported));
  EXPECT_EQ(sImported, "02/01/2004");
  // Names that are no date, or a date not imported, are simply not found: no report.
  for (const char* sName : {"notes", "", "13-05-2003", "31/02/2003"}) EXPECT_FALSE(mpService->IsAlreadyImported(sName));
  EXPECT_EQ(Boxes(), 1u);  // the failed deletion's only

  // Two rows of one date stop the loading with a report; the rows before it stay loaded.
  SqlExec(msDB, "INSERT INTO DateRange VALUES (9, '12/05/2003', 1, '14/05/2003')");
  mpService = OpenService(msDB);
  EXPECT_EQ(mpService->HistoryLogDates()->Count(), 3);
  EXPECT_EQ(LastBox().sPrompt.rfind("457\r\n11/clsLogAnalysis:GetHistoryDates\r\n", 0), 0u);
}

// The shop's program appending to the log as soon as the progress window first shows.
class AppendingScreen : public clsRecordingUI {
 public:
  void DrawProgress(const ProgressView& view) override {
    if (view.bVisible && !msPath.empty()) {
      WriteFile(msPath, ReadFile(msPath) + msMore);
      msPath.clear();
    }
    clsRecordingUI::DrawProgress(view);
  }
  std::string msPath, msMore;
};

TEST_F(ImportTest, TheLogIsReadOnceAsItWasWhenTheImportBegan) {
  auto pScreen = std::make_shared<AppendingScreen>();
  SetScreen(pScreen);
  pScreen->msPath = Log("12-02-2025.log", {"#12/02/2025#", kSession, "Lost", kSession});
  pScreen->msMore = LogText({kSession, "Late", ">> 12.02.2025 23:00:00 Sign On: Ann"});
  ASSERT_TRUE(mpService->ProcessLogFile(mFolder / "12-02-2025.log")) << pScreen->mvBoxes.at(0).sPrompt;
  EXPECT_TRUE(pScreen->msPath.empty()) << "the log was not appended to";
  // Counted, read and stored: the four items that were there when the import began.
  EXPECT_EQ(pScreen->mvProgress.front().sngMax, 4);
  EXPECT_EQ(pScreen->msngHighestValue, 4);
  EXPECT_EQ(SqlRows(msDB, "SELECT COUNT(*), SUM(Total) FROM Session UNION ALL SELECT COUNT(*), 0 FROM Shift"),
            (Rows{{"2", "7.0"}, {"0", "0"}}));
  EXPECT_EQ(mpService->UncategorisedLines(), "\r\nLost");
}

// A log of one 50 MB line is held about three times at most: its text, the item, the line kept aside.
// AddressSanitizer holds freed memory back for its checks, so there the peak tells nothing.
#if defined(__SANITIZE_ADDRESS__)
#define VARN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARN_ASAN 1
#endif
#endif
TEST_F(ImportTest, PeakMemoryOfALongLineStaysWithinThreeTimesTheFile) {
#ifdef VARN_ASAN
  GTEST_SKIP() << "peak memory under AddressSanitizer";
#endif
  constexpr long lSize = 50L << 20;
  std::string sLog = WriteFile(mFolder / "13-02-2025.log", "#13/02/2025#\r\n" + std::string(lSize, 'x'));
  EXPECT_EQ(Unexpected(RunVarnlog({"--db", msDB, "import", "--rejects", mFolder / "rejects.txt", sLog}), 0), "");
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss * 1024L, 3 * lSize + (16L << 20)) << "peak resident set, bytes";
  EXPECT_EQ(std::filesystem::file_size(mFolder / "rejects.txt"), lSize + 17u);
}

TEST_F(ImportTest, EveryLineThatIsNotStoredIsShownWithItsFileLineAndReason) {
  // A line of a known kind that cannot be read, the number of its one report, and its line number.
  const std::tuple<std::string, int, int> kCases[] = {
      {"\"PC07,10:00,10:30,0:30|1.00|Guest 1.50,3.00\"", 13, 3},  // no colon in the user group
      {"\"PC08,10:00,10:30,0:30|1.00| :1.50,3.00\"", 13, 4},      // no name before it
      {"PC09,10:00,10:30", 9, 5},                                 // unquoted: split at its commas
      {"\"PC10,10:00,10:30,0:30|" + std::string(400, '9') + "|Guest:1.50,3.00\"", 6, 8},
      {">> 14.02.2025 08:00:00", 9, 9},  // no label
      {">> 14.02.2025 25:99:00 Sign On: Ann", 13, 10},
      {"<< later Sign Off: Ann", 13, 11}};
  // A charge and a total that cannot be read count as 0: that session is stored.
  Texts vLines{"#14/02/2025#", "\"PC11,10:00,10:30,0:30|1.00|Guest:x,y\""};
  for (const auto& c : kCases) vLines.push_back(std::get<0>(c));
  std::string sLog = Log("14-02-2025.log", vLines);
  ASSERT_TRUE(mpService->ProcessLogFile(sLog));
  EXPECT_EQ(SqlRows(msDB, "SELECT LineNo, UserCharge, Total FROM Session UNION ALL SELECT LineNo, 0, 0 FROM Shift"),
            (Rows{{"2", "0.0", "0.0"}}));
  EXPECT_EQ(mpService->UncategorisedLines(), "\r\n10:00\r\n10:30");
  ASSERT_EQ(Boxes(), std::size(kCases));
  ASSERT_EQ(mpService->UnreadableLines().size(), std::size(kCases));
  for (size_t n = 0; n < std::size(kCases); ++n) {
    const auto& [sLine, nNumber, nLineNo] = kCases[n];
    // A quoted line loses its quotes; an unquoted one falls apart at its commas. Its report is cut short.
    std::string sText = sLine[0] == '"' ? Replace(sLine, "\"", "") : sLine.substr(0, sLine.find(','));
    const std::string& sBox = mpScreen->mvBoxes[n].sPrompt;
    EXPECT_EQ(sBox.rfind(std::to_string(nNumber) + "\r\n", 0), 0u) << sBox;
    EXPECT_NE(sBox.find("14-02-2025.log, line " + std::to_string(nLineNo) + ": " + sText.substr(0, 60)),
              std::string::npos)
        << sBox;
    EXPECT_LT(sBox.size(), 200u);
    // The host's list beside the uncategorised lines: where, the whole line, and the report's number.
    const UnreadableLine& line = mpService->UnreadableLines().at(n);
    EXPECT_EQ(std::tie(line.sFile, line.lLineNo, line.sText), std::tie(sLog, nLineNo, sText));
    EXPECT_EQ(line.sReason.rfind(std::to_string(nNumber) + " ", 0), 0u) << line.sReason;
  }

  // The command line counts them, lists them, and writes them whole to the rejects file with their reason.
  std::string sRejects = mFolder / "rejects.txt";
  RunResult result = RunVarnlog({"--db", mFolder / "cli.mdb", "import", "--rejects", sRejects, sLog});
  for (const char* sPart : {"(1 sessions, 0 shifts, day total 0, 2 uncategorised lines, 7 unreadable lines)",
                            "1 inserted, 0 updated, 0 skipped, 0 failed; 2 uncategorised, 7 unreadable lines",
                            "(14-02-2025.log, line 11: << later Sign Off: Ann)"})
    EXPECT_EQ(Unexpected(result, 0, sPart), "");
  for (const auto& [sLine, nNumber, nLineNo] : kCases) {
    std::string sEntry = "line " + std::to_string(nLineNo) + " unreadable (" + std::to_string(nNumber) + " ";
    EXPECT_NE(ReadFile(sRejects).find("14-02-2025.log: " + sEntry), std::string::npos) << sEntry;
  }
  EXPECT_NE(ReadFile(sRejects).find(std::string(400, '9')), std::string::npos) << "written whole";
}

TEST_F(ImportTest, AnUpdateLeavesTheDayAsAFirstImportOfItsLogWould) {
  EXPECT_EQ(UpdatesAgainstFirstImports(msDB, mFolder / "fresh.mdb", mFolder.Path().string()), "");

  // Lines before the date line belong to the day: stored under its key, found again by an
  // update, deleted with it. The per-file line says what an update removed.
  std::string sDB = mFolder / "shop.mdb";
  Texts vLines{kSession, ">> 20.03.2025 07:00:00 Sign On: Ann", "#20/03/2025#", kSession, kSession};
  std::string sLog = Log("20-03-2025.log", vLines);
  EXPECT_EQ(RunVarnlog({"--db", sDB, "import", sLog}).nExit, 0);
  vLines.erase(vLines.begin() + 3);
  Log("20-03-2025.log", vLines);
  EXPECT_EQ(Unexpected(RunVarnlog({"--db", sDB, "import", "--yes", sLog}), 0,
                       "updated 20/03/2025 (2 sessions, 1 shifts, day total 7, 0 uncategorised lines, 0 unreadable "
                       "lines, removed 1 sessions and 0 shifts no longer in the log)"),
            "");
  EXPECT_EQ(SqlRows(sDB, "SELECT Date_ID, COUNT(*) FROM Session GROUP BY Date_ID"), (Rows{{"1", "2"}}));
  EXPECT_EQ(SqlRows(sDB, "SELECT Date_ID, LineNo FROM Shift"), (Rows{{"1", "2"}}));
  EXPECT_EQ(Unexpected(RunVarnlog({"--db", sDB, "delete", "--yes", "20/03/2025"}), 0,
                       "Deleted 20/03/2025 with its 2 sessions, 1 shifts and 2 goods rows"),
            "");
  EXPECT_EQ(SqlValue(sDB,
                     "SELECT (SELECT COUNT(*) FROM Session) + (SELECT COUNT(*) FROM Shift) + "
                     "(SELECT COUNT(*) FROM Goods) + (SELECT COUNT(*) FROM DateRange)"),
            "0");
}

// The first date line that reads as a date must name the day the file is named after, also in
// an update, which is asked first.
TEST_F(ImportTest, ALogDatedAnotherDayThanItsNameIsRefused) {
  ASSERT_TRUE(mpService->ProcessLogFile(ShortDay("26-12-2003.log", "26/12/2003")));
  using Case = std::tuple<std::string, Texts, std::string>;  // the file, its date lines, the day stored or ""
  const Case kCases[] = {
      {"25-12-2003.log", {"#26/12/2003#"}, ""},
      {"25-12-2003.log", {"#27/12/2003#"}, ""},
      {"26-12-2003.log", {"#24/12/2003#"}, ""},
      {"25-12-2003.log", {"#not a date#", "#25/12/03#", "#26/12/2003#"}, "25/12/2003"},
      {"shop.log", {"#28/12/2003#"}, "28/12/2003"},
  };
  for (const auto& [sName, vDates, sStored] : kCases) {
    SCOPED_TRACE(sName + " " + vDates[0]);
    std::string sBefore = Dump(msDB), sNamed = Replace(sName.substr(0, 10), "-", "/");
    if (sName == "26-12-2003.log") mpScreen->AnswerNext(vbYes);
    EXPECT_EQ(mpService->ProcessLogFile(WriteFile(mFolder / sName, LogText(vDates) + kSession + "\r\n")),
              !sStored.empty());
    EXPECT_TRUE(sStored.empty() ? Dump(msDB) == sBefore : mpService->IsAlreadyImported(sStored));
    if (!sStored.empty()) continue;
    EXPECT_NE(LastBox().sPrompt.find("The log " + sName + " is dated " + vDates[0].substr(1, 10) + ", not " + sNamed +
                                     ": nothing of it was imported."),
              std::string::npos)
        << LastBox().sPrompt;
  }
}

// The command line as the operator runs it, without a terminal.
TEST_F(ImportTest, CommandLine) {
  std::filesystem::create_directory(mFolder / "logs");
  for (std::string sDay : {"10-02-2025", "02-03-2025", "11-02-2025"})
    Log("logs/" + sDay + ".log", {"#" + sDay.substr(0, 2) + "/" + sDay.substr(3, 2) + "/2025#", kSession, "Lost"});
  WriteFile(mFolder / "logs/readme.txt", "not a log");
  std::string sDB = mFolder / "shop.mdb", sRejects = mFolder / "rejects.txt";
  using Step = std::tuple<Texts, int, std::string>;  // the arguments, the exit status, a part of the output
  auto Run = [&](const std::vector<Step>& vSteps) {
    for (const auto& [vArguments, nExit, sOutput] : vSteps) {
      Texts vAll{"--db", sDB};
      vAll.insert(vAll.end(), vArguments.begin(), vArguments.end());
      EXPECT_EQ(Unexpected(RunVarnlog(vAll), nExit, sOutput), "") << vArguments[0];
    }
  };
  Run({{{"status"}, 1, "no report database at " + sDB},
       {{"init"}, 0, "Created the report database " + sDB},
       {{"init"}, 0, "Left as it is: the existing report database"},
       {{"history"}, 0, "No log dates imported yet.\n"},
       // Only files named by a date, in date order; without a terminal an update is declined.
       {{"import", "--rejects", sRejects, mFolder / "logs"}, 0, "3 inserted, 0 updated, 0 skipped, 0 failed"},
       {{"import", mFolder / "logs/10-02-2025.log"}, 0, "skipped (already imported, not updated)"},
       {{"import", "--yes", mFolder / "logs/11-02-2025.log"}, 0, "updated 11/02/2025 (1 sessions, 0 shifts"},
       {{"import", "--no", mFolder / "logs/11-02-2025.log", mFolder / "logs/31-12-2025.log"}, 1, "1 skipped, 1 failed"},
       {{"status"}, 0, "  Session           3 rows\n  Goods             3 rows"},
       {{"import"}, 2, ""},
       {{"frobnicate"}, 2, ""},
       {{"delete"}, 2, ""},
       {{"--version"}, 0, "varnlog 2.1.0"}});
  EXPECT_EQ(SqlRows(sDB, "SELECT LogDate FROM DateRange ORDER BY Date_ID"),
            (Rows{{"10/02/2025"}, {"11/02/2025"}, {"02/03/2025"}}));
  EXPECT_EQ(ReadFile(sRejects), "10-02-2025.log: Lost\n11-02-2025.log: Lost\n02-03-2025.log: Lost\n");

  // Dates stored by hand, one of them twice, in place of the imports.
  SqlExec(sDB,
          "DELETE FROM DateRange; DELETE FROM Session; INSERT INTO DateRange VALUES (3, '25/12/2003', 364.95, "
          "'26/12/2003 09:15:00'), (4, '24/12/2003', 10, '26/12/2003 09:00:00'), (8, '24/12/2003', 11, "
          "'27/12/2003 09:00:00'); INSERT INTO Session (Session_ID, Date_ID, LineNo) VALUES (5, 3, 2)");
  // Every row is listed in date order, the duplicate date too, so it can be seen and removed.
  std::string sCsv =
      "log_date,imported_on,day_total,date_id\n24/12/2003,26/12/2003 09:00:00,10,4\n"
      "24/12/2003,27/12/2003 09:00:00,11,8\n25/12/2003,26/12/2003 09:15:00,364.95,3\n";
  Run({{{"history", "--csv"}, 0, sCsv}, {{"history"}, 0, "25/12/2003   26/12/2003 09:15:00"}});
  SqlExec(sDB, "DELETE FROM DateRange WHERE Date_ID=8");
  Run({{{"check", "/any/25-12-2003.log"}, 0, "25-12-2003.log: 25/12/2003 already imported on 26/12/2003 09:15:00\n"},
       {{"check", "26-12-2003.log"}, 0, "26-12-2003.log: 26/12/2003 not imported yet\n"},
       {{"check", "shop.log"}, 0, "shop.log: not named by a date"},
       {{"delete", "25.12.2003"}, 1, "25/12/2003: not deleted"}});  // nobody to confirm it
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Session"), "1");
  Run({{{"delete", "--yes", "25.12.2003"}, 0, "Deleted 25/12/2003 with its 1 sessions, 0 shifts and 0 goods rows"},
       {{"delete", "--yes", "25.12.2003"}, 1, ""}});
  EXPECT_EQ(SqlRows(sDB, "SELECT Date_ID FROM DateRange UNION ALL SELECT Date_ID FROM Session"), (Rows{{"4"}}));
}

}  // namespace
}  // namespace varn::test
