// A screen for tests: records every box (prompt, style, title) and every pointer change,
// answers questions from a script (then vbNo), and keeps the last progress view.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "ui/UserInterface.h"

namespace varn {

class clsRecordingUI : public IUserInterface {
 public:
  struct Box {
    std::string sPrompt;
    int nStyle;
    std::string sTitle;
  };

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;
  void SetMousePointer(int nPointer) override { mvPointers.push_back(nPointer); }
  int MousePointer() const override { return mvPointers.empty() ? vbDefault : mvPointers.back(); }
  void DoEvents() override { ++mlEvents; }
  void DrawProgress(const ProgressView& view) override;

  void AnswerNext(int nAnswer) { mAnswers.push_back(nAnswer); }

  std::vector<Box> mvBoxes;
  std::vector<int> mvPointers;
  std::vector<ProgressView> mvProgress;  // every change while shown, and the hiding
  long mlEvents = 0;
  float msngHighestValue = 0;

 private:
  std::deque<int> mAnswers;
};

}  // namespace varn
