#include "ui/ErrorHandling.h"

#include "runtime/Text.h"
#include "runtime/Utf8.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

thread_local clsLineInReading* gpLineInReading = nullptr;
thread_local ErrorReport gLastReport;

// Enough of a line to know it again; the whole line goes to the list of lines not stored.
constexpr size_t kShownLineBytes = 80;

std::string ShownLine(std::string_view sText) {
  if (sText.size() <= kShownLineBytes) return std::string(sText);
  size_t nCut = PreviousCharacterStart(sText, kShownLineBytes + 1);
  return std::string(sText.substr(0, nCut)) + "...";
}

}  // namespace

clsLineInReading::clsLineInReading(std::string sFileName) : msFileName(std::move(sFileName)), mpOuter(gpLineInReading) {
  gpLineInReading = this;
}

clsLineInReading::~clsLineInReading() { gpLineInReading = mpOuter; }

void clsLineInReading::Line(int32_t lLineNo, std::string_view sText) {
  mlLineNo = lLineNo;
  msText = sText;
  msFirstReport.clear();
}

std::string clsLineInReading::mWhere(std::string_view sDetail) {
  std::string sWhere(sDetail);
  if (mlLineNo == 0) return sWhere;
  sWhere.append(" (").append(msFileName).append(", line ").append(NumText(int64_t{mlLineNo})).append(": ");
  return sWhere.append(ShownLine(msText)).append(")");
}

void ReportError(int32_t lErrNumber, std::string_view sSource, std::string_view sStep, std::string_view sCustom,
                 std::string_view sDescription) {
  Screen().SetMousePointer(vbDefault);
  std::string_view sDetail = sCustom.empty() ? sDescription : sCustom;
  ErrorReport report{lErrNumber, std::string(sStep).append("/").append(sSource), std::string(sDetail)};
  if (clsLineInReading* pLine = gpLineInReading) {
    if (pLine->msFirstReport.empty()) pLine->msFirstReport = NumText(int64_t{lErrNumber}) + " " + std::string(sDetail);
    report.sDescription = pLine->mWhere(sDetail);
  }
  gLastReport = report;
  Screen().MsgBox(NumText(int64_t{lErrNumber}) + "\r\n" + report.sSource + "\r\n" + report.sDescription,
                  vbOKOnly + vbCritical, kAppTitle);
}

const ErrorReport& LastErrorReport() { return gLastReport; }

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
