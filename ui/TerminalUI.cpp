#include "ui/TerminalUI.h"

#include <unistd.h>

#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include "runtime/Text.h"

namespace varn {

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 40;

// The prompt's lines as the terminal shows them: a text from a log may hold control characters
// that would move the cursor or clear the screen.
std::string Unbroken(const std::string& s) {
  std::vector<std::string> vLines = Split(Replace(s, "\r", ""), "\n");
  std::string sOut = VisibleText(vLines[0]);
  for (size_t n = 1; n < vLines.size(); ++n) sOut += "\n" + VisibleText(vLines[n]);
  return sOut;
}
}  // namespace

clsTerminalUI::clsTerminalUI(std::FILE* pOut) : mpOut(pOut), mbOutIsTerminal(isatty(fileno(pOut)) != 0) {}

int clsTerminalUI::MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) {
  ClearBar();
  std::fprintf(mpOut, "%s:\n%s\n", sTitle.c_str(), Unbroken(sPrompt).c_str());
  if ((nStyle & 7) != vbYesNo) {
    std::fflush(mpOut);
    return vbOK;
  }
  if (mnFixed) {
    std::fprintf(mpOut, "[y/N] %s\n", mnFixed == vbYes ? "yes" : "no");
    return mnFixed;
  }
  if (!isatty(STDIN_FILENO)) {
    std::fprintf(mpOut, "[y/N] %s (nobody to ask)\n", mnUnattended == vbYes ? "yes" : "no");
    return mnUnattended;
  }
  std::fprintf(mpOut, "[y/N] ");
  std::fflush(mpOut);
  std::string sAnswer;
  if (!std::getline(std::cin, sAnswer)) return vbNo;
  return (sAnswer == "y" || sAnswer == "Y" || sAnswer == "yes" || sAnswer == "Yes") ? vbYes : vbNo;
}

void clsTerminalUI::DrawProgress(const ProgressView& view) {
  if (!mbOutIsTerminal) return;
  if (!view.bVisible) return ClearBar();
  auto now = std::chrono::steady_clock::now();
  bool bFinished = view.sngValue >= view.sngMax;
  if (mbBarDrawn && !bFinished && now - mLastDraw < kRedrawInterval) return;
  mLastDraw = now;
  double dShare = view.sngMax > view.sngMin ? (view.sngValue - view.sngMin) / (view.sngMax - view.sngMin) : 0;
  int nFilled = static_cast<int>(std::lround(dShare * kBarWidth));
  std::string sBar(static_cast<size_t>(nFilled), '#');
  sBar.resize(kBarWidth, '.');
  std::fprintf(mpOut, "\r\033[K%s [%s] %3d%%", view.sNote.c_str(), sBar.c_str(), static_cast<int>(dShare * 100));
  std::fflush(mpOut);
  mbBarDrawn = true;
}

void clsTerminalUI::ClearBar() {
  if (!mbBarDrawn) return;
  std::fprintf(mpOut, "\r\033[K");
  std::fflush(mpOut);
  mbBarDrawn = false;
}

}  // namespace varn
