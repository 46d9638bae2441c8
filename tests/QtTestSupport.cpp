#include "tests/QtTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>

namespace varn::test {

std::string S(const QString& s) { return s.toStdString(); }

void UseQApplication() {
  static int nArgc = 1;
  static char sName[] = "varn_test", *vArgv[] = {sName, nullptr};
  if (!QApplication::instance()) new QApplication(nArgc, vArgv);
}

Texts Answered(std::vector<QMessageBox::StandardButton> vButtons, const std::function<void()>& fnWork) {
  Texts vSeen;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!pBox) return;
    const QCursor* pCursor = QApplication::overrideCursor();
    vSeen.push_back(S(pBox->windowTitle()) + ", icon " + std::to_string(pBox->icon()) + ", buttons " +
                    std::to_string(pBox->standardButtons().toInt()) + ", cursor " +
                    std::to_string(pCursor ? pCursor->shape() : -1) + ": " + S(pBox->text()));
    if (vSeen.size() > vButtons.size()) return pBox->reject();
    QTest::mouseClick(pBox->button(vButtons[vSeen.size() - 1]), Qt::LeftButton);
  });
  timer.start(10);
  fnWork();
  return vSeen;
}

clsBoxGuard::clsBoxGuard() : mpTimer(std::make_unique<QTimer>()) {
  QObject::connect(mpTimer.get(), &QTimer::timeout, [this] {
    QWidget* pBox = QApplication::activeModalWidget();
    mnTicks = pBox && pBox == mpBox ? mnTicks + 1 : 0;
    mpBox = pBox;
    if (mnTicks < 20) return;
    auto* pMessage = qobject_cast<QMessageBox*>(pBox);
    mvUnanswered.push_back(pMessage ? S(pMessage->text()) : S(pBox->windowTitle()));
    if (auto* pDialog = qobject_cast<QDialog*>(pBox)) pDialog->reject();
    else pBox->close();
  });
  mpTimer->start(100);
}

clsBoxGuard::~clsBoxGuard() = default;

}  // namespace varn::test
