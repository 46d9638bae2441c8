// The user interface the component talks to: modal message boxes, the screen's mouse
// pointer, the pending-events pump and the progress view. The core never prints; it goes
// through the interface that the host (or a test) installs with SetScreen.
#pragma once

#include <memory>
#include <string>

namespace varn {

enum eMsgBoxStyle : int { vbOKOnly = 0, vbYesNo = 4, vbCritical = 16, vbQuestion = 32 };
enum eMsgBoxResult : int { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };
enum eMousePointer : int { vbDefault = 0, vbHourglass = 11 };

inline constexpr const char* kAppTitle = "Varn Log Process";

// What the progress window shows; the screen draws it.
struct ProgressView {
  std::string sCaption;
  std::string sNote;
  float sngMin = 0;
  float sngMax = 100;
  float sngValue = 0;
  bool bVisible = false;
};

class IUserInterface {
 public:
  virtual ~IUserInterface() = default;
  // A modal box; blocks until answered and returns the button (vbOK, vbYes, vbNo).
  virtual int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) = 0;
  virtual void SetMousePointer(int nPointer) = 0;
  virtual int MousePointer() const = 0;
  // Lets pending user-interface events run once.
  virtual void DoEvents() = 0;
  // The progress window changed (shown, moved, relabelled, hidden).
  virtual void DrawProgress(const ProgressView& view) = 0;
};

// The hourglass while a procedure runs; what its end leaves on the screen, the pointer it found
// (the default, or the hourglass of the procedure that called it, which still works):
//   enuRestoreAlways    that pointer on every way out;
//   enuRestoreOnReturn  that pointer when the body returns; made inside a trap's body
//                       (ui/ErrorHandling.h), it leaves an error's way out to the trap, whose
//                       report shows the default pointer;
//   enuLeaveOn          the hourglass, for the caller to end.
class clsHourglass {
 public:
  enum eOnEnd { enuRestoreAlways, enuRestoreOnReturn, enuLeaveOn };

  explicit clsHourglass(eOnEnd eEnd = enuRestoreAlways);
  ~clsHourglass();
  clsHourglass(const clsHourglass&) = delete;
  clsHourglass& operator=(const clsHourglass&) = delete;

  // The pointer it found, now, on a way out that must not leave the hourglass; the end still
  // does what its mode says.
  void Restore();

 private:
  eOnEnd meEnd;
  int mnFound;
  int mnUncaught;  // the exceptions in flight when the guard was made
};

// The screen in use, the process's (install and use it from one thread). Until a host installs
// one, it is chosen on first use: the windows when the plugin below loads, otherwise the terminal
// screen, which without a terminal answers every question No and writes the reports to stderr.
// SetScreen answers the screen it replaces (null when none was chosen yet); null chooses again.
IUserInterface& Screen();
std::shared_ptr<IUserInterface> SetScreen(std::shared_ptr<IUserInterface> pScreen);

// The windows (Qt 6 Widgets) are a plugin, so that the component never needs Qt: kWindowPlugin,
// looked for beside the file of the component that asks (the program or libVarnLogImp.so), then
// in the varnlogimp folder below it (an installed library's), then in ../LIBDIR/varnlogimp from
// it (an installed program's, LIBDIR being the install's library folder). It exports
// kWindowScreenFactory, a WindowScreenFactory answering a new screen (null when it cannot show
// windows). It is loaded only when the process has a Qt 6 application or a display whose server
// answers (DISPLAY or WAYLAND_DISPLAY), and never into one that holds another major version of Qt. Null when it is
// not loaded, with the reason in *pWhyNot.
inline constexpr const char* kWindowPlugin = "libVarnLogImpWindows.so";
inline constexpr const char* kWindowScreenFactory = "VarnLogImpWindowScreen";
using WindowScreenFactory = IUserInterface* (*)();
std::shared_ptr<IUserInterface> LoadWindowScreen(std::string* pWhyNot = nullptr);

}  // namespace varn
