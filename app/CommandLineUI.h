// The screen of the command line: the terminal, or with --gui the windows, to which it then hands
// every box, the pointer, the events and the progress (--yes and --no still answer without a box).
// It also remembers what the last import asked and was answered, so that a declined update reads
// "skipped" rather than "failed".
#pragma once

#include <memory>
#include <string>

#include "ui/TerminalUI.h"

namespace varn {

class clsCommandLineUI : public clsTerminalUI {
 public:
  explicit clsCommandLineUI(std::shared_ptr<IUserInterface> pWindows = nullptr) : mpWindows(std::move(pWindows)) {}

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;
  void SetMousePointer(int nPointer) override;
  void DoEvents() override;
  void DrawProgress(const ProgressView& view) override;

  // Forgets what was asked before and what it was about; call before each operation.
  void Forget() {
    mnLastAnswer = 0;
    msAbout.clear();
  }
  // What the next Yes/No question is about (a file and its day), said before it is asked.
  void About(std::string sAbout) { msAbout = std::move(sAbout); }
  // The answer of the last Yes/No question since Forget (0 when none was asked).
  int LastAnswer() const { return mnLastAnswer; }

 private:
  std::shared_ptr<IUserInterface> mpWindows;
  int mnLastAnswer = 0;
  std::string msAbout;
};

}  // namespace varn
