// The outside database object that clsConnection signs on through: it opens the report
// database file and hands out one connection to it, the same one on every call.
// OpenDatabase creates a new report database when the file does not exist but its folder
// does; a folder, a foreign file or a damaged database leaves it not connected and raises.
#pragma once

#include <memory>
#include <string>

#include "db/Connection.h"

namespace varn {

// Settings of the command line and hosts that every database opened afterwards takes.
struct DatabaseSettings {
  int nWaitSeconds = 30;    // how long a writer waits for a busy database
  std::string sTraceFile;   // every executed statement written here when not empty
  bool bReadOnly = false;   // a file is opened only to be read: nothing is created or written
  std::string sPassword;    // a server's, as the user typed it: sent apart from the address, never stored
};
DatabaseSettings& GlobalDatabaseSettings();

class clsAccessDatabase {
 public:
  void OpenDatabase(const std::string& sPath);
  bool Connected() const { return mpConnection && mpConnection->State() == adStateOpen; }
  // The open connection; raises 91 when nothing is open.
  std::shared_ptr<Connection> GetConnection() const;

 private:
  std::shared_ptr<Connection> mpConnection;
};

}  // namespace varn
