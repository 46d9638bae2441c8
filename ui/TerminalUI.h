// The screen of the command line: boxes are written to stderr with their title; a Yes/No
// question is asked on the terminal when stdin is one, otherwise it takes the answer set
// beforehand (No unless told). The progress bar is drawn on stderr only when that is a
// terminal, at most about ten times a second, and cleared when hidden.
#pragma once

#include <chrono>
#include <cstdio>

#include "ui/UserInterface.h"

namespace varn {

class clsTerminalUI : public IUserInterface {
 public:
  explicit clsTerminalUI(std::FILE* pOut = stderr);

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;
  void SetMousePointer(int nPointer) override { mnPointer = nPointer; }
  int MousePointer() const override { return mnPointer; }
  void DoEvents() override {}
  void DrawProgress(const ProgressView& view) override;

  // The answer a Yes/No question gets when nobody can be asked (vbYes or vbNo).
  void SetUnattendedAnswer(int nAnswer) { mnUnattended = nAnswer; }
  // Forces the answer even on a terminal (the command line's --yes and --no).
  void SetFixedAnswer(int nAnswer) { mnFixed = nAnswer; }
  int FixedAnswer() const { return mnFixed; }  // 0 when none

 private:
  void ClearBar();

  std::FILE* mpOut;
  int mnPointer = vbDefault;
  int mnUnattended = vbNo;
  int mnFixed = 0;
  bool mbOutIsTerminal;
  bool mbBarDrawn = false;
  std::chrono::steady_clock::time_point mLastDraw{};
};

}  // namespace varn
