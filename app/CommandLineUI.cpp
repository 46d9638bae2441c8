#include "app/CommandLineUI.h"

namespace varn {

int clsCommandLineUI::MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) {
  int nAnswer = clsTerminalUI::MsgBox(sPrompt, nStyle, sTitle);
  if ((nStyle & 7) == vbYesNo) mnLastAnswer = nAnswer;
  return nAnswer;
}

}  // namespace varn
