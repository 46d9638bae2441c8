// The windows as a desktop user meets them, on Qt's offscreen platform: the progress window through a
// whole import under the wait cursor, the update question answered with clicks, an error report's box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <deque>

#include "runtime/Text.h"
#include "tests/TestSupport.h"
#include "ui/ErrorHandling.h"
#include "windows/WindowScreen.h"

namespace varn {
namespace {

namespace fs = std::filesystem;
using namespace test;

bool WaitCursor() { return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor; }

// The window screen, watched from its own DoEvents: what the progress window shows there beside what
// the progress view last said ("caption|note|min-max: value", "" when hidden), and the cursor.
class WatchedScreen : public clsWindowScreen {
 public:
  void DrawProgress(const ProgressView& view) override {
    msSaid = view.bVisible ? view.sCaption + "|" + view.sNote + "|" + NumText(view.sngMin) + "-" +
                                 NumText(view.sngMax) + ": " + NumText(view.sngValue)
                           : "";
    clsWindowScreen::DrawProgress(view);
  }
  void DoEvents() override {
    clsWindowScreen::DoEvents();
    mvShown.push_back(Shown());
    mvSaid.push_back(msSaid);
    mbWaitThroughout &= WaitCursor();
  }
  static std::string Shown() {
    for (QWidget* pWindow : QApplication::topLevelWidgets()) {
      auto* pBar = pWindow->findChild<QProgressBar*>();
      if (!pBar || !pWindow->isVisible()) continue;
      QString sBar = QString("|%1-%2: %3").arg(pBar->minimum()).arg(pBar->maximum()).arg(pBar->value());
      return (pWindow->windowTitle() + "|" + pWindow->findChild<QLabel*>()->text() + sBar).toStdString();
    }
    return "";
  }

  std::string msSaid;
  Texts mvShown, mvSaid;
  bool mbWaitThroughout = true;
};

// Answers each modal box with the next button by a click, noting what it showed and the cursor over it
// (-1: the application's own); a box past the planned ones is closed unanswered.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(std::deque<QMessageBox::StandardButton> vButtons) : mvButtons(std::move(vButtons)) {
    QObject::connect(&mTimer, &QTimer::timeout, [this] { Answer(); });
    mTimer.start(10);
  }
  Texts mvSeen;

 private:
  void Answer() {
    auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!pBox) return;
    const QCursor* pCursor = QApplication::overrideCursor();
    mvSeen.push_back(QString("%1, icon %2, buttons %3, cursor %4: %5")
                         .arg(pBox->windowTitle())
                         .arg(pBox->icon())
                         .arg(pBox->standardButtons().toInt(), 0, 16)
                         .arg(pCursor ? pCursor->shape() : -1)
                         .arg(pBox->text())
                         .toStdString());
    if (mvButtons.empty()) return pBox->reject();
    QTest::mouseClick(pBox->button(mvButtons.front()), Qt::LeftButton);
    mvButtons.pop_front();
  }
  std::deque<QMessageBox::StandardButton> mvButtons;
  QTimer mTimer;
};

class Windows : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int nArgc = 1;
    static char sName[] = "windows_test", *vArgv[] = {sName, nullptr};
    // Never deleted: Qt's own statics end after it at the exit.
    new QApplication(nArgc, vArgv);
  }
  void TearDown() override { SetScreen(std::make_shared<clsRecordingUI>()); }
};

TEST_F(Windows, TheProgressWindowFollowsTheViewThroughAnImportUnderTheWaitCursor) {
  TempFolder folder;
  auto pScreen = std::make_shared<WatchedScreen>();
  SetScreen(pScreen);
  ASSERT_TRUE(OpenService(folder / "shop.mdb")->ProcessLogFile(SourceDir() + "/examples/14-03-2024.log"));
  // One pass of events for each item, and as many items as the bar counts.
  ASSERT_FALSE(pScreen->mvShown.empty());
  EXPECT_EQ(pScreen->mvShown.front(),
            " Please Wait...|Processing 14-03-2024.log|0-" + std::to_string(pScreen->mvShown.size()) + ": 0");
  EXPECT_EQ(pScreen->mvShown, pScreen->mvSaid);
  EXPECT_TRUE(pScreen->mbWaitThroughout);
  EXPECT_EQ(WatchedScreen::Shown(), "");
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Windows, TheUpdateQuestionIsAnsweredWithClicksAndAFailureShowsItsReport) {
  TempFolder folder;
  SetScreen(std::make_shared<clsWindowScreen>());
  std::string sDB = folder / "shop.mdb", sFresh = folder / "fresh.mdb";
  Texts vLogs;
  for (int nVersion : {0, 1}) {
    fs::create_directory(folder / std::to_string(nVersion));
    vLogs.push_back(WriteFile(folder / (std::to_string(nVersion) + "/14-03-2024.log"),
                              GeneratedDay("14/03/2024", 30, nVersion)));
  }
  ASSERT_TRUE(OpenService(sDB)->ProcessLogFile(vLogs[0]) && OpenService(sFresh)->ProcessLogFile(vLogs[1]));
  std::string sFirst = Dump(sDB, false);

  // No, Yes, then a read-only database: its report, and the import that finds no connection.
  BoxAnswerer answerer({QMessageBox::No, QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Ok});
  auto pService = OpenService(sDB);
  EXPECT_FALSE(pService->ProcessLogFile(vLogs[1]));
  EXPECT_EQ(FirstDifference(Dump(sDB, false), sFirst), "");
  EXPECT_TRUE(pService->ProcessLogFile(vLogs[1]));
  EXPECT_EQ(FirstDifference(Dump(sDB, false), Dump(sFresh, false)), "");
  fs::permissions(sDB, fs::perms::owner_read);
  EXPECT_FALSE(OpenService(sDB)->ProcessLogFile(vLogs[0]));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  const ErrorReport& report = LastErrorReport();
  EXPECT_NE(report.sDescription.find("the file is read-only"), std::string::npos);
  std::string sQuestion = "Varn Log Process, icon 4, buttons 14000, cursor 0: Records are already imported.\nDo you "
                          "wish to update?";
  Texts vExpected{sQuestion, sQuestion,
                  "Varn Log Process, icon 3, buttons 400, cursor -1: " + NumText(int64_t{report.lNumber}) + "\n" +
                      report.sSource + "\n" + Replace(report.sDescription, "\r\n", "\n"),
                  "Varn Log Process, icon 3, buttons 400, cursor 0: Not connected"};
  EXPECT_EQ(answerer.mvSeen, vExpected);
}

}  // namespace
}  // namespace varn
