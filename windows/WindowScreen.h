// The component's windows on a desktop, with Qt 6 Widgets: the progress window (its caption, the
// note above a bar whose range and value follow the progress view as the terminal's bar does),
// modal message boxes titled as asked (style 16: a critical icon and OK; 36: a question icon, Yes
// and No, Yes the default and Escape No), Qt's wait cursor over the application for the hourglass
// (set once, restored once), and one pass of Qt's pending events for DoEvents. It needs the
// process's QApplication; the plugin's factory makes one only when the process has none.
// Linked into Qt programs and tests as it is, and built as the plugin that the core loads
// (ui/UserInterface.h), which takes nothing of the core but the interface.
#pragma once

#include <memory>

#include "ui/UserInterface.h"

class QLabel;
class QProgressBar;
class QWidget;

namespace varn {

class clsWindowScreen : public IUserInterface {
 public:
  clsWindowScreen();
  ~clsWindowScreen() override;
  clsWindowScreen(const clsWindowScreen&) = delete;
  clsWindowScreen& operator=(const clsWindowScreen&) = delete;

  int MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) override;
  void SetMousePointer(int nPointer) override;
  int MousePointer() const override { return mnPointer; }
  void DoEvents() override;
  void DrawProgress(const ProgressView& view) override;

 private:
  std::unique_ptr<QWidget> mpWindow;
  QLabel* mpNote;
  QProgressBar* mpBar;
  int mnPointer = vbDefault;
};

}  // namespace varn

// The plugin's factory (kWindowScreenFactory): a new screen the caller owns, null when the
// process's Qt application is no QApplication.
extern "C" varn::IUserInterface* VarnLogImpWindowScreen();
