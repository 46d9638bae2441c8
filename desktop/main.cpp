// varnlog-desktop: the shop's desktop program over the import service. It opens the database it
// used last (or the one --db names); files given on its command line (as a file manager opens
// .log files with it) are imported once the window shows.
#include <QApplication>
#include <QCommandLineParser>
#include <QSettings>
#include <QTimer>

#include "desktop/MainWindow.h"
#include "windows/WindowScreen.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("varnlogimp");
  QApplication::setApplicationName("varnlog-desktop");
  QApplication::setApplicationVersion(VARN_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription("Imports a shop's daily logs into its report database and shows the takings.");
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption database("db", "The report database: a file or a postgresql:// address.", "database");
  parser.addOption(database);
  parser.addPositionalArgument("files", "Log files or folders to import.", "[files...]");
  parser.process(app);

  varn::SetScreen(std::make_shared<varn::clsWindowScreen>());
  varn::clsMainWindow window;
  window.show();
  const QString sDatabase = parser.isSet(database) ? parser.value(database) : QSettings().value("database").toString();
  const QStringList vFiles = parser.positionalArguments();
  // Opened once the window is up, so that a failure's box has the window behind it.
  QTimer::singleShot(0, &window, [&] {
    window.OpenDatabase(sDatabase.toStdString());
    if (!vFiles.isEmpty()) window.ImportPaths(vFiles);
  });
  return app.exec();
}
