#include "desktop/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "db/PostgresBackend.h"
#include "desktop/ReportPage.h"
#include "runtime/Text.h"
#include "service/ImportFiles.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

constexpr const char* kWindowTitle = "VarnLogImp";

QString Text(const std::string& s) { return QString::fromStdString(s); }
std::string Utf8(const QString& s) { return s.toStdString(); }

// A cell that sorts by a number (a date's serial, an amount, a count), shown as its text.
class clsSortItem : public QTableWidgetItem {
 public:
  clsSortItem(const QString& sText, double dblKey) : QTableWidgetItem(sText), mdblKey(dblKey) {
    setFlags(flags() & ~Qt::ItemIsEditable);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    const auto* pOther = dynamic_cast<const clsSortItem*>(&other);
    return pOther ? mdblKey < pOther->mdblKey : QTableWidgetItem::operator<(other);
  }

 private:
  double mdblKey;
};

double SortKeyOfDate(const std::string& sDate) {
  auto date = ParseDate(sDate);
  return date ? date->dSerial : 1e300;  // a date that cannot be read sorts last
}

// The default database's path; where there is none (no absolute HOME for an installed program's),
// its sign-on has just reported why.
std::string DefaultDatabaseName() {
  try {
    return DefaultDatabasePath();
  } catch (const clsError&) {
    return "(the default report database)";
  }
}

QString LastFolder() { return QSettings().value("folder", QDir::homePath()).toString(); }

}  // namespace

clsMainWindow::clsMainWindow()
    : mpPages(new QTabWidget(this)),
      mpHistory(new QTableWidget(0, 5, this)),
      mpResults(new QListWidget(this)),
      mpDatabaseLabel(new QLabel(this)),
      mpReport(new clsReportPage(this)) {
  setWindowTitle(kWindowTitle);
  setAcceptDrops(true);
  mpHistory->setHorizontalHeaderLabels({"Log date", "Imported on", "Day total", "Sessions", "Shifts"});
  mpHistory->setSortingEnabled(true);
  mpHistory->sortByColumn(0, Qt::AscendingOrder);
  mpHistory->setSelectionBehavior(QAbstractItemView::SelectRows);
  mpHistory->setSelectionMode(QAbstractItemView::SingleSelection);
  mpHistory->verticalHeader()->hide();
  mpHistory->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  mpHistory->horizontalHeader()->setStretchLastSection(true);
  mpResults->setSelectionMode(QAbstractItemView::ExtendedSelection);

  auto* pDays = new QWidget(this);
  auto* pLayout = new QVBoxLayout(pDays);
  pLayout->addWidget(mpDatabaseLabel);
  pLayout->addWidget(mpHistory, 3);
  pLayout->addWidget(new QLabel("Last import:", pDays));
  pLayout->addWidget(mpResults, 1);
  mpDatabaseLabel->setTextFormat(Qt::PlainText);
  mpPages->addTab(pDays, "Imported days");
  mpPages->addTab(mpReport, "Report");
  setCentralWidget(mpPages);
  mBuildMenus();
  statusBar()->showMessage("Drop log files or folders here to import them.");
  resize(960, 640);
}

void clsMainWindow::mBuildMenus() {
  QMenu* pFile = menuBar()->addMenu("&File");
  pFile->addAction("&New database...", this, [this] { mChooseDatabase(true); });
  pFile->addAction("&Open database...", this, [this] { mChooseDatabase(false); })->setShortcut(QKeySequence::Open);
  pFile->addAction("Open &server database...", this, [this] { mChooseServer(); });
  pFile->addSeparator();
  pFile->addAction("&Import files...", this, [this] { mChooseFiles(); })->setShortcut(QKeySequence("Ctrl+I"));
  pFile->addAction("Import &folder...", this, [this] { mChooseFolder(); });
  pFile->addSeparator();
  pFile->addAction("&Quit", this, [this] { close(); })->setShortcut(QKeySequence::Quit);
  QMenu* pEdit = menuBar()->addMenu("&Edit");
  pEdit->addAction("&Copy results", this, [this] { mCopyResults(); })->setShortcut(QKeySequence::Copy);
  QMenu* pView = menuBar()->addMenu("&View");
  pView->addAction("&Imported days", this, [this] { mpPages->setCurrentIndex(0); })
      ->setShortcut(QKeySequence("Ctrl+1"));
  pView->addAction("&Report", this, [this] { mpPages->setCurrentIndex(1); })->setShortcut(QKeySequence("Ctrl+2"));
  QMenu* pDay = menuBar()->addMenu("&Day");
  pDay->addAction("&Delete day...", this, [this] { mDeleteSelectedDay(); })->setShortcut(QKeySequence::Delete);
}

bool clsMainWindow::OpenDatabase(const std::string& sDatabase, const std::string& sPassword) {
  // The password goes to the server with this sign-on only, and is forgotten after it.
  GlobalDatabaseSettings().sPassword = sPassword;
  auto pService = clsLogAnalysis::Create();
  pService->Initialize(sDatabase);
  GlobalDatabaseSettings().sPassword.clear();
  const std::string sShown = ShownAddress(sDatabase.empty() ? DefaultDatabaseName() : sDatabase);
  // The component works on the database it opened last: a failed open leaves none in use.
  const bool bOpen = pService->IsConnected();
  mpService = bOpen ? pService : nullptr;
  msDatabase = bOpen ? sDatabase : std::string();
  mpDatabaseLabel->setText(Text(bOpen ? "Report database: " + sShown : "No report database is open."));
  if (!bOpen) {
    mRefreshHistory();
    setWindowTitle(kWindowTitle);
    mShowStatus(Text("Cannot open the report database " + sShown));
    return false;
  }
  setWindowTitle(Text(std::string(kWindowTitle) + " - " + sShown));
  QSettings().setValue("database", Text(sDatabase));
  mRefreshHistory();
  mShowStatus(Text("Opened " + sShown));
  return true;
}

void clsMainWindow::mRefreshHistory() {
  // The days may have changed: the report page must not go on showing what they added up to.
  mpReport->UseService(mpService);
  mpHistory->setSortingEnabled(false);
  mpHistory->setRowCount(0);
  if (!mpService) return;
  mpService->GetHistoryDates();
  const std::vector<HistoryLine> vDays = mpService->DateHistory();
  const std::map<int32_t, DayCounts> counts = mpService->CountsByDay();
  mpHistory->setRowCount(static_cast<int>(vDays.size()));
  for (int nRow = 0; nRow < static_cast<int>(vDays.size()); ++nRow) {
    const HistoryLine& day = vDays[nRow];
    auto it = counts.find(day.lDate_ID);
    DayCounts dayCounts = it == counts.end() ? DayCounts{} : it->second;
    mpHistory->setItem(nRow, 0, new clsSortItem(Text(day.sLogDate), SortKeyOfDate(day.sLogDate)));
    mpHistory->setItem(nRow, 1, new clsSortItem(Text(day.sImported), SortKeyOfDate(day.sImported)));
    mpHistory->setItem(nRow, 2, new clsSortItem(QString::number(day.dblTotal, 'f', 2), day.dblTotal));
    mpHistory->setItem(nRow, 3, new clsSortItem(QString::number(dayCounts.lSessions), dayCounts.lSessions));
    mpHistory->setItem(nRow, 4, new clsSortItem(QString::number(dayCounts.lShifts), dayCounts.lShifts));
    for (int nColumn = 2; nColumn < 5; ++nColumn) {
      mpHistory->item(nRow, nColumn)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
  }
  mpHistory->setSortingEnabled(true);
}

void clsMainWindow::ImportPaths(const QStringList& vPaths) {
  if (!mpService) {
    Screen().MsgBox("No report database is open.", vbOKOnly + vbCritical, kAppTitle);
    return;
  }
  mpResults->clear();
  ImportTally tally;
  for (const QString& sPath : vPaths) {
    std::vector<FileImport> vSkipped;
    const std::vector<std::string> vFiles = LogFilesOf(Utf8(sPath), vSkipped);
    for (const FileImport& skipped : vSkipped) mpResults->addItem(Text(skipped.Line()));
    if (vFiles.empty()) mpResults->addItem(sPath + ": no log files (named by their date) in this folder");
    for (const std::string& sFile : vFiles) {
      const FileImport file = ImportLogFile(*mpService, sFile);
      tally.Add(file);
      mpResults->addItem(Text(file.Line()));
      file.ForEachReject([&](std::string_view sHeading, std::string_view sLine) {
        mpResults->addItem(Text("    " + FileImport::Shown(sHeading, sLine)));
      });
    }
    QFileInfo info(sPath);
    QSettings().setValue("folder", info.isDir() ? info.absoluteFilePath() : info.absolutePath());
  }
  mRefreshHistory();
  mShowStatus(Text(tally.Line()));
}

bool clsMainWindow::DeleteDay(const QString& sLogDate) {
  if (!mpService) return false;
  auto pHistory = mpService->HistoryLogDates();
  const std::string sKey = Utf8(sLogDate);
  if (!pHistory || !pHistory->Exists(sKey)) {
    Screen().MsgBox(sKey + " is not imported.", vbOKOnly + vbCritical, kAppTitle);
    return false;
  }
  const DayCounts counts = mpService->CountsOfDay(pHistory->Item(sKey)->Date_ID());
  if (Screen().MsgBox(DeletionQuestion(sKey, counts), vbYesNo + vbQuestion, kAppTitle) != vbYes) return false;
  const bool bDeleted = mpService->DeleteLogDate(sKey);
  if (bDeleted) mShowStatus(Text(DeletionDone(sKey, mpService->RowsRemoved())));
  mRefreshHistory();
  return bDeleted;
}

void clsMainWindow::mDeleteSelectedDay() {
  const QList<QTableWidgetItem*> vSelected = mpHistory->selectedItems();
  if (vSelected.isEmpty()) {
    Screen().MsgBox("Choose the day to delete in the table first.", vbOKOnly, kAppTitle);
    return;
  }
  DeleteDay(mpHistory->item(vSelected.first()->row(), 0)->text());
}

void clsMainWindow::mShowStatus(const QString& sText) { statusBar()->showMessage(sText); }

void clsMainWindow::mChooseFiles() {
  QStringList vFiles =
      QFileDialog::getOpenFileNames(this, "Import log files", LastFolder(), "Logs (*.log);;All files (*)");
  if (!vFiles.isEmpty()) ImportPaths(vFiles);
}

void clsMainWindow::mChooseFolder() {
  QString sFolder = QFileDialog::getExistingDirectory(this, "Import every log of a folder", LastFolder());
  if (!sFolder.isEmpty()) ImportPaths({sFolder});
}

void clsMainWindow::mChooseDatabase(bool bNew) {
  const QString sFilter = "Report databases (*.mdb *.db *.sqlite);;All files (*)";
  QString sPath = bNew ? QFileDialog::getSaveFileName(this, "New report database", LastFolder(), sFilter)
                       : QFileDialog::getOpenFileName(this, "Open report database", LastFolder(), sFilter);
  if (!sPath.isEmpty()) OpenDatabase(Utf8(sPath));
}

void clsMainWindow::mChooseServer() {
  bool bOk = false;
  QString sAddress =
      QInputDialog::getText(this, "Open server database",
                            "Address (postgresql://user@host/database):", QLineEdit::Normal, "postgresql://", &bOk);
  if (!bOk || sAddress.isEmpty()) return;
  if (!IsPostgresUri(Utf8(sAddress))) {
    Screen().MsgBox("A server database's address starts with postgresql://", vbOKOnly + vbCritical, kAppTitle);
    return;
  }
  QString sPassword =
      QInputDialog::getText(this, "Open server database", "Password (empty: none):", QLineEdit::Password, {}, &bOk);
  if (bOk) OpenDatabase(Utf8(sAddress), Utf8(sPassword));
}

void clsMainWindow::mCopyResults() {
  QStringList vLines;
  QList<QListWidgetItem*> vItems = mpResults->selectedItems();
  if (vItems.isEmpty()) {
    for (int n = 0; n < mpResults->count(); ++n) vItems.append(mpResults->item(n));
  }
  for (QListWidgetItem* pItem : vItems) vLines.append(pItem->text());
  QApplication::clipboard()->setText(vLines.join('\n'));
}

void clsMainWindow::dragEnterEvent(QDragEnterEvent* pEvent) {
  if (pEvent->mimeData()->hasUrls()) pEvent->acceptProposedAction();
}

void clsMainWindow::dropEvent(QDropEvent* pEvent) {
  QStringList vPaths;
  for (const QUrl& url : pEvent->mimeData()->urls()) {
    if (url.isLocalFile()) vPaths.append(url.toLocalFile());
  }
  pEvent->acceptProposedAction();
  if (!vPaths.isEmpty()) ImportPaths(vPaths);
}

}  // namespace varn
