// The PostgreSQL engine behind the ADO-like layer: one central report database on a server
// that several shops import into and the reporting tools query. The records' statements stay
// as they are; this backend maps their dialect onto the server's:
// - names: the schema is made of unquoted, hence lower-case, names, so the statements' names in
//   any letter case fold onto them as the server reads them, and reports on the server need no
//   quotes. Only the table User, a reserved word there, is quoted ("user"); [name] becomes a
//   quoted name; result columns come back spelled as in the schema (Date_ID, Goods_3);
// - "DELETE * FROM", "NUMBER" columns, and Format(date, 'dd/mm/yy') (an SQL function created
//   with the schema);
// - dates: day-first texts are read into date and timestamp columns and handed back day first
//   ("14/03/2024", "14/03/2024 08:55:12");
// - a failed statement aborts a server transaction; here each statement inside a transaction
//   runs under a savepoint of its own, sent with it in one round trip, so a failure leaves the
//   transaction going on as it does on SQLite (the session INSERT retry, a report followed by
//   the next statement);
// - the outermost transaction takes an advisory lock at once, so writers queue instead of
//   taking the same keys (keys are the highest plus one); readers are not held up. The lock is
//   the tables' schema's, so shops in schemas of their own (the connection's search path) do
//   not wait for each other.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/Backend.h"

namespace varn {

struct PostgresOptions {
  int nWaitSeconds = 30;  // how long a writer waits for the lock another writer holds
  std::string sPassword;  // given apart from the address; empty: libpq's own sources
};

// True for a libpq connection URI ("postgresql://..." or "postgres://...").
bool IsPostgresUri(std::string_view sPath);
// A database's path or URI as it may be shown: a password inside a URI becomes "***".
std::string ShownAddress(std::string sPath);

// Opens the report database the URI names; creates the schema when the database holds none of
// the report tables. The password is the one given in the options, else from libpq's own
// sources (PGPASSWORD, ~/.pgpass).
// Raises clsError for a server that cannot be reached, and for a database that holds only some
// of the report tables or tables of those names in another shape; such a database is not changed.
std::unique_ptr<IDbBackend> OpenPostgresReportDatabase(const std::string& sUri, const PostgresOptions& options);

// A statement of the report database's dialect as the server is sent it, without the ";"
// that may end it. Raises errDBStatement for a text of no statement or of more than one.
std::string PostgresDialect(std::string_view sSql);

}  // namespace varn
