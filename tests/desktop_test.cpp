// The desktop program as an operator uses it, on Qt's offscreen platform: a new database, a folder
// of logs dropped on the window, the same day again answered No and Yes, a day deleted after its
// confirmation, and an import that fails on a read-only database with the window still usable.
#include <gtest/gtest.h>

#include <QtWidgets>

#include "desktop/MainWindow.h"
#include "runtime/Text.h"
#include "tests/QtTestSupport.h"
#include "windows/WindowScreen.h"

namespace varn {
namespace {

namespace fs = std::filesystem;
using namespace test;

// Files and folders dropped on the window, as a file manager drops them.
void Drop(QWidget& window, const Texts& vPaths) {
  QMimeData data;
  QList<QUrl> vUrls;
  for (const auto& sPath : vPaths) vUrls.append(QUrl::fromLocalFile(QString::fromStdString(sPath)));
  data.setUrls(vUrls);
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window, &drop);
}

// The history table as shown, sorted by its log date column.
Rows Shown(QTableWidget* pTable) {
  pTable->sortItems(0);
  Rows vRows;
  for (int nRow = 0; nRow < pTable->rowCount(); ++nRow) {
    vRows.emplace_back();
    for (int n : {0, 2, 3, 4}) vRows.back().push_back(S(pTable->item(nRow, n)->text()));
  }
  return vRows;
}

// The same from the database itself.
Rows Stored(const std::string& sDB) {
  return SqlRows(sDB,
                 "SELECT LogDate, printf('%.2f', DateTotal), (SELECT COUNT(*) FROM Session s WHERE s.Date_ID = "
                 "d.Date_ID), (SELECT COUNT(*) FROM Shift s WHERE s.Date_ID = d.Date_ID) FROM DateRange d "
                 "ORDER BY substr(LogDate, 7) || substr(LogDate, 4, 2) || substr(LogDate, 1, 2)");
}

Texts ResultLines(QListWidget* pList) {
  Texts vLines;
  for (int n = 0; n < pList->count(); ++n) vLines.push_back(S(pList->item(n)->text()));
  return vLines;
}

TEST(Desktop, AnOperatorImportsAnswersDeletesAndSurvivesAFailureWithoutATerminal) {
  UseQApplication();
  SetScreen(std::make_shared<clsWindowScreen>());
  TempFolder folder;
  fs::create_directory(folder / "logs");
  for (int nDay = 1; nDay <= 3; ++nDay) {
    std::string sDay = "0" + std::to_string(nDay);
    WriteFile(folder / ("logs/" + sDay + "-03-2024.log"), GeneratedDay(sDay + "/03/2024", 10 + nDay));
  }
  WriteFile(folder / "logs/notes.txt", "not a log");
  const std::string sDB = folder / "new/shop.mdb";
  fs::create_directory(folder / "new");

  clsBoxGuard guard;
  clsMainWindow window;
  window.show();
  ASSERT_TRUE(window.OpenDatabase(sDB));
  EXPECT_EQ(window.History()->rowCount(), 0);
  Drop(window, {folder / "logs"});
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).size(), 3u);
  Texts vLines = ResultLines(window.Results());
  ASSERT_EQ(vLines.size(), 4u);
  EXPECT_EQ(vLines[0], "notes.txt: skipped (not a .log file)");
  EXPECT_TRUE(vLines[1].starts_with("01-03-2024.log: inserted 01/03/2024 (11 sessions")) << vLines[1];
  EXPECT_EQ(S(window.statusBar()->currentMessage()), "3 inserted, 0 updated, 0 skipped, 0 failed; 0 uncategorised, 0 unreadable lines");

  // The same day again, changed: No leaves it as it was, Yes makes it what its log now holds.
  const std::string sChanged = WriteFile(folder / "02-03-2024.log", GeneratedDay("02/03/2024", 15, 1));
  const Rows vBefore = Stored(sDB);
  Texts vSeen = Answered({QMessageBox::No, QMessageBox::Yes}, [&] {
    Drop(window, {sChanged});
    EXPECT_EQ(Stored(sDB), vBefore);
    EXPECT_EQ(ResultLines(window.Results()), Texts{"02-03-2024.log: skipped (already imported, not updated)"});
    Drop(window, {sChanged});
  });
  ASSERT_EQ(vSeen.size(), 2u);
  EXPECT_NE(vSeen[0].find("Records are already imported.\nDo you wish to update?"), std::string::npos) << vSeen[0];
  EXPECT_TRUE(ResultLines(window.Results()).at(0).starts_with("02-03-2024.log: updated 02/03/2024 (15 sessions"));
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).at(1).at(2), "15");

  // A day is deleted only once its deletion, naming what it holds, is answered Yes.
  const Texts vFirstDay = Stored(sDB).at(0);
  vSeen = Answered({QMessageBox::No, QMessageBox::Yes}, [&] {
    EXPECT_FALSE(window.DeleteDay("01/03/2024"));
    EXPECT_TRUE(window.DeleteDay("01/03/2024"));
  });
  ASSERT_EQ(vSeen.size(), 2u);
  EXPECT_TRUE(vSeen[1].ends_with(": Delete the log date 01/03/2024 (" + vFirstDay[2] + " sessions, " + vFirstDay[3] +
                                 " shifts) from the report database?"))
      << vSeen[1];
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).size(), 2u);
  EXPECT_EQ(SqlValue(sDB, "SELECT COUNT(*) FROM Session WHERE Date_ID NOT IN (SELECT Date_ID FROM DateRange)"), "0");

  // A read-only file does not open: its report shows and no database is in use until one opens. An
  // import the database refuses shows its report, changes nothing, and the window goes on.
  const std::string sReadOnly = WriteFile(folder / "read-only.mdb", ReadFile(sDB));
  fs::permissions(sReadOnly, fs::perms::owner_read);
  const std::string sLog = folder / "logs/01-03-2024.log";
  SqlExec(sDB, "CREATE TRIGGER refuse BEFORE INSERT ON Session BEGIN SELECT RAISE(ABORT, 'no sessions today'); END");
  vSeen = Answered({QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok}, [&] {
    EXPECT_FALSE(window.OpenDatabase(sReadOnly));
    EXPECT_EQ(window.History()->rowCount(), 0);
    Drop(window, {sLog});
    EXPECT_TRUE(window.OpenDatabase(sDB));
    Drop(window, {sLog});
  });
  ASSERT_EQ(vSeen.size(), 3u);
  EXPECT_NE(vSeen[0].find("read-only"), std::string::npos) << vSeen[0];
  EXPECT_TRUE(vSeen[1].ends_with(": No report database is open.")) << vSeen[1];
  EXPECT_NE(vSeen[2].find("no sessions today"), std::string::npos) << vSeen[2];
  EXPECT_EQ(ResultLines(window.Results()).at(0), "01-03-2024.log: failed (nothing written)");
  EXPECT_EQ(Stored(sDB).size(), 2u);
  SqlExec(sDB, "DROP TRIGGER refuse");
  Drop(window, {sLog});
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).size(), 3u);
  EXPECT_EQ(guard.mvUnanswered, Texts{});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QSettings().value("database").toString().toStdString(), sDB);
}

}  // namespace
}  // namespace varn
