// The outside database object: one report database file, one connection to it.
#include "db/clsAccessDatabase.h"

#include "db/SqliteBackend.h"
#include "runtime/Error.h"

namespace varn {

DatabaseSettings& GlobalDatabaseSettings() {
  static DatabaseSettings settings;
  return settings;
}

void clsAccessDatabase::OpenDatabase(const std::string& sPath) {
  if (mpConnection) mpConnection->Close();
  mpConnection.reset();
  const DatabaseSettings& settings = GlobalDatabaseSettings();
  SqliteOptions options;
  options.nWaitSeconds = settings.nWaitSeconds;
  options.bCreate = true;
  auto pConnection = std::make_shared<Connection>(OpenSqliteReportDatabase(sPath, options));
  pConnection->TraceTo(settings.sTraceFile);
  mpConnection = std::move(pConnection);
}

std::shared_ptr<Connection> clsAccessDatabase::GetConnection() const {
  if (!Connected()) RaiseError(errObjectNotSet);
  return mpConnection;
}

}  // namespace varn
