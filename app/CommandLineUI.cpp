#include "app/CommandLineUI.h"

#include <cstdio>

namespace varn {

int clsCommandLineUI::MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) {
  if ((nStyle & 7) == vbYesNo && !msAbout.empty()) std::fprintf(stderr, "%s\n", msAbout.c_str());
  return clsTerminalUI::MsgBox(sPrompt, nStyle, sTitle);
}

}  // namespace varn
