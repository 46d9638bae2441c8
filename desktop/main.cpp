// varnlog-desktop: the shop's desktop program over the import service. Files given on its command
// line (as a file manager opens .log files with it) are imported once the window shows.
#include <QApplication>
#include <QSettings>
#include <QTimer>

#include "desktop/MainWindow.h"
#include "windows/WindowScreen.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName("varnlogimp");
  QApplication::setApplicationName("varnlog-desktop");
  QApplication::setApplicationVersion(VARN_VERSION);
  varn::SetScreen(std::make_shared<varn::clsWindowScreen>());

  varn::clsMainWindow window;
  window.show();
  QStringList vFiles = QApplication::arguments().mid(1);
  // Opened once the window is up, so that a failure's box has the window behind it.
  QTimer::singleShot(0, &window, [&] {
    window.OpenDatabase(QSettings().value("database").toString().toStdString());
    if (!vFiles.isEmpty()) window.ImportPaths(vFiles);
  });
  return app.exec();
}
