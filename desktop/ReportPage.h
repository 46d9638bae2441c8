// varnlog-desktop's Report page: what a month, or the days from one date to another, of the
// imported days add up to. The report layer computes it through the import service's connection
// and lays it out: the page shows the same tables `varnlog report` prints, charts of the takings
// per day and by user category, the hours per PC and the sessions by hour of the day, and saves
// the same HTML page as `varnlog report --html`. When the imported days change, the report shown
// is cleared, so that the page never shows figures the days no longer add up to.
#pragma once

#include <QWidget>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "report/Report.h"
#include "service/clsLogAnalysis.h"

class QChart;
class QDateEdit;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableWidget;

namespace varn {

struct ReportTable;

class clsReportPage : public QWidget {
 public:
  explicit clsReportPage(QWidget* pParent);

  // The database to report on (null: none), whose imported days may have changed: the report shown
  // is cleared, the month set to that of the latest imported day, From and To to the first and last.
  void UseService(std::shared_ptr<clsLogAnalysis> pService);
  // Computes and shows the report of the period picked; false, reported, when there is none.
  bool ShowReport();
  // Writes the report shown as its HTML page; false, reported, when it cannot be written.
  bool SaveHtml(const QString& sPath);

  QDateEdit* Month() const { return mpMonth; }
  // The report's tables by their names in ReportTableNames(); the charts by the table they stand
  // over (days, categories, pcs, hours).
  QTableWidget* Table(const std::string& sName) const { return mTables.at(sName); }
  QChart* Chart(const std::string& sName) const { return mCharts.at(sName); }

 protected:
  // Opened with no report shown, the page shows that of the month of the latest imported day.
  void showEvent(QShowEvent* pEvent) override;

 private:
  QWidget* mNewSection(const ReportTable& table);
  ReportPeriod mPickedPeriod() const;
  void mClear(const QString& sState);
  void mShowTables(const Report& report);
  void mShowCharts(const Report& report);
  void mChooseFile();

  std::shared_ptr<clsLogAnalysis> mpService;
  std::optional<Report> mReport;  // the one shown
  bool mbHasDays = false;          // the database holds imported days the picker defaults to
  QRadioButton* mpByMonth;
  QDateEdit* mpMonth;
  QDateEdit* mpFrom;
  QDateEdit* mpTo;
  QPushButton* mpShow;
  QPushButton* mpSave;
  QLabel* mpState;
  std::map<std::string, QTableWidget*> mTables;
  std::map<std::string, QLabel*> mNotes;
  std::map<std::string, QChart*> mCharts;
};

}  // namespace varn
