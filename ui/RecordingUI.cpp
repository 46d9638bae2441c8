#include "ui/RecordingUI.h"

#include <algorithm>

namespace varn {

int clsRecordingUI::MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) {
  mvBoxes.push_back({sPrompt, nStyle, sTitle});
  if ((nStyle & 7) != vbYesNo) return vbOK;
  if (mAnswers.empty()) return vbNo;
  int nAnswer = mAnswers.front();
  mAnswers.pop_front();
  return nAnswer;
}

void clsRecordingUI::DrawProgress(const ProgressView& view) {
  mvProgress.push_back(view);
  msngHighestValue = std::max(msngHighestValue, view.sngValue);
}

}  // namespace varn
