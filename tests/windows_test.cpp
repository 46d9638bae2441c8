// The windows as a desktop user meets them, on Qt's offscreen platform: the progress window through a
// whole import under the wait cursor, the update question answered with clicks, an error report's box.
#include <gtest/gtest.h>

#include <QTest>
#include <QtWidgets>

#include "runtime/Text.h"
#include "tests/QtTestSupport.h"
#include "ui/ErrorHandling.h"
#include "windows/WindowScreen.h"

namespace varn {
namespace {

namespace fs = std::filesystem;
using namespace test;

// "caption|note|min-max: value", as the progress window or the progress view holds it.
std::string Look(const std::string& sCaption, const std::string& sNote, double dMin, double dMax, double dValue) {
  return sCaption + "|" + sNote + "|" + NumText(dMin) + "-" + NumText(dMax) + ": " + NumText(dValue);
}

// The window screen, watched from its own DoEvents: the progress window as shown there ("" when hidden)
// beside what the progress view last said, and the cursor.
class WatchedScreen : public clsWindowScreen {
 public:
  void DrawProgress(const ProgressView& v) override {
    msSaid = v.bVisible ? Look(v.sCaption, v.sNote, v.sngMin, v.sngMax, v.sngValue) : "";
    clsWindowScreen::DrawProgress(v);
  }
  void DoEvents() override {
    clsWindowScreen::DoEvents();
    mvShown.push_back(Shown()), mvSaid.push_back(msSaid);
    mbWaitThroughout &= QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
  }
  static std::string Shown() {
    for (QWidget* pWindow : QApplication::topLevelWidgets())
      if (auto* pBar = pWindow->findChild<QProgressBar*>(); pBar && pWindow->isVisible())
        return Look(S(pWindow->windowTitle()), S(pWindow->findChild<QLabel*>()->text()), pBar->minimum(),
                    pBar->maximum(), pBar->value());
    return "";
  }
  std::string msSaid;
  Texts mvShown, mvSaid;
  bool mbWaitThroughout = true;
};

TEST(Windows, ProgressQuestionsReportsAndTheWaitCursorAsADesktopUserMeetsThem) {
  UseQApplication();
  TempFolder folder;
  auto pScreen = std::make_shared<WatchedScreen>();
  SetScreen(pScreen);
  ASSERT_TRUE(OpenService(folder / "first.mdb")->ProcessLogFile(SourceDir() + "/examples/14-03-2024.log"));
  // One pass of events for each item, and as many items as the bar counts.
  EXPECT_EQ(pScreen->mvShown.at(0),
            " Please Wait...|Processing 14-03-2024.log|0-" + NumText(int64_t(pScreen->mvShown.size())) + ": 0");
  EXPECT_EQ(pScreen->mvShown, pScreen->mvSaid);
  EXPECT_TRUE(pScreen->mbWaitThroughout);
  EXPECT_EQ(WatchedScreen::Shown() + (QApplication::overrideCursor() ? "wait cursor" : ""), "");

  SetScreen(std::make_shared<clsWindowScreen>());
  std::string sDB = folder / "shop.mdb", sFresh = folder / "fresh.mdb", vLogs[2];
  for (int n : {0, 1})
    fs::create_directory(folder / NumText(int64_t{n})),
        vLogs[n] = WriteFile(folder / (NumText(int64_t{n}) + "/14-03-2024.log"), GeneratedDay("14/03/2024", 30, n));
  ASSERT_TRUE(OpenService(sDB)->ProcessLogFile(vLogs[0]) && OpenService(sFresh)->ProcessLogFile(vLogs[1]));
  std::string sFirst = Dump(sDB, false);
  // No, Yes, then a read-only database: its report, and the import that finds no connection.
  Texts vSeen = Answered({QMessageBox::No, QMessageBox::Yes, QMessageBox::Ok, QMessageBox::Ok}, [&] {
    auto pService = OpenService(sDB);
    EXPECT_FALSE(pService->ProcessLogFile(vLogs[1]));
    EXPECT_EQ(FirstDifference(Dump(sDB, false), sFirst), "");
    EXPECT_TRUE(pService->ProcessLogFile(vLogs[1]));
    EXPECT_EQ(FirstDifference(Dump(sDB, false), Dump(sFresh, false)), "");
    fs::permissions(sDB, fs::perms::owner_read);
    EXPECT_FALSE(OpenService(sDB)->ProcessLogFile(vLogs[0]));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  });
  const ErrorReport& report = LastErrorReport();
  EXPECT_NE(report.sDescription.find("the file is read-only"), std::string::npos);
  std::string sBox = "Varn Log Process, icon ";
  std::string sQuestion = sBox + "4, buttons 81920, cursor 0: Records are already imported.\nDo you wish to update?";
  EXPECT_EQ(vSeen, Texts({sQuestion, sQuestion,
                          sBox + "3, buttons 1024, cursor -1: " + NumText(int64_t{report.lNumber}) + "\n" +
                              report.sSource + "\n" + Replace(report.sDescription, "\r\n", "\n"),
                          sBox + "3, buttons 1024, cursor 0: Not connected"}));
}

}  // namespace
}  // namespace varn
