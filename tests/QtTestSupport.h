// What the window tests share: an application for the test, and modal boxes answered by clicks
// as a user would.
#pragma once

#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/TestSupport.h"

namespace varn::test {

std::string S(const QString& s);

// The test's QApplication, made on the first call and never deleted: the screens it serves
// outlive the tests.
void UseQApplication();

// Runs fnWork; each modal box it shows is taken down as shown (title, icon, buttons, the cursor
// over it or -1: the application's, its text), then answered with a click on the next of
// vButtons; one past them is closed unanswered.
Texts Answered(std::vector<QMessageBox::StandardButton> vButtons, const std::function<void()>& fnWork);

// While it lives, a modal box that nobody answers within two seconds is closed and kept in
// mvUnanswered, so that a box a test did not expect fails it instead of hanging it.
class clsBoxGuard {
 public:
  clsBoxGuard();
  ~clsBoxGuard();
  Texts mvUnanswered;

 private:
  std::unique_ptr<QTimer> mpTimer;
  QWidget* mpBox = nullptr;
  int mnTicks = 0;
};

}  // namespace varn::test
