// The terminal screen of the command line, which names the file and day an update question is
// about before asking it.
#pragma once

#include <string>

#include "ui/TerminalUI.h"

namespace varn {

class clsCommandLineUI : public clsTerminalUI {
 public:
  using clsTerminalUI::clsTerminalUI;

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;

  // What the next Yes/No question is about (a file and its day), said before it is asked; an
  // empty text says nothing.
  void About(std::string sAbout) { msAbout = std::move(sAbout); }

 private:
  std::string msAbout;
};

}  // namespace varn
