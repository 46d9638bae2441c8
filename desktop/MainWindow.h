// varnlog-desktop's main window: the report database in use (a file, or a server's address with
// its password asked for and never kept), the imported days as a sortable table, importing files
// and folders (from the menu or dropped on the window) through the same import service as the
// command line, with the component's own windows for progress, questions and reports; the result
// of every file in a list that can be copied; deleting a day after a confirmation; the Report page
// over the same database (desktop/ReportPage.h). It remembers the last database and folder in
// the user's settings. Nothing here blocks the window without the progress window showing: the
// import service pumps the events while it reads.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>

#include "service/clsLogAnalysis.h"

class QLabel;
class QListWidget;
class QTableWidget;
class QTabWidget;

namespace varn {

class clsReportPage;

class clsMainWindow : public QMainWindow {
 public:
  clsMainWindow();

  // Signs on to a database file or a postgresql:// address; false (the failure reported, and no
  // database in use) when it cannot be opened. The window stays usable either way.
  bool OpenDatabase(const std::string& sDatabase, const std::string& sPassword = {});
  // Imports files and folders (a folder's logs in date order) and lists what became of each.
  void ImportPaths(const QStringList& vPaths);
  // Deletes an imported day ("dd/mm/yyyy") after asking; false when it was not deleted.
  bool DeleteDay(const QString& sLogDate);

  QTableWidget* History() const { return mpHistory; }
  QListWidget* Results() const { return mpResults; }
  QTabWidget* Pages() const { return mpPages; }
  const std::string& Database() const { return msDatabase; }

 protected:
  void dragEnterEvent(QDragEnterEvent* pEvent) override;
  void dropEvent(QDropEvent* pEvent) override;

 private:
  void mBuildMenus();
  void mRefreshHistory();
  void mShowStatus(const QString& sText);
  void mChooseFiles();
  void mChooseFolder();
  void mChooseDatabase(bool bNew);
  void mChooseServer();
  void mDeleteSelectedDay();
  void mCopyResults();

  std::shared_ptr<clsLogAnalysis> mpService;
  std::string msDatabase;
  QTabWidget* mpPages;
  QTableWidget* mpHistory;
  QListWidget* mpResults;
  QLabel* mpDatabaseLabel;
  clsReportPage* mpReport;
};

}  // namespace varn
