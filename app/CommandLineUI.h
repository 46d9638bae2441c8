// The screen of the command line: the terminal, or with --gui the windows, to which it then hands
// every box, the pointer, the events and the progress (--yes and --no still answer without a box).
// It names the file and day an update question is about: on the terminal before the question,
// in a window at the head of its box.
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

  // What the next Yes/No question is about (a file and its day); an empty text says nothing.
  void About(std::string sAbout) { msAbout = std::move(sAbout); }

 private:
  std::shared_ptr<IUserInterface> mpWindows;
  std::string msAbout;
};

}  // namespace varn
