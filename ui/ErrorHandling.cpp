#include "ui/ErrorHandling.h"

#include "runtime/Text.h"
#include "ui/UserInterface.h"

namespace varn {

void ReportError(int32_t lErrNumber, std::string_view sSource, std::string_view sStep, std::string_view sCustom,
                 std::string_view sDescription) {
  Screen().SetMousePointer(vbDefault);
  std::string sMessage = NumText(int64_t{lErrNumber});
  sMessage.append("\r\n").append(sStep).append("/").append(sSource).append("\r\n");
  sMessage.append(sCustom.empty() ? sDescription : sCustom);
  Screen().MsgBox(sMessage, vbOKOnly + vbCritical, kAppTitle);
}

const clsError& clsTrap::LastError() const {
  static const clsError kNone{0, ""};
  return mLastError ? *mLastError : kNone;
}

void clsTrap::Report(const clsError& err) {
  mLastError = err;
  // A failure while reporting is not reported again, and nothing leaves the trap for the host.
  try {
    Screen().SetMousePointer(vbDefault);
    if (mfnHandler && mfnHandler(err)) return;
    std::string sCustom = mfnCustom ? mfnCustom(err) : std::string{};
    ReportError(err.Number(), msSource, msStep, sCustom, err.Description());
  } catch (...) {
  }
}

}  // namespace varn
