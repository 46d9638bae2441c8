#include "ui/frmProgress.h"

#include <algorithm>

#include "runtime/Text.h"

namespace varn {

frmProgress::frmProgress() {
  mView.sCaption = " Please Wait...";
  mView.sNote = "Please wait...";
}

void frmProgress::SetRange(float sngMin, float sngMax) {
  // A range the bar cannot show leaves it empty, so that no count moves it.
  mView.sngMin = sngMin;
  mView.sngMax = std::max(sngMin, sngMax);
  mView.sngValue = sngMin;
}

void frmProgress::Initilise(int32_t lMax, const std::string& sLogFilePath) {
  SetRange(0, static_cast<float>(lMax));
  mView.sNote = "Processing " + FileNameOf(sLogFilePath);
  Redraw();
}

void frmProgress::UpdateProgress(int32_t lCount) {
  auto sngCount = static_cast<float>(lCount);
  if (sngCount < mView.sngMin || sngCount > mView.sngMax) return;
  mView.sngValue = sngCount;
  Redraw();
}

void frmProgress::SetLabel(const std::string& sNote) {
  mView.sNote = sNote;
  Redraw();
}

void frmProgress::Reset() {
  SetRange(0, 0);
  mView.sNote.clear();
  Redraw();
}

void frmProgress::Show() {
  mView.bVisible = true;
  Screen().DrawProgress(mView);
}

void frmProgress::Hide() {
  if (!mView.bVisible) return;
  mView.bVisible = false;
  Screen().DrawProgress(mView);
}

void frmProgress::Redraw() {
  if (mView.bVisible) Screen().DrawProgress(mView);
}

}  // namespace varn
