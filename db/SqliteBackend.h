// The SQLite engine behind the ADO-like layer. It opens an existing report database or
// creates a new one, runs the report database's dialect (an SQL function Format(value,
// 'dd/mm/yy'), "DELETE * FROM"), waits for a busy database instead of failing, takes the
// write lock when an outermost transaction begins, and keeps committed data through a
// killed process or a power cut.
#pragma once

#include <memory>
#include <string>

#include "db/Backend.h"

struct sqlite3;

namespace varn {

struct SqliteOptions {
  int nWaitSeconds = 30;
  bool bCreate = false;  // create a new report database when the file does not exist
  bool bReadOnly = false;  // open to read only: the file and its folder need not be writable
};

// Opens the report database at sPath. Raises clsError with a clear description for a folder,
// a missing folder, a read-only file (unless opened to read only), a file that is no SQLite database, or a database without
// the report tables; such a file is never created or changed.
std::unique_ptr<IDbBackend> OpenSqliteReportDatabase(const std::string& sPath, const SqliteOptions& options);

}  // namespace varn
