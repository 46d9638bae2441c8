// The one error reporter and the trap every procedure uses.
//   ReportError: a critical box (style 16, "Varn Log Process") of three lines: the number,
//   then step "/" source, then the custom text or, when that is exactly empty, the error's
//   description. The pointer is restored to the default first.
//   While a log line is being read (clsLineInReading), the detail says where it was.
//   LastErrorReport: the last such report made on the thread, whatever screen showed it, for a
//   host that shows nothing itself.
//   clsTrap: holds a procedure's source and step marker; Run executes the body and turns any
//   error into that report, so a procedure reads as its steps and returns the result it held.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/Error.h"

namespace varn {

void ReportError(int32_t lErrNumber, std::string_view sSource, std::string_view sStep, std::string_view sCustom,
                 std::string_view sDescription);

struct ErrorReport {
  int32_t lNumber = 0;       // 0 before the first report
  std::string sSource;       // "02/clsConnection:SignOn"
  std::string sDescription;  // the report's third line
};
const ErrorReport& LastErrorReport();

// The log line being read, for the reports made while it is: each names the file and the line's
// number and shows the line, cut short, and the first report on a line is kept as what was wrong
// with it. One is set at a time on a thread; an earlier one is set again when it goes.
class clsLineInReading {
 public:
  explicit clsLineInReading(std::string sFileName);
  ~clsLineInReading();
  clsLineInReading(const clsLineInReading&) = delete;
  clsLineInReading& operator=(const clsLineInReading&) = delete;

  // The line now read; its text must stay while a report can be made on it.
  void Line(int32_t lLineNo, std::string_view sText);
  // The number and detail of the first report made on the current line ("" when none).
  const std::string& FirstReport() const { return msFirstReport; }

 private:
  friend void ReportError(int32_t, std::string_view, std::string_view, std::string_view, std::string_view);
  std::string mWhere(std::string_view sDetail);

  std::string msFileName;
  int32_t mlLineNo = 0;
  std::string_view msText;
  std::string msFirstReport;
  clsLineInReading* mpOuter;
};

class clsTrap {
 public:
  using CustomText = std::function<std::string(const clsError&)>;
  using Handler = std::function<bool(const clsError&)>;  // true: handled, nothing reported

  // The source is kept as given, not copied: a literal, or a text that outlives the trap.
  explicit clsTrap(std::string_view sSource) : msSource(sSource) {}

  // The step is kept as given, like the source: a literal.
  void Step(std::string_view sStep) { msStep = sStep; }
  std::string CurrentStep() const { return std::string(msStep); }

  // The detail line of the report, built from the error (default: its description).
  clsTrap& Custom(CustomText fnCustom) { mfnCustom = std::move(fnCustom); return *this; }
  // Errors the procedure handles itself, without a report.
  clsTrap& Handle(Handler fnHandler) { mfnHandler = std::move(fnHandler); return *this; }

  // Runs the body; false when it raised an error, which has been reported (or handled).
  template <class Fn>
  bool Run(Fn&& fnBody) {
    try {
      fnBody();
      return true;
    } catch (const clsError& err) {
      Report(err);
    } catch (const std::bad_alloc&) {
      Report(clsError(errOutOfMemory, RuntimeDescription(errOutOfMemory)));
    } catch (const std::exception& ex) {
      Report(clsError(errInvalidCall, ex.what()));
    } catch (...) {
      Report(clsError(errInvalidCall, "an unknown failure"));
    }
    return false;
  }

  // The last error trapped by Run (number 0 when none).
  const clsError& LastError() const;

 private:
  void Report(const clsError& err);

  // Every procedure makes a trap, most of them for each line of a log: the names are not
  // copied, and the error is made only when there is one.
  std::string_view msSource;
  std::string_view msStep;
  CustomText mfnCustom;
  Handler mfnHandler;
  std::optional<clsError> mLastError;
};

}  // namespace varn
