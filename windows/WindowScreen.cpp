#include "windows/WindowScreen.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>

namespace varn {

namespace {

QString Text(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

QMessageBox::Icon IconOf(int nStyle) {
  if ((nStyle & 0x70) == vbCritical) return QMessageBox::Critical;
  return (nStyle & 0x70) == vbQuestion ? QMessageBox::Question : QMessageBox::NoIcon;
}

}  // namespace

clsWindowScreen::clsWindowScreen()
    : mpWindow(std::make_unique<QWidget>(nullptr, Qt::Dialog)),
      mpNote(new QLabel(mpWindow.get())),
      mpBar(new QProgressBar(mpWindow.get())) {
  auto* pLayout = new QVBoxLayout(mpWindow.get());
  pLayout->addWidget(mpNote);
  pLayout->addWidget(mpBar);
  // A file's name is shown as it is written, never read as markup.
  mpNote->setTextFormat(Qt::PlainText);
  mpWindow->setMinimumWidth(360);
}

clsWindowScreen::~clsWindowScreen() { SetMousePointer(vbDefault); }

int clsWindowScreen::MsgBox(const std::string& sPrompt, int nStyle, const std::string& sTitle) {
  bool bQuestion = (nStyle & 7) == vbYesNo;
  QMessageBox box(IconOf(nStyle), Text(sTitle), Text(sPrompt).replace("\r\n", "\n"),
                  bQuestion ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
  box.setTextFormat(Qt::PlainText);
  if (bQuestion) {
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
  }
  // The user answers with the arrow, whatever the procedure that asks still holds.
  bool bWaiting = mnPointer == vbHourglass;
  if (bWaiting) QApplication::setOverrideCursor(Qt::ArrowCursor);
  int nButton = box.exec();
  if (bWaiting) QApplication::restoreOverrideCursor();
  return nButton == QMessageBox::Yes ? vbYes : nButton == QMessageBox::No ? vbNo : vbOK;
}

void clsWindowScreen::SetMousePointer(int nPointer) {
  bool bWait = nPointer == vbHourglass;
  if (bWait && mnPointer != vbHourglass) QApplication::setOverrideCursor(Qt::WaitCursor);
  if (!bWait && mnPointer == vbHourglass) QApplication::restoreOverrideCursor();
  mnPointer = nPointer;
}

void clsWindowScreen::DoEvents() { QCoreApplication::processEvents(); }

void clsWindowScreen::DrawProgress(const ProgressView& view) {
  bool bNewLook = view.bVisible != mpWindow->isVisible() || Text(view.sNote) != mpNote->text();
  mpWindow->setWindowTitle(Text(view.sCaption));
  mpNote->setText(Text(view.sNote));
  // As on the terminal, a range the bar cannot show leaves it empty (Qt would show it busy).
  bool bRange = view.sngMax > view.sngMin;
  mpBar->setRange(bRange ? static_cast<int>(std::lround(view.sngMin)) : 0,
                  bRange ? static_cast<int>(std::lround(view.sngMax)) : 1);
  mpBar->setValue(bRange ? static_cast<int>(std::lround(view.sngValue)) : 0);
  mpWindow->setVisible(view.bVisible);
  // Shown, hidden or relabelled at once; a moved bar waits for the next DoEvents.
  if (bNewLook) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace varn

extern "C" __attribute__((visibility("default"))) varn::IUserInterface* VarnLogImpWindowScreen() {
  if (!QCoreApplication::instance()) {
    static int nArgc = 1;
    static char sName[] = "VarnLogImp";
    static char* vArgv[] = {sName, nullptr};
    // The process's application from now on, for as long as it runs: never deleted.
    new QApplication(nArgc, vArgv);
  }
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return nullptr;
  return new varn::clsWindowScreen();
}
