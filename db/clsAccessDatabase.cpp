// The outside database object: one report database (a file, or a database on a server), one
// connection to it.
#include "db/clsAccessDatabase.h"

#include "db/PostgresBackend.h"
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
  std::unique_ptr<IDbBackend> pBackend;
  // A connection URI names a database on a server; any other path is a database file.
  if (IsPostgresUri(sPath)) {
    pBackend = OpenPostgresReportDatabase(sPath, PostgresOptions{settings.nWaitSeconds, settings.sPassword});
  } else {
    SqliteOptions options;
    options.nWaitSeconds = settings.nWaitSeconds;
    options.bCreate = !settings.bReadOnly;
    options.bReadOnly = settings.bReadOnly;
    pBackend = OpenSqliteReportDatabase(sPath, options);
  }
  auto pConnection = std::make_shared<Connection>(std::move(pBackend));
  pConnection->TraceTo(settings.sTraceFile);
  mpConnection = std::move(pConnection);
}

std::shared_ptr<Connection> clsAccessDatabase::GetConnection() const {
  if (!Connected()) RaiseError(errObjectNotSet);
  return mpConnection;
}

}  // namespace varn
