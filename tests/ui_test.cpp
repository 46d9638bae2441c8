// The user-interface layer as a user or host sees it: the error report, the trap every procedure ends in,
// the hourglass, the progress window as it is drawn, and the terminal screen of the command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <stdexcept>

#include "runtime/Text.h"
#include "tests/TestSupport.h"
#include "ui/ErrorHandling.h"
#include "ui/TerminalUI.h"
#include "ui/frmProgress.h"

namespace varn {
namespace {

// The recording screen, also writing down in order what a user sees: every box with the pointer it was
// shown over, and the test's notes. The whole must match tests/data/ui-screen.expected (VARN_UPDATE_EXPECTED=1
// rewrites it). A broken screen, as a host whose window has gone, fails to show a box.
class UiTest : public ::testing::Test, public clsRecordingUI {
 protected:
  UiTest() { SetScreen(std::shared_ptr<IUserInterface>(std::shared_ptr<IUserInterface>(), this)); }  // not owned
  ~UiTest() override { SetScreen(std::make_shared<clsRecordingUI>()); }
  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override {
    if (mbBroken) throw std::runtime_error("no window");
    Note(sTitle + ", style " + std::to_string(nStyle) + ", pointer " + std::to_string(MousePointer()) + ": " +
         Replace(sPrompt, "\r\n", " | "));
    return clsRecordingUI::MsgBox(sPrompt, nStyle, sTitle);
  }
  // A trap's last run: whether it finished, the step it reached and its error; and the pointer after it.
  void Note(const clsTrap& trap, bool bRan) {
    Note("finished " + std::to_string(bRan) + ", step " + trap.CurrentStep() + ", error " +
         std::to_string(trap.LastError().Number()) + ", pointer " + std::to_string(MousePointer()));
  }
  void Note(const std::string& s) { msSeen += s + "\n"; }

  std::string msSeen;
  bool mbBroken = false;
};

// A body that reaches a step and then fails is written "Step(...), fail".
TEST_F(UiTest, ErrorsAreReportedWithTheStepReachedUnderTheHourglassOnTheScreenAndTheTerminal) {
  ReportError(errOverflow, "clsItemShift:SetUp", "01", "   ", "Overflow");  // blanks are a custom text too
  clsTrap trap("clsConnection:SignOn"), custom("modMainLog:GetNextID"), quiet("modMainLog:GetExistingID");
  for (bool bFail : {false, true})
    Note(trap, trap.Run([&] {
      clsHourglass hourglass;
      if (bFail) trap.Step("02"), RaiseError(errDBFailure, "unable to open database file");
      Note("body finished, pointer " + std::to_string(MousePointer()));
    }));
  Note(trap, trap.Run([&] { trap.Step("03"), throw std::out_of_range("position 12 is past the end"); }));
  Note(trap, trap.Run([&] { trap.Step("04"), throw std::bad_alloc(); }));
  custom.Custom([](const clsError& err) { return err.Description() + "\r\n\r\nError getting ID for Session"; });
  Note(custom, custom.Run([&] { custom.Step("08"), RaiseError(errDBStatement, "no such table: Sessions"); }));
  quiet.Custom([](const clsError&) { return std::string(); });  // empty: the description after all
  quiet.Handle([&](const clsError& err) { return err.Number() == errInvalidCall; });
  Note(quiet, quiet.Run([&] { RaiseError(errDBStatement, "no such column: LineNo"); }));  // before any step
  Note(quiet, quiet.Run([&] { SetMousePointer(vbHourglass), RaiseError(errInvalidCall, "no such key"); }));
  mbBroken = true;
  EXPECT_NO_THROW(Note(quiet, quiet.Run([&] { quiet.Step("05"), RaiseError(errFileNotFound, "File not found"); })));

  // The terminal: without one a question takes the preset answer; a box is written with its title; no bar.
  test::TempFolder folder;
  ASSERT_TRUE(std::freopen("/dev/null", "r", stdin));
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> pOut(std::fopen((folder / "screen.txt").c_str(), "w"), std::fclose);
  clsTerminalUI screen(pOut.get());
  Note(std::to_string(screen.MsgBox("Already imported.\r\nDo you wish to update?", vbYesNo + vbQuestion, kAppTitle)));
  screen.SetUnattendedAnswer(vbYes);
  Note(std::to_string(screen.MsgBox("Update 26/12/2003?", vbYesNo + vbQuestion, kAppTitle)));
  screen.SetFixedAnswer(vbNo);
  Note(std::to_string(screen.MsgBox("Update 27/12/2003?", vbYesNo + vbQuestion, kAppTitle)));
  screen.SetFixedAnswer(vbYes);
  Note(std::to_string(screen.MsgBox("Update 28/12/2003?", vbYesNo + vbQuestion, kAppTitle)));
  Note(std::to_string(screen.MsgBox("-2147467259\r\n02/clsConnection:SignOn\r\nError", vbCritical, kAppTitle)));
  screen.DrawProgress(ProgressView{"", "Processing 25-12-2003.log", 0, 64, 10, true});
  Note(test::ReadFile(folder / "screen.txt"));

  // The progress window draws only while shown; each new count starts from nothing, counts outside the bar
  // are ignored, and a maximum of 0 leaves a bar that no count moves.
  frmProgress progress;
  progress.Initilise(10, "/logs/25-12-2003.log");
  progress.Hide();
  progress.Show();
  for (int32_t lLine : {1, 9, 10, 11, 0, -1}) progress.UpdateProgress(lLine);
  for (const char* sPath : {"C:\\Shop\\Logs\\25-12-2003.log", "/var/logs/26-12-2003.log", "logs\\03/27.log", ""})
    progress.Initilise(40000, sPath);
  progress.UpdateProgress(40000);
  progress.SetLabel("Updating database ...");
  progress.Reset();
  progress.UpdateProgress(5);
  progress.Hide();
  for (const auto& view : mvProgress)
    Note(view.sNote + " " + NumText(view.sngValue) + "/" + NumText(view.sngMax) + (view.bVisible ? "" : ", hidden"));
  EXPECT_EQ(test::DifferenceFromFile(msSeen, "ui-screen.expected"), "");
}

}  // namespace
}  // namespace varn
