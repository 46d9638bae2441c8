#include "app/CommandLineUI.h"

#include <cstdio>

namespace varn {

int clsCommandLineUI::MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) {
  bool bQuestion = (nStyle & 7) == vbYesNo;
  if (mpWindows && !(bQuestion && FixedAnswer())) {
    // A window's user sees no terminal: what the question is about heads the box.
    return mpWindows->MsgBox(bQuestion && !msAbout.empty() ? msAbout + "\r\n" + sPrompt : sPrompt, nStyle, sTitle);
  }
  if (bQuestion && !msAbout.empty()) std::fprintf(stderr, "%s\n", msAbout.c_str());
  return clsTerminalUI::MsgBox(sPrompt, nStyle, sTitle);
}

void clsCommandLineUI::SetMousePointer(int nPointer) {
  clsTerminalUI::SetMousePointer(nPointer);
  if (mpWindows) mpWindows->SetMousePointer(nPointer);
}

void clsCommandLineUI::DoEvents() {
  if (mpWindows) mpWindows->DoEvents();
}

void clsCommandLineUI::DrawProgress(const ProgressView& view) {
  if (mpWindows) return mpWindows->DrawProgress(view);
  clsTerminalUI::DrawProgress(view);
}

}  // namespace varn
