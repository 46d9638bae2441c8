// The component's one door to the report database: signs on through clsAccessDatabase and
// hands out its connection. An empty path opens "varnrpt.mdb" in the component's own folder.
#pragma once

#include <memory>
#include <string>

#include "db/Connection.h"
#include "db/clsAccessDatabase.h"

namespace varn {

class clsConnection {
 public:
  // True when the database is connected afterwards; failures are reported, ending with
  // "Error openning Conetion".
  bool SignOn(const std::string& sDBPath = {});
  // Raise 91 before the first SignOn.
  bool IsConnected() const;
  std::shared_ptr<Connection> DBConnection() const;

 private:
  std::shared_ptr<clsAccessDatabase> mDatabase;
};

// The folder of the library or executable the component was loaded from.
std::string ComponentFolder();
// The default report database, "varnrpt.mdb": in ComponentFolder(), or, in an installed build
// (VARN_DATABASE_IN_DATA_HOME), where a program does not write, in the user's data folder
// ($XDG_DATA_HOME/varnlogimp, else ~/.local/share/varnlogimp).
std::string DefaultDatabasePath();

}  // namespace varn
