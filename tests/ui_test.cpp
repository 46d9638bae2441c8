// The user-interface layer: the one error report, the trap every procedure ends in, the
// progress window, and the two screens (recording for tests, terminal for the command line).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/TestSupport.h"
#include "ui/ErrorHandling.h"
#include "ui/TerminalUI.h"
#include "ui/frmProgress.h"

namespace varn {
namespace {

// Remembers the pointer the screen showed while each box was up.
class PointerWatchingUI : public clsRecordingUI {
 public:
  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override {
    mvPointerAtBox.push_back(MousePointer());
    return clsRecordingUI::MsgBox(sPrompt, nStyle, sTitle);
  }
  std::vector<int> mvPointerAtBox;
};

std::shared_ptr<PointerWatchingUI> UsePointerWatchingUI() {
  auto pScreen = std::make_shared<PointerWatchingUI>();
  SetScreen(pScreen);
  return pScreen;
}

TEST(ReportError, ShowsNumberLocationAndDetailInOneCriticalBox) {
  struct Case {
    int32_t lNumber;
    std::string sSource, sStep, sCustom, sDescription, sExpected;
  };
  const Case vCases[] = {
      {errDBStatement, "clsConnection:SignOn", "02", "", "Error openning Conetion",
       "-2147217900\r\n02/clsConnection:SignOn\r\nError openning Conetion"},
      // A failure before the first step marker: the location line starts with "/".
      {errInvalidCall, "clsLogAnalysis:mbUpdateDB", "", "", "", "5\r\n/clsLogAnalysis:mbUpdateDB\r\n"},
      {errTypeMismatch, "clsLogAnalysis:mbUpdateDB", "", "", "Type mismatch",
       "13\r\n/clsLogAnalysis:mbUpdateDB\r\nType mismatch"},
      // Blanks are a custom text like any other and hide the description.
      {errOverflow, "clsItemShift:SetUp", "01", "   ", "Overflow", "6\r\n01/clsItemShift:SetUp\r\n   "},
      {errDBUniqueKey, "modMainLog:GetNextID", "1", "no such table: X\r\n\r\nError getting ID for .", "ignored",
       "-2423534\r\n1/modMainLog:GetNextID\r\nno such table: X\r\n\r\nError getting ID for ."},
  };
  for (const Case& c : vCases) {
    auto pScreen = UsePointerWatchingUI();
    pScreen->SetMousePointer(vbHourglass);
    ReportError(c.lNumber, c.sSource, c.sStep, c.sCustom, c.sDescription);
    ASSERT_EQ(pScreen->mvBoxes.size(), 1u) << c.sExpected;
    EXPECT_EQ(pScreen->mvBoxes[0].sPrompt, c.sExpected);
    EXPECT_EQ(pScreen->mvBoxes[0].nStyle, 16);
    EXPECT_EQ(pScreen->mvBoxes[0].sTitle, "Varn Log Process");
    EXPECT_EQ(pScreen->mvPointerAtBox, std::vector<int>{vbDefault}) << c.sExpected;
  }
}

TEST(Trap, ABodyThatFinishesReportsNothing) {
  auto pScreen = test::UseRecordingUI();
  clsTrap trap("clsItemShift:SetUp");
  bool bResult = false;
  EXPECT_TRUE(trap.Run([&] {
    trap.Step("00");
    Screen().SetMousePointer(vbHourglass);
    bResult = true;
  }));
  EXPECT_TRUE(bResult);
  EXPECT_TRUE(pScreen->mvBoxes.empty());
  EXPECT_EQ(trap.LastError().Number(), 0);
  // A working procedure leaves the pointer to its caller on success.
  EXPECT_EQ(pScreen->MousePointer(), vbHourglass);
}

TEST(Trap, AnErrorEndsTheBodyAndIsReportedWithTheStepReached) {
  auto pScreen = UsePointerWatchingUI();
  clsTrap trap("clsConnection:SignOn");
  bool bResult = false;
  bool bLaterStageRan = false;
  bool bRan = trap.Run([&] {
    Screen().SetMousePointer(vbHourglass);
    trap.Step("01");
    trap.Step("02");
    RaiseError(errDBFailure, "unable to open database file");
    bLaterStageRan = true;
    bResult = true;
  });
  EXPECT_FALSE(bRan);
  EXPECT_FALSE(bResult);
  EXPECT_FALSE(bLaterStageRan);
  EXPECT_EQ(trap.CurrentStep(), "02");
  EXPECT_EQ(trap.LastError().Number(), errDBFailure);
  ASSERT_EQ(pScreen->mvBoxes.size(), 1u);
  EXPECT_EQ(pScreen->mvBoxes[0].sPrompt, "-2147467259\r\n02/clsConnection:SignOn\r\nunable to open database file");
  EXPECT_EQ(pScreen->mvBoxes[0].nStyle, vbCritical);
  EXPECT_EQ(pScreen->mvPointerAtBox, std::vector<int>{vbDefault});
  EXPECT_EQ(pScreen->MousePointer(), vbDefault);
}

TEST(Trap, ALibraryExceptionIsReportedAsAnInvalidCallAndMemoryAsItsOwnNumber) {
  auto pScreen = test::UseRecordingUI();
  clsTrap trap("clsItemLogFile:ProcessLine");
  EXPECT_FALSE(trap.Run([&] {
    trap.Step("03");
    throw std::out_of_range("position 12 is past the end");
  }));
  EXPECT_FALSE(trap.Run([&] {
    trap.Step("04");
    throw std::bad_alloc();
  }));
  ASSERT_EQ(pScreen->mvBoxes.size(), 2u);
  EXPECT_EQ(pScreen->mvBoxes[0].sPrompt, "5\r\n03/clsItemLogFile:ProcessLine\r\nposition 12 is past the end");
  EXPECT_EQ(pScreen->mvBoxes[1].sPrompt, "7\r\n04/clsItemLogFile:ProcessLine\r\nOut of memory");
  EXPECT_EQ(trap.LastError().Number(), errOutOfMemory);
}

TEST(Trap, CustomTextIsBuiltFromTheErrorAndAnEmptyOneFallsBackToTheDescription) {
  auto pScreen = test::UseRecordingUI();
  clsTrap trap("modMainLog:GetNextID");
  trap.Custom([](const clsError& err) { return err.Description() + "\r\n\r\nError getting ID for Session.Session_ID"; });
  EXPECT_FALSE(trap.Run([&] {
    trap.Step("08");
    RaiseError(errDBStatement, "no such table: Sessions");
  }));

  clsTrap quiet("modMainLog:GetExistingID");
  quiet.Custom([](const clsError&) { return std::string(); });
  EXPECT_FALSE(quiet.Run([&] {
    quiet.Step("07");
    RaiseError(errDBStatement, "no such column: LineNo");
  }));

  ASSERT_EQ(pScreen->mvBoxes.size(), 2u);
  EXPECT_EQ(pScreen->mvBoxes[0].sPrompt,
            "-2147217900\r\n08/modMainLog:GetNextID\r\nno such table: Sessions\r\n\r\nError getting ID for "
            "Session.Session_ID");
  EXPECT_EQ(pScreen->mvBoxes[1].sPrompt, "-2147217900\r\n07/modMainLog:GetExistingID\r\nno such column: LineNo");
}

TEST(Trap, AHandledErrorShowsNoBoxButOthersAreStillReported) {
  auto pScreen = test::UseRecordingUI();
  std::vector<int32_t> vHandled;
  auto fnMissingKeyOnly = [&](const clsError& err) {
    vHandled.push_back(err.Number());
    return err.Number() == errInvalidCall;
  };

  clsTrap trap("clsLogAnalysis:IsAlreadyImported");
  trap.Handle(fnMissingKeyOnly);
  Screen().SetMousePointer(vbHourglass);
  EXPECT_FALSE(trap.Run([&] {
    trap.Step("03");
    RaiseError(errInvalidCall, "no such key");
  }));
  EXPECT_TRUE(pScreen->mvBoxes.empty());
  EXPECT_EQ(trap.LastError().Number(), errInvalidCall);
  EXPECT_EQ(pScreen->MousePointer(), vbDefault);

  EXPECT_FALSE(trap.Run([&] {
    trap.Step("04");
    RaiseError(errTypeMismatch, "Type mismatch");
  }));
  ASSERT_EQ(pScreen->mvBoxes.size(), 1u);
  EXPECT_EQ(pScreen->mvBoxes[0].sPrompt, "13\r\n04/clsLogAnalysis:IsAlreadyImported\r\nType mismatch");
  EXPECT_EQ(vHandled, (std::vector<int32_t>{errInvalidCall, errTypeMismatch}));
}

// A screen that cannot show anything, such as a host whose window has gone.
class BrokenUI : public clsRecordingUI {
 public:
  int MsgBox(const std::string&, int, const std::string&) override { throw std::runtime_error("no window"); }
};

TEST(Trap, AFailureWhileReportingIsNotRaisedToTheCaller) {
  SetScreen(std::make_shared<BrokenUI>());
  clsTrap trap("clsLogAnalysis:ProcessLogFile");
  bool bRan = true;
  EXPECT_NO_THROW(bRan = trap.Run([&] {
    trap.Step("05");
    RaiseError(errFileNotFound, "File not found");
  }));
  EXPECT_FALSE(bRan);
  EXPECT_EQ(trap.LastError().Number(), errFileNotFound);
}

TEST(Hourglass, ShowsWhileAProcedureRunsAndGoesOnEveryWayOut) {
  auto pScreen = UsePointerWatchingUI();
  {
    clsHourglass hourglass;
    EXPECT_EQ(pScreen->MousePointer(), vbHourglass);
  }
  EXPECT_EQ(pScreen->MousePointer(), vbDefault);

  clsTrap trap("clsLogAnalysis:GetHistoryDates");
  int nPointerInside = vbDefault;
  trap.Run([&] {
    clsHourglass hourglass;
    nPointerInside = pScreen->MousePointer();
    trap.Step("03");
    RaiseError(errObjectNotSet, "Object variable or With block variable not set");
  });
  EXPECT_EQ(nPointerInside, vbHourglass);
  EXPECT_EQ(pScreen->mvPointerAtBox, std::vector<int>{vbDefault});
  EXPECT_EQ(pScreen->MousePointer(), vbDefault);
}

TEST(Progress, StartsHiddenWithItsCaptionAndDrawsNothingUntilShown) {
  auto pScreen = test::UseRecordingUI();
  frmProgress progress;
  EXPECT_EQ(progress.View().sCaption, " Please Wait...");
  EXPECT_EQ(progress.View().sNote, "Please wait...");
  EXPECT_FALSE(progress.View().bVisible);
  progress.Initilise(10, "/logs/25-12-2003.log");
  progress.UpdateProgress(3);
  progress.Hide();
  EXPECT_TRUE(pScreen->mvProgress.empty());
}

TEST(Progress, InitiliseNamesTheFileWithoutItsFolders) {
  struct Case {
    std::string sPath, sNote;
  };
  const Case vCases[] = {
      {"C:\\Shop\\Logs\\25-12-2003.log", "Processing 25-12-2003.log"},
      {"/var/shop/logs/26-12-2003.log", "Processing 26-12-2003.log"},
      {"logs\\2003/27-12-2003.log", "Processing 27-12-2003.log"},
      {"", "Processing "},
  };
  for (const Case& c : vCases) {
    frmProgress progress;
    progress.Initilise(64, c.sPath);
    EXPECT_EQ(progress.View().sNote, c.sNote) << c.sPath;
  }
  frmProgress omitted;
  omitted.Initilise(64);
  EXPECT_EQ(omitted.View().sNote, "Processing ");
}

TEST(Progress, AnImportMovesTheBarUpToItsCountAndIgnoresCountsOutsideIt) {
  auto pScreen = test::UseRecordingUI();
  frmProgress progress;
  progress.Initilise(40000, "C:\\Logs\\25-12-2003.log");
  progress.Show();
  for (int32_t lLine = 1; lLine <= 40000; lLine += 13333) progress.UpdateProgress(lLine);
  progress.UpdateProgress(40000);
  EXPECT_EQ(progress.View().sngValue, 40000.0f);
  progress.UpdateProgress(40001);
  progress.UpdateProgress(-1);
  EXPECT_EQ(progress.View().sngValue, 40000.0f);
  EXPECT_EQ(progress.View().sngMax, 40000.0f);

  progress.SetLabel("Updating database ...");
  ASSERT_FALSE(pScreen->mvProgress.empty());
  EXPECT_EQ(pScreen->mvProgress.back().sNote, "Updating database ...");
  EXPECT_TRUE(pScreen->mvProgress.back().bVisible);
  EXPECT_EQ(pScreen->msngHighestValue, 40000.0f);

  progress.Reset();
  EXPECT_EQ(progress.View().sngMax, 0.0f);
  EXPECT_EQ(progress.View().sngMin, 0.0f);
  EXPECT_EQ(progress.View().sNote, "");
  progress.Hide();
  progress.Unload();
  EXPECT_FALSE(pScreen->mvProgress.back().bVisible);
  EXPECT_EQ(std::count_if(pScreen->mvProgress.begin(), pScreen->mvProgress.end(),
                          [](const ProgressView& view) { return !view.bVisible; }),
            1);
}

TEST(Progress, AMaximumOfZeroLeavesABarThatDoesNotMove) {
  auto pScreen = test::UseRecordingUI();
  frmProgress fresh;
  fresh.Initilise(0, "C:\\Logs\\empty.log");
  fresh.Show();
  fresh.UpdateProgress(1);
  fresh.UpdateProgress(50);
  EXPECT_EQ(fresh.View().sngValue, 0.0f);
  EXPECT_EQ(fresh.View().sNote, "Processing empty.log");

  // A failed import hides the window without a reset; the next, empty, log starts from nothing.
  frmProgress reused;
  reused.Initilise(64, "25-12-2003.log");
  reused.Show();
  reused.UpdateProgress(30);
  reused.Hide();
  reused.Initilise(0, "26-12-2003.log");
  reused.Show();
  EXPECT_EQ(reused.View().sngValue, 0.0f);
  reused.UpdateProgress(5);
  EXPECT_EQ(reused.View().sngValue, 0.0f);
  EXPECT_EQ(pScreen->mvProgress.back().sngValue, 0.0f);
}

TEST(Progress, ANewImportStartsTheBarAtNothing) {
  test::UseRecordingUI();
  frmProgress progress;
  progress.Initilise(64, "25-12-2003.log");
  progress.Show();
  progress.UpdateProgress(30);
  progress.Hide();
  progress.Initilise(100, "26-12-2003.log");
  EXPECT_EQ(progress.View().sngValue, 0.0f);
  EXPECT_EQ(progress.View().sngMax, 100.0f);
}

TEST(RecordingUI, AnswersQuestionsFromItsScriptThenNo) {
  auto pScreen = test::UseRecordingUI();
  pScreen->AnswerNext(vbYes);
  pScreen->AnswerNext(vbNo);
  pScreen->AnswerNext(vbYes);
  const int nQuestion = vbYesNo + vbQuestion;
  EXPECT_EQ(Screen().MsgBox("Records are already imported.\r\nDo you wish to update?", nQuestion, kAppTitle), vbYes);
  // A plain box takes no answer from the script.
  EXPECT_EQ(Screen().MsgBox("Not connected", vbCritical, kAppTitle), vbOK);
  EXPECT_EQ(Screen().MsgBox("again?", nQuestion, kAppTitle), vbNo);
  EXPECT_EQ(Screen().MsgBox("again?", nQuestion, kAppTitle), vbYes);
  EXPECT_EQ(Screen().MsgBox("again?", nQuestion, kAppTitle), vbNo);
  ASSERT_EQ(pScreen->mvBoxes.size(), 5u);
  EXPECT_EQ(pScreen->mvBoxes[0].nStyle, 36);
  EXPECT_EQ(pScreen->mvBoxes[1].sPrompt, "Not connected");

  Screen().SetMousePointer(vbHourglass);
  Screen().SetMousePointer(vbDefault);
  EXPECT_EQ(pScreen->mvPointers, (std::vector<int>{vbHourglass, vbDefault}));
  Screen().DoEvents();
  EXPECT_EQ(pScreen->mlEvents, 1);
}

// Points stdin at /dev/null for the test, so nobody can be asked.
class NoTerminalInput {
 public:
  NoTerminalInput() : mnSaved(dup(STDIN_FILENO)) {
    int nNull = open("/dev/null", O_RDONLY);
    dup2(nNull, STDIN_FILENO);
    close(nNull);
  }
  ~NoTerminalInput() {
    dup2(mnSaved, STDIN_FILENO);
    close(mnSaved);
  }

 private:
  int mnSaved;
};

std::string Written(std::FILE* pFile) {
  std::fflush(pFile);
  std::string sText;
  std::rewind(pFile);
  for (int c; (c = std::fgetc(pFile)) != EOF;) sText += static_cast<char>(c);
  return sText;
}

struct TempStream {
  std::FILE* p = std::tmpfile();
  ~TempStream() {
    if (p) std::fclose(p);
  }
};

TEST(TerminalUI, AQuestionWithoutATerminalTakesThePresetAnswer) {
  NoTerminalInput noInput;
  ASSERT_FALSE(isatty(STDIN_FILENO));
  TempStream out;
  ASSERT_NE(out.p, nullptr);
  clsTerminalUI screen(out.p);
  const int nQuestion = vbYesNo + vbQuestion;
  EXPECT_EQ(screen.MsgBox("Records are already imported.\r\nDo you wish to update?", nQuestion, kAppTitle), vbNo);
  screen.SetUnattendedAnswer(vbYes);
  EXPECT_EQ(screen.MsgBox("Update 26/12/2003?", nQuestion, kAppTitle), vbYes);
  screen.SetFixedAnswer(vbNo);
  EXPECT_EQ(screen.MsgBox("Update 27/12/2003?", nQuestion, kAppTitle), vbNo);

  std::string sText = Written(out.p);
  EXPECT_NE(sText.find("Varn Log Process:\nRecords are already imported.\nDo you wish to update?\n"),
            std::string::npos)
      << sText;
  EXPECT_EQ(sText.find('\r'), std::string::npos);
}

TEST(TerminalUI, AReportIsWrittenWithItsTitleAndAProgressBarOnlyToATerminal) {
  TempStream out;
  ASSERT_NE(out.p, nullptr);
  clsTerminalUI screen(out.p);
  EXPECT_EQ(screen.MsgBox("-2147467259\r\n02/clsConnection:SignOn\r\nError openning Conetion", vbCritical, kAppTitle),
            vbOK);
  ProgressView view;
  view.sNote = "Processing 25-12-2003.log";
  view.sngMax = 64;
  view.sngValue = 10;
  view.bVisible = true;
  screen.DrawProgress(view);
  view.bVisible = false;
  screen.DrawProgress(view);
  EXPECT_EQ(Written(out.p), "Varn Log Process:\n-2147467259\n02/clsConnection:SignOn\nError openning Conetion\n");

  screen.SetMousePointer(vbHourglass);
  EXPECT_EQ(screen.MousePointer(), vbHourglass);
}

}  // namespace
}  // namespace varn
