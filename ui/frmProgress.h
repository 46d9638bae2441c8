// The progress window of an import: a bar and a one-line note under the caption
// " Please Wait...". Each Initilise starts a new count from nothing; a maximum not above zero
// leaves an empty bar that no count moves, and a count outside the range is ignored, as the
// window never fails an import.
#pragma once

#include <cstdint>
#include <string>

#include "ui/UserInterface.h"

namespace varn {

class frmProgress {
 public:
  frmProgress();

  void Initilise(int32_t lMax, const std::string& sLogFilePath = {});
  void UpdateProgress(int32_t lCount);
  void SetLabel(const std::string& sNote);
  void Reset();
  void Show();
  void Hide();
  void Unload() { Hide(); }

  const ProgressView& View() const { return mView; }

 private:
  void SetRange(float sngMin, float sngMax);
  void Redraw();

  ProgressView mView;
};

}  // namespace varn
