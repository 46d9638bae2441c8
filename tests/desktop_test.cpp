// The desktop program as an operator uses it, on Qt's offscreen platform: a new database, a folder
// of logs dropped on the window, the same day again answered No and Yes, a day deleted after its
// confirmation, and an import that fails on a read-only database with the window still usable;
// the Report page of the days imported.
#include <gtest/gtest.h>

#include <QtCharts>
#include <QtWidgets>

#include "desktop/MainWindow.h"
#include "desktop/ReportPage.h"
#include "report/Tables.h"
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

// A table's cells as the page shows them, and as the report layer writes them.
Rows Cells(QTableWidget* pTable) {
  Rows vRows(pTable->rowCount());
  for (int nRow = 0; nRow < pTable->rowCount(); ++nRow) {
    for (int n = 0; n < pTable->columnCount(); ++n) {
      vRows[nRow].push_back(pTable->item(nRow, n) ? S(pTable->item(nRow, n)->text()) : "(no cell)");
    }
  }
  return vRows;
}

Rows Cells(const ReportTable& table) {
  Rows vRows;
  for (const auto& vRow : table.vRows) {
    vRows.emplace_back();
    for (const ReportCell& cell : vRow) vRows.back().push_back(CellText(cell));
  }
  return vRows;
}

// The values a chart draws: its pie's slices, or its one set of bars.
std::vector<double> Values(QChart* pChart) {
  std::vector<double> vValues;
  if (auto* pPie = qobject_cast<QPieSeries*>(pChart->series().at(0))) {
    for (QPieSlice* pSlice : pPie->slices()) vValues.push_back(pSlice->value());
  } else {
    QBarSet* pSet = qobject_cast<QAbstractBarSeries*>(pChart->series().at(0))->barSets().at(0);
    for (int n = 0; n < pSet->count(); ++n) vValues.push_back(pSet->at(n));
  }
  return vValues;
}

TEST(Desktop, AnOperatorImportsAnswersDeletesReportsAndSurvivesFailuresWithoutATerminal) {
  UseQApplication();
  SetScreen(std::make_shared<clsWindowScreen>());
  TempFolder folder;
  fs::create_directory(folder / "logs");
  for (const std::string sDay : {"29/02/2024", "01/03/2024", "02/03/2024", "03/03/2024"}) {
    WriteFile(folder / ("logs/" + Replace(sDay, "/", "-") + ".log"), GeneratedDay(sDay, 10 + sDay[1] - '0'));
  }
  WriteFile(folder / "logs/notes.txt", "not a log");
  const std::string sDB = folder / "new/shop.mdb";
  fs::create_directory(folder / "new");

  clsBoxGuard guard;
  clsMainWindow window;
  window.show();
  ASSERT_TRUE(window.OpenDatabase(sDB));
  EXPECT_EQ(S(window.statusBar()->currentMessage()), "Opened " + sDB);
  EXPECT_EQ(window.History()->rowCount(), 0);
  Drop(window, {folder / "logs"});
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).size(), 4u);
  Texts vLines = ResultLines(window.Results());
  ASSERT_EQ(vLines.size(), 5u);
  EXPECT_EQ(vLines[0], "notes.txt: skipped (not a .log file)");
  EXPECT_TRUE(vLines[2].starts_with("01-03-2024.log: inserted 01/03/2024 (11 sessions")) << vLines[2];
  EXPECT_EQ(S(window.statusBar()->currentMessage()),
            "4 inserted, 0 updated, 0 skipped, 0 failed; 0 uncategorised, 0 unreadable lines");

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
  EXPECT_EQ(Stored(sDB).at(2).at(2), "15");

  // A day is deleted only once its deletion, naming what it holds, is answered Yes.
  const Texts vFirstDay = Stored(sDB).at(1);
  vSeen = Answered({QMessageBox::No, QMessageBox::Yes}, [&] {
    EXPECT_FALSE(window.DeleteDay("01/03/2024"));
    EXPECT_TRUE(window.DeleteDay("01/03/2024"));
  });
  ASSERT_EQ(vSeen.size(), 2u);
  EXPECT_TRUE(vSeen[1].ends_with(": Delete the log date 01/03/2024 (" + vFirstDay[2] + " sessions, " + vFirstDay[3] +
                                 " shifts) from the report database?"))
      << vSeen[1];
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).size(), 3u);
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
    EXPECT_EQ(Shown(window.History()), Stored(sDB));
    Drop(window, {sLog});
  });
  ASSERT_EQ(vSeen.size(), 3u);
  EXPECT_NE(vSeen[0].find("read-only"), std::string::npos) << vSeen[0];
  EXPECT_TRUE(vSeen[1].ends_with(": No report database is open.")) << vSeen[1];
  EXPECT_NE(vSeen[2].find("no sessions today"), std::string::npos) << vSeen[2];
  EXPECT_EQ(ResultLines(window.Results()).at(0), "01-03-2024.log: failed (nothing written)");
  EXPECT_EQ(Stored(sDB).size(), 3u);
  SqlExec(sDB, "DROP TRIGGER refuse");
  Drop(window, {sLog});
  EXPECT_EQ(Shown(window.History()), Stored(sDB));
  EXPECT_EQ(Stored(sDB).size(), 4u);
  EXPECT_EQ(QSettings().value("database").toString().toStdString(), sDB);


  // The Report page, opened, shows the month of the latest day as the report layer computes and writes
  // it; one day's total is not the sum of its sessions.
  SqlExec(sDB, "UPDATE DateRange SET DateTotal = DateTotal + 1.5 WHERE LogDate = '03/03/2024'");
  auto& page = dynamic_cast<clsReportPage&>(*window.Pages()->widget(1));
  window.Pages()->setCurrentIndex(1);
  ASSERT_TRUE(page.ShowReport());
  const Report march = ComputeReport(*OpenService(sDB)->DBConnection()->DBConnection(), *MonthPeriod("2024-03"));
  ASSERT_EQ(march.vDays.size(), 3u);
  ASSERT_EQ(march.summary.lDifferingDays, 1);
  for (const ReportTable& table : ReportTables(march)) EXPECT_EQ(Cells(page.Table(table.sName)), Cells(table));
  const std::string sMarchDays = "(SELECT Date_ID FROM DateRange WHERE LogDate LIKE '%/03/2024')";
  EXPECT_EQ(Cells(page.Table("summary")).at(7).at(0), "Session totals");
  EXPECT_EQ(Replace(Cells(page.Table("summary")).at(7).at(1), ",", ""),
            SqlValue(sDB, "SELECT printf('%.2f', SUM(Total)) FROM Session WHERE Date_ID IN " + sMarchDays));
  std::vector<double> vDayTotals, vStarted;
  for (const ReportDay& day : march.vDays) vDayTotals.push_back(day.dblDayTotal);
  for (const ReportHour& hour : march.vHours) vStarted.push_back(static_cast<double>(hour.lSessionsStarted));
  EXPECT_EQ(Values(page.Chart("days")), vDayTotals);
  EXPECT_EQ(Values(page.Chart("hours")), vStarted);
  EXPECT_EQ(Values(page.Chart("categories")).size(), march.vCategories.size());
  EXPECT_EQ(Values(page.Chart("pcs")).size(), march.vPCs.size());

  // Its page, the same bytes as the command line's.
  ASSERT_TRUE(page.SaveHtml(QString::fromStdString(folder / "page.html")));
  const RunResult run = RunVarnlog({"--db", sDB, "report", "--month", "2024-03", "--html", folder / "cli.html"});
  EXPECT_EQ(Unexpected(run, 0), "");
  EXPECT_NE(ReadFile(folder / "page.html").find("Takings report, 01/03/2024 to 31/03/2024"), std::string::npos);
  EXPECT_EQ(ReadFile(folder / "page.html"), ReadFile(folder / "cli.html"));

  // A month without a day, and a database that cannot be read, are reported; the page goes on.
  vSeen = Answered({QMessageBox::Ok, QMessageBox::Ok}, [&] {
    page.Month()->setDate(QDate(2024, 1, 1));
    EXPECT_FALSE(page.ShowReport());
    page.Month()->setDate(QDate(2024, 2, 1));
    SqlExec(sDB, "ALTER TABLE Session RENAME TO Gone");
    EXPECT_FALSE(page.ShowReport());
  });
  ASSERT_EQ(vSeen.size(), 2u);
  EXPECT_TRUE(vSeen[0].ends_with(": No day from 01/01/2024 to 31/01/2024 is imported.")) << vSeen[0];
  EXPECT_NE(vSeen[1].find("clsReportPage:ShowReport"), std::string::npos) << vSeen[1];
  EXPECT_EQ(page.Table("days")->rowCount(), 0);
  SqlExec(sDB, "ALTER TABLE Gone RENAME TO Session");
  ASSERT_TRUE(page.ShowReport());
  EXPECT_EQ(Cells(page.Table("days")).at(0).at(0), "29/02/2024");
  EXPECT_EQ(guard.mvUnanswered, Texts{});
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace varn
