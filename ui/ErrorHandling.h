// The one error reporter and the trap every procedure uses.
//   ReportError: a critical box (style 16, "Varn Log Process") of three lines: the number,
//   then step "/" source, then the custom text or, when that is exactly empty, the error's
//   description. The pointer is restored to the default first.
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
