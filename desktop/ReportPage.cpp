#include "desktop/ReportPage.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPieSeries>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QShowEvent>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QValueAxis>
#include <cmath>

#include "report/Tables.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

// The amber the HTML page marks a day with whose total differs from the sum of its sessions.
const QColor kMarked(0xe0, 0x8a, 0x00);

QString Text(const std::string& s) { return QString::fromStdString(s); }
std::string Utf8(const QString& s) { return s.toStdString(); }

Date DateOf(const QDate& date) { return DateSerial(date.year(), date.month(), date.day()); }
QDate QDateOf(Date dt) { return QDate(1899, 12, 30).addDays(static_cast<qint64>(std::floor(dt.dSerial))); }

// The chart over a table, as the HTML page draws one; nullptr for a table without.
const char* ChartTitle(const std::string& sTable) {
  if (sTable == "days") return "Takings per day (amber: the day's total differs from the sum of its sessions)";
  if (sTable == "categories") return "Takings by user category";
  if (sTable == "pcs") return "Hours of use per PC";
  if (sTable == "hours") return "Sessions started by hour of the day";
  return nullptr;
}

struct Bar {
  QString sLabel;  // unique within a chart: a category axis keeps one of each
  double dblValue;
  bool bMarked = false;
};

// One set of bars, labelled under them, over a value axis from 0.
void ShowBars(QChart* pChart, const std::vector<Bar>& vBars) {
  auto* pSeries = new QBarSeries;
  auto* pSet = new QBarSet(pChart->title());
  auto* pLabels = new QBarCategoryAxis;
  for (size_t n = 0; n < vBars.size(); ++n) {
    pSet->append(vBars[n].dblValue);
    pLabels->append(vBars[n].sLabel);
    if (vBars[n].bMarked) pSet->selectBar(static_cast<int>(n));
  }
  pSet->setSelectedColor(kMarked);
  pSeries->append(pSet);
  pChart->addSeries(pSeries);
  auto* pValues = new QValueAxis;
  pChart->addAxis(pLabels, Qt::AlignBottom);
  pChart->addAxis(pValues, Qt::AlignLeft);
  pSeries->attachAxis(pLabels);
  pSeries->attachAxis(pValues);
  pValues->setMin(0);
  pValues->applyNiceNumbers();
  pValues->setLabelFormat("%g");
}

void ShowCategories(QChart* pChart, const Report& report) {
  auto* pPie = new QPieSeries;
  for (const ReportCategory& category : report.vCategories) {
    const std::string sLabel = VisibleText(category.sName) + " " + CellText({enuMoneyCell, category.dblTakings, {}}) +
                               " (" + CellText({enuShareCell, category.dblShare, {}}) + ")";
    pPie->append(Text(sLabel), category.dblTakings)->setLabelVisible(true);
  }
  pChart->addSeries(pPie);
}

void EmptyChart(QChart* pChart) {
  pChart->removeAllSeries();
  for (QAbstractAxis* pAxis : pChart->axes()) {
    pChart->removeAxis(pAxis);
    delete pAxis;
  }
}

}  // namespace

clsReportPage::clsReportPage(QWidget* pParent)
    : QWidget(pParent),
      mpByMonth(new QRadioButton("&Month", this)),
      mpMonth(new QDateEdit(QDate::currentDate(), this)),
      mpFrom(new QDateEdit(QDate::currentDate(), this)),
      mpTo(new QDateEdit(QDate::currentDate(), this)),
      mpShow(new QPushButton("&Show", this)),
      mpSave(new QPushButton("Save as &HTML...", this)),
      mpState(new QLabel(this)) {
  auto* pByDays = new QRadioButton("&From", this);
  mpMonth->setDisplayFormat("MM/yyyy");
  for (QDateEdit* pEdit : {mpFrom, mpTo}) {
    pEdit->setDisplayFormat("dd/MM/yyyy");
    pEdit->setCalendarPopup(true);
    pEdit->setEnabled(false);
  }
  mpByMonth->setChecked(true);
  connect(mpByMonth, &QRadioButton::toggled, this, [this](bool bByMonth) {
    mpMonth->setEnabled(bByMonth);
    mpFrom->setEnabled(!bByMonth);
    mpTo->setEnabled(!bByMonth);
  });
  connect(mpShow, &QPushButton::clicked, this, [this] { ShowReport(); });
  connect(mpSave, &QPushButton::clicked, this, [this] { mChooseFile(); });

  auto* pPicker = new QHBoxLayout;
  for (QWidget* pWidget :
       std::initializer_list<QWidget*>{mpByMonth, mpMonth, pByDays, mpFrom, new QLabel("to", this), mpTo, mpShow}) {
    pPicker->addWidget(pWidget);
  }
  pPicker->addStretch();
  pPicker->addWidget(mpSave);
  auto* pSections = new QTabWidget(this);
  for (const ReportTable& table : ReportTables(Report{})) pSections->addTab(mNewSection(table), Text(table.sTitle));
  mpState->setTextFormat(Qt::PlainText);
  auto* pLayout = new QVBoxLayout(this);
  pLayout->addLayout(pPicker);
  pLayout->addWidget(mpState);
  pLayout->addWidget(pSections, 1);
  UseService(nullptr);
}

// A table with its note under it, below its chart when it has one.
QWidget* clsReportPage::mNewSection(const ReportTable& table) {
  const std::string& sName = table.sName;
  auto* pSection = new QWidget;
  auto* pTable = new QTableWidget(0, static_cast<int>(table.vColumns.size()), pSection);
  auto* pNote = new QLabel(pSection);
  QStringList vHeadings;
  for (const ReportColumn& column : table.vColumns) vHeadings.append(column.sHeading);
  pTable->setHorizontalHeaderLabels(vHeadings);
  pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  pTable->verticalHeader()->hide();
  pTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  pNote->setWordWrap(true);
  pNote->setTextFormat(Qt::PlainText);
  auto* pLayout = new QVBoxLayout(pSection);
  pLayout->addWidget(pTable, 1);
  pLayout->addWidget(pNote);
  mTables[sName] = pTable;
  mNotes[sName] = pNote;
  const char* sChartTitle = ChartTitle(sName);
  if (!sChartTitle) return pSection;
  auto* pChart = new QChart;
  pChart->setTitle(sChartTitle);
  pChart->legend()->hide();
  auto* pView = new QChartView(pChart);
  pView->setRenderHint(QPainter::Antialiasing);
  pView->setMinimumHeight(200);
  mCharts[sName] = pChart;
  auto* pSplitter = new QSplitter(Qt::Vertical);
  pSplitter->addWidget(pView);
  pSplitter->addWidget(pSection);
  pSplitter->setSizes({1, 1});  // in proportion: the chart and the table share the height
  return pSplitter;
}

void clsReportPage::UseService(std::shared_ptr<clsLogAnalysis> pService) {
  mpService = std::move(pService);
  mpShow->setEnabled(mpService != nullptr);
  mClear(mpService ? "Pick a month, or the first and the last day, and Show their report."
                   : "No report database is open.");
  std::optional<ReportPeriod> days;
  clsTrap trap("clsReportPage:UseService");
  // Only the picker's defaults depend on it: a database that cannot be read is reported when a
  // report is asked of it, as the days' history has just reported it.
  trap.Handle([](const clsError&) { return true; });
  trap.Run([&] {
    if (mpService) days = ImportedDays(*mpService->DBConnection()->DBConnection());
  });
  mbHasDays = days.has_value();
  if (!days) return;
  mpMonth->setDate(QDateOf(days->dtTo));
  mpFrom->setDate(QDateOf(days->dtFrom));
  mpTo->setDate(QDateOf(days->dtTo));
}

void clsReportPage::showEvent(QShowEvent* pEvent) {
  QWidget::showEvent(pEvent);
  if (!mReport && mbHasDays && mpByMonth->isChecked()) ShowReport();
}

ReportPeriod clsReportPage::mPickedPeriod() const {
  if (!mpByMonth->isChecked()) return {DateOf(mpFrom->date()), DateOf(mpTo->date())};
  return MonthOf(DateSerial(mpMonth->date().year(), mpMonth->date().month(), 1));
}

bool clsReportPage::ShowReport() {
  const ReportPeriod period = mPickedPeriod();
  mClear({});
  if (!mpService) {
    Screen().MsgBox("No report database is open.", vbOKOnly + vbCritical, kAppTitle);
    return false;
  }
  if (period.dtTo.dSerial < period.dtFrom.dSerial) {
    Screen().MsgBox("The period ends on " + FormatDate(period.dtTo, "dd/mm/yyyy") + " before it starts on " +
                        FormatDate(period.dtFrom, "dd/mm/yyyy") + ".",
                    vbOKOnly + vbCritical, kAppTitle);
    return false;
  }
  std::optional<Report> report;
  clsTrap trap("clsReportPage:ShowReport");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("01");
    report = ComputeReport(*mpService->DBConnection()->DBConnection(), period);
  });
  if (!report) return false;
  if (report->summary.lDays == 0) {
    Screen().MsgBox("No day from " + PeriodText(period) + " is imported.", vbOKOnly + vbCritical, kAppTitle);
    return false;
  }
  mShowTables(*report);
  mShowCharts(*report);
  mReport = std::move(report);
  mpSave->setEnabled(true);
  mpState->setText(Text("Takings report, " + PeriodText(period)));
  return true;
}

void clsReportPage::mShowTables(const Report& report) {
  for (const ReportTable& table : ReportTables(report)) {
    QTableWidget* pTable = mTables.at(table.sName);
    pTable->setRowCount(static_cast<int>(table.vRows.size()));
    for (int nRow = 0; nRow < pTable->rowCount(); ++nRow) {
      for (int nColumn = 0; nColumn < pTable->columnCount(); ++nColumn) {
        const ReportCell& cell = table.vRows[nRow][nColumn];
        auto* pItem = new QTableWidgetItem(Text(VisibleText(CellText(cell))));
        if (cell.eKind != enuTextCell) pItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        if (cell.bMarked) pItem->setBackground(kMarked.lighter(170));
        pTable->setItem(nRow, nColumn, pItem);
      }
    }
    mNotes.at(table.sName)->setText(Text(VisibleText(table.sNote)));
  }
}

void clsReportPage::mShowCharts(const Report& report) {
  // The shortest label that names each day once: its day of a month, its day and month within a
  // year (a category axis drops labels that repeat).
  const QDate first = QDateOf(report.period.dtFrom), last = QDateOf(report.period.dtTo);
  const bool bOneMonth = first.year() == last.year() && first.month() == last.month();
  const bool bWithinAYear = report.period.dtTo.dSerial - report.period.dtFrom.dSerial < 365;
  const QString sLabel = bOneMonth ? "d" : bWithinAYear ? "dd/MM" : "dd/MM/yy";
  std::vector<Bar> vDays, vPCs, vHours;
  for (const ReportDay& day : report.vDays) {
    vDays.push_back({QDateOf(day.dtLogDate).toString(sLabel), day.dblDayTotal, day.Differs()});
  }
  for (const ReportPC& pc : report.vPCs) vPCs.push_back({Text(VisibleText(pc.sPC)), pc.lMinutesUsed / 60.0});
  for (const ReportHour& hour : report.vHours) {
    vHours.push_back({QString("%1").arg(hour.nHour, 2, 10, QChar('0')), static_cast<double>(hour.lSessionsStarted)});
  }
  ShowBars(mCharts.at("days"), vDays);
  ShowCategories(mCharts.at("categories"), report);
  ShowBars(mCharts.at("pcs"), vPCs);
  ShowBars(mCharts.at("hours"), vHours);
}

void clsReportPage::mClear(const QString& sState) {
  mReport.reset();
  for (const auto& [sName, pTable] : mTables) pTable->setRowCount(0);
  for (const auto& [sName, pNote] : mNotes) pNote->clear();
  for (const auto& [sName, pChart] : mCharts) EmptyChart(pChart);
  mpSave->setEnabled(false);
  mpState->setText(sState);
}

bool clsReportPage::SaveHtml(const QString& sPath) {
  if (!mReport) {
    Screen().MsgBox("Show a report first.", vbOKOnly, kAppTitle);
    return false;
  }
  const std::string sFile = Utf8(sPath);
  if (!WriteReportPage(*mReport, sFile)) {
    Screen().MsgBox("Cannot write " + sFile, vbOKOnly + vbCritical, kAppTitle);
    return false;
  }
  mpState->setText(Text("Wrote the report of " + PeriodText(mReport->period) + " to " + sFile));
  return true;
}

void clsReportPage::mChooseFile() {
  const ReportPeriod& period = mReport->period;
  const QString sName = "takings " + QDateOf(period.dtFrom).toString(Qt::ISODate) + " to " +
                        QDateOf(period.dtTo).toString(Qt::ISODate) + ".html";
  const QString sFolder = QSettings().value("folder", QDir::homePath()).toString();
  const QString sPath = QFileDialog::getSaveFileName(this, "Save the report as HTML", sFolder + "/" + sName,
                                                     "Web pages (*.html *.htm);;All files (*)");
  if (!sPath.isEmpty()) SaveHtml(sPath);
}

}  // namespace varn
