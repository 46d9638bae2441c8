// The terminal screen of the command line, which also remembers what the last import asked
// and was answered, so that a declined update reads "skipped" rather than "failed".
#pragma once

#include "ui/TerminalUI.h"

namespace varn {

class clsCommandLineUI : public clsTerminalUI {
 public:
  using clsTerminalUI::clsTerminalUI;

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;

  // Forgets what was asked before; call before each operation.
  void Forget() { mnLastAnswer = 0; }
  // The answer of the last Yes/No question since Forget (0 when none was asked).
  int LastAnswer() const { return mnLastAnswer; }

 private:
  int mnLastAnswer = 0;
};

}  // namespace varn
