// The SQLite engine behind the ADO-like layer: opening, checking and creating report
// database files, the report database's dialect, error numbers, and transactions by level.
#include "db/SqliteBackend.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "db/Dialect.h"
#include "db/Schema.h"
#include "runtime/DateTime.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

constexpr char kSqliteHeader[] = "SQLite format 3";  // 16 bytes with its terminating NUL

struct DbCloser {
  void operator()(sqlite3* pDb) const { sqlite3_close_v2(pDb); }
};
using DbHandle = std::unique_ptr<sqlite3, DbCloser>;

int32_t ErrorNumber(int nExtendedCode) {
  switch (nExtendedCode) {
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_UNIQUE: return errDBUniqueKey;
    default: break;
  }
  switch (nExtendedCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_IOERR:
    case SQLITE_FULL:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_NOMEM:
    case SQLITE_PROTOCOL:
    case SQLITE_PERM:
    case SQLITE_NOLFS: return errDBFailure;
    default: return errDBStatement;
  }
}

[[noreturn]] void RaiseLastError(sqlite3* pDb) {
  RaiseError(ErrorNumber(sqlite3_extended_errcode(pDb)), sqlite3_errmsg(pDb));
}

// "DELETE * FROM x" is "DELETE FROM x" in SQLite's words.
std::string TranslateDialect(const std::string& sSql) { return WithoutDeleteStar(sSql, IsLetter); }

// One prepared statement, finalized on every path.
class Statement {
 public:
  Statement(sqlite3* pDb, const std::string& sSql) : mpDb(pDb) {
    if (sSql.find('\0') != std::string::npos) RaiseError(errDBStatement, "The statement holds a NUL character");
    const char* pTail = nullptr;
    if (sqlite3_prepare_v2(pDb, sSql.c_str(), -1, &mpStmt, &pTail) != SQLITE_OK) RaiseLastError(pDb);
    if (!mpStmt) RaiseError(errDBStatement, "Invalid SQL statement: the statement is empty");
    RefuseMore(pTail);
  }
  ~Statement() { sqlite3_finalize(mpStmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // True while it yields a row.
  bool Step() {
    int nResult = sqlite3_step(mpStmt);
    if (nResult == SQLITE_ROW) return true;
    if (nResult != SQLITE_DONE) RaiseLastError(mpDb);
    return false;
  }
  sqlite3_stmt* Get() const { return mpStmt; }

 private:
  // A text carries one statement: anything but blanks, comments and ";" after it is refused.
  void RefuseMore(const char* pTail) {
    while (pTail && *pTail) {
      sqlite3_stmt* pNext = nullptr;
      const char* pAfter = nullptr;
      int nResult = sqlite3_prepare_v2(mpDb, pTail, -1, &pNext, &pAfter);
      sqlite3_finalize(pNext);
      if (nResult != SQLITE_OK || pNext || pAfter == pTail) {
        sqlite3_finalize(mpStmt);
        mpStmt = nullptr;
        RaiseError(errDBStatement, "Characters found after the end of the SQL statement");
      }
      pTail = pAfter;
    }
  }

  sqlite3* mpDb;
  sqlite3_stmt* mpStmt = nullptr;
};

Variant ColumnValue(sqlite3_stmt* pStmt, int nColumn) {
  switch (sqlite3_column_type(pStmt, nColumn)) {
    case SQLITE_NULL: return Variant(Null{});
    case SQLITE_INTEGER: return Variant(static_cast<int64_t>(sqlite3_column_int64(pStmt, nColumn)));
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(pStmt, nColumn));
    default: {
      const auto* pText = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, nColumn));
      return Variant(std::string(pText ? pText : "", static_cast<size_t>(sqlite3_column_bytes(pStmt, nColumn))));
    }
  }
}

std::optional<Date> DateOfValue(sqlite3_value* pValue) {
  switch (sqlite3_value_type(pValue)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return Date{sqlite3_value_double(pValue)};
    case SQLITE_TEXT: {
      const auto* pText = reinterpret_cast<const char*>(sqlite3_value_text(pValue));
      return ParseDate(std::string_view(pText, static_cast<size_t>(sqlite3_value_bytes(pValue))));
    }
    default: return std::nullopt;
  }
}

// Format(value, 'dd/mm/yy' | 'dd/mm/yyyy'): the stored value read as a date the way the
// records write it; NULL for a value that is no date.
void FormatFunction(sqlite3_context* pContext, int /*nArgs*/, sqlite3_value** ppArgs) {
  try {
    std::optional<Date> dt = DateOfValue(ppArgs[0]);
    const auto* pFormat = reinterpret_cast<const char*>(sqlite3_value_text(ppArgs[1]));
    if (!dt || !pFormat) {
      sqlite3_result_null(pContext);
      return;
    }
    std::string sFormat = FoldCase(pFormat);
    if (sFormat != "dd/mm/yy" && sFormat != "dd/mm/yyyy") {
      sqlite3_result_error(pContext, "Format: only the formats dd/mm/yy and dd/mm/yyyy are known", -1);
      return;
    }
    std::string sText = FormatDate(*dt, sFormat);
    sqlite3_result_text(pContext, sText.data(), static_cast<int>(sText.size()), SQLITE_TRANSIENT);
  } catch (const std::exception& ex) {
    sqlite3_result_error(pContext, ex.what(), -1);
  }
}

// Dates are kept as the day-first text the records write; DATE and DATETIME columns have
// numeric affinity, which leaves such texts as they are.
const char* EngineType(eColumnKind eKind) {
  switch (eKind) {
    case enuKeyColumn: return "INTEGER PRIMARY KEY";
    case enuWholeColumn: return "INTEGER";
    case enuNumberColumn: return "REAL";
    case enuTextColumn: return "TEXT";
    case enuDateColumn: return "DATE";
    default: return "DATETIME";
  }
}

std::string CreateTable(const SchemaTable& table) {
  std::string sSql = std::string("CREATE TABLE ") + table.sName + " (";
  for (size_t n = 0; n < table.vColumns.size(); ++n) {
    sSql += std::string(n ? ", " : "") + table.vColumns[n].sName + " " + EngineType(table.vColumns[n].eKind);
  }
  return sSql + ")";
}

std::string SchemaText() {
  const Schema& schema = ReportSchema();
  std::string sSql = "\n";
  for (const SchemaTable& table : schema.vTables) sSql += CreateTable(table) + ";\n";
  for (const SchemaIndex& index : schema.vIndexes) sSql += IndexStatement(index) + ";\n";
  const SchemaCascade& cascade = schema.cascade;
  sSql += std::string("CREATE TRIGGER ") + cascade.sName + " AFTER DELETE ON " + cascade.sTable + " BEGIN\n" +
          CascadeDeletes(cascade) + "END;\n";
  return sSql;
}

void RunAll(sqlite3* pDb, const char* pSql) {
  if (sqlite3_exec(pDb, pSql, nullptr, nullptr, nullptr) != SQLITE_OK) RaiseLastError(pDb);
}

std::string Quoted(const std::string& sPath) { return "\"" + sPath + "\""; }

[[noreturn]] void RaiseOpen(const std::string& sPath, const std::string& sWhy) {
  RaiseError(errDBFailure, "The report database " + Quoted(sPath) + " cannot be opened: " + sWhy);
}

[[noreturn]] void RaiseNotReport(const std::string& sPath, const std::string& sWhy) {
  RaiseError(errDBFailure, Quoted(sPath) + " is not a report database (" + sWhy + ")");
}

std::string FolderOf(const std::string& sPath) {
  std::string sFolder = std::filesystem::path(sPath).parent_path().string();
  return sFolder.empty() ? "." : sFolder;
}

// SQLite reads some names (":memory:", "file:...") as more than a file name.
std::string EnginePath(const std::string& sPath) { return StartsWith(sPath, "/") ? sPath : "./" + sPath; }

bool HasSqliteHeader(const std::string& sPath) {
  std::ifstream in(sPath, std::ios::binary);
  char acHeader[sizeof(kSqliteHeader)] = {};
  in.read(acHeader, sizeof(acHeader));
  return in.gcount() == static_cast<std::streamsize>(sizeof(acHeader)) &&
         std::memcmp(acHeader, kSqliteHeader, sizeof(acHeader)) == 0;
}

void CheckFolderWritable(const std::string& sPath) {
  std::string sFolder = FolderOf(sPath);
  struct stat folderInfo {};
  if (stat(sFolder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
    RaiseOpen(sPath, "the folder " + Quoted(sFolder) + " does not exist");
  }
  // The journal is written beside the database while a transaction runs.
  if (access(sFolder.c_str(), W_OK) != 0 || (folderInfo.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    RaiseOpen(sPath, "the folder " + Quoted(sFolder) + " is read-only");
  }
}

// An existing file, checked before SQLite touches it, so a wrong file is never changed.
void CheckExistingFile(const std::string& sPath, const struct stat& info, bool bReadOnly) {
  if (S_ISDIR(info.st_mode)) RaiseOpen(sPath, "it is a folder, not a database file");
  if (!S_ISREG(info.st_mode)) RaiseOpen(sPath, "it is not a regular file");
  // Checked by the mode bits too: access() grants everything to the superuser.
  bool bWritable = (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && access(sPath.c_str(), W_OK) == 0;
  if (!bReadOnly && !bWritable) RaiseOpen(sPath, "the file is read-only");
  if (access(sPath.c_str(), R_OK) != 0) RaiseOpen(sPath, "the file cannot be read (" + std::string(strerror(errno)) + ")");
  if (!bReadOnly) CheckFolderWritable(sPath);
  if (!HasSqliteHeader(sPath)) RaiseNotReport(sPath, "not an SQLite database file");
}

// SQLite keeps memory statistics under one lock that every allocation takes, and nothing here
// reads them. SQLite takes the setting only before it is first used in the process, so a host
// that uses SQLite itself keeps its own.
void SkipMemoryStatistics() {
  static const bool bDone = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)bDone;
}

DbHandle OpenEngine(const std::string& sPath, int nFlags, const SqliteOptions& options) {
  SkipMemoryStatistics();
  sqlite3* pRaw = nullptr;
  // A connection is only ever used by the thread of the import that holds it, so SQLite's own
  // locking of every call on it is skipped.
  int nResult = sqlite3_open_v2(EnginePath(sPath).c_str(), &pRaw, nFlags | SQLITE_OPEN_NOMUTEX, nullptr);
  DbHandle pDb(pRaw);
  if (nResult != SQLITE_OK) RaiseOpen(sPath, pRaw ? sqlite3_errmsg(pRaw) : sqlite3_errstr(nResult));
  sqlite3_extended_result_codes(pDb.get(), 1);
  sqlite3_busy_timeout(pDb.get(), options.nWaitSeconds > 0 ? options.nWaitSeconds * 1000 : 0);
  if (sqlite3_create_function_v2(pDb.get(), "Format", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                 FormatFunction, nullptr, nullptr, nullptr) != SQLITE_OK) {
    RaiseLastError(pDb.get());
  }
  return pDb;
}

void CheckReportTables(sqlite3* pDb, const std::string& sPath) {
  std::vector<std::string> vTables;
  try {
    Statement st(pDb, "SELECT name FROM sqlite_master WHERE type='table'");
    while (st.Step()) vTables.push_back(FoldCase(ColumnValue(st.Get(), 0).ToText()));
  } catch (const clsError& err) {
    // A database that another program keeps locked past the wait is no less a report database.
    if ((sqlite3_errcode(pDb) & 0xff) == SQLITE_BUSY) {
      RaiseOpen(sPath, "another program keeps it locked (" + err.Description() + ")");
    }
    RaiseNotReport(sPath, err.Description());
  }
  for (const SchemaTable& table : ReportSchema().vTables) {
    if (std::find(vTables.begin(), vTables.end(), FoldCase(table.sName)) == vTables.end()) {
      RaiseNotReport(sPath, std::string("no table ") + table.sName);
    }
  }
}

// A committed import must survive a killed process or a power cut.
void MakeDurable(sqlite3* pDb) { RunAll(pDb, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;"); }

std::string TemporaryName(const std::string& sPath) {
  static std::atomic<unsigned> nCounter{0};
  return sPath + ".new-" + std::to_string(getpid()) + "-" + std::to_string(nCounter++);
}

void RemoveTemporary(const std::string& sTemp) {
  unlink(sTemp.c_str());
  unlink((sTemp + "-journal").c_str());
}

void SyncFolder(const std::string& sPath) {
  int nFolder = open(FolderOf(sPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (nFolder < 0) return;
  fsync(nFolder);
  close(nFolder);
}

// Builds the new database under a temporary name and links it into place, so a reader never
// sees half a schema and a file that appeared meanwhile is never overwritten.
void CreateReportDatabase(const std::string& sPath, const SqliteOptions& options) {
  // A name with blanks at its ends is nearly always a path typed with stray spaces.
  if (Trim(FileNameOf(sPath)) != FileNameOf(sPath) || Trim(sPath) != sPath) {
    RaiseOpen(sPath, "it does not exist, and no new database is made under a name with blanks at its ends");
  }
  CheckFolderWritable(sPath);
  std::string sTemp = TemporaryName(sPath);
  int nFile = open(sTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (nFile < 0) RaiseOpen(sPath, std::string("a new database cannot be created (") + strerror(errno) + ")");
  close(nFile);
  try {
    DbHandle pDb = OpenEngine(sTemp, SQLITE_OPEN_READWRITE, options);
    MakeDurable(pDb.get());
    RunAll(pDb.get(), ("BEGIN;" + SchemaText() + "COMMIT;").c_str());
  } catch (const clsError& err) {
    RemoveTemporary(sTemp);
    RaiseOpen(sPath, "a new database cannot be created (" + err.Description() + ")");
  }
  int nLinked = link(sTemp.c_str(), sPath.c_str());
  int nLinkError = errno;
  RemoveTemporary(sTemp);
  if (nLinked != 0 && nLinkError != EEXIST) {
    RaiseOpen(sPath, std::string("a new database cannot be created (") + strerror(nLinkError) + ")");
  }
  SyncFolder(sPath);
}

class SqliteBackend : public IDbBackend {
 public:
  explicit SqliteBackend(DbHandle pDb) : mpDb(std::move(pDb)) {}

  int64_t Execute(const std::string& sSql) override {
    std::string sEngineSql = TranslateDialect(sSql);
    Statement st(Db(), sEngineSql);
    while (st.Step()) {
    }
    std::string sWord = LeadingWord(sEngineSql, IsLetter);
    bool bChangesRows = sWord == "INSERT" || sWord == "UPDATE" || sWord == "DELETE" || sWord == "REPLACE";
    return bChangesRows ? static_cast<int64_t>(sqlite3_changes64(Db())) : 0;
  }

  QueryResult Query(const std::string& sSql) override {
    Statement st(Db(), TranslateDialect(sSql));
    // The first step re-prepares a statement whose table another connection has altered, so
    // the columns of "SELECT *" are named after it, not from the schema the prepare saw.
    bool bRow = st.Step();
    QueryResult result;
    int nColumns = sqlite3_column_count(st.Get());
    for (int n = 0; n < nColumns; ++n) result.vColumns.emplace_back(sqlite3_column_name(st.Get(), n));
    for (; bRow; bRow = st.Step()) {
      std::vector<Variant> vRow;
      vRow.reserve(static_cast<size_t>(nColumns));
      for (int n = 0; n < nColumns; ++n) vRow.push_back(ColumnValue(st.Get(), n));
      result.vRows.push_back(std::move(vRow));
    }
    return result;
  }

  void QueryEach(const std::string& sSql, const RowSink& fnRow) override {
    Statement st(Db(), TranslateDialect(sSql));
    std::vector<Variant> vRow;
    while (st.Step()) {
      // Counted after the first step, as Query names the columns (a table altered meanwhile).
      vRow.resize(static_cast<size_t>(sqlite3_column_count(st.Get())));
      for (size_t n = 0; n < vRow.size(); ++n) vRow[n] = ColumnValue(st.Get(), static_cast<int>(n));
      fnRow(vRow);
    }
  }

  // The outermost level takes the write lock at once, so two writers queue at the start
  // instead of one failing halfway.
  void BeginTrans(int nLevel) override {
    Run(nLevel == 1 ? "BEGIN IMMEDIATE" : "SAVEPOINT " + SavepointName(nLevel));
    mnLevel = nLevel;
  }

  void CommitTrans(int nLevel) override {
    Run(nLevel == 1 ? "COMMIT" : "RELEASE " + SavepointName(nLevel));
    mnLevel = nLevel - 1;
  }

  void RollbackTrans(int nLevel) override {
    // After the engine has ended the transaction itself there is nothing left to undo.
    if (!sqlite3_get_autocommit(Db())) {
      if (nLevel == 1) {
        Run("ROLLBACK");
      } else {
        Run("ROLLBACK TO " + SavepointName(nLevel));
        Run("RELEASE " + SavepointName(nLevel));
      }
    }
    mnLevel = nLevel - 1;
  }

  bool TransactionLost() override { return mpDb && mnLevel > 0 && sqlite3_get_autocommit(Db()) != 0; }

  // Never raises: a version that cannot be read is no version, and the reader reads again.
  bool RowsVersion(uint64_t& lOthers, uint64_t& lOwn) override {
    if (!mpDb) return false;
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare_v2(mpDb.get(), "PRAGMA data_version", -1, &pStmt, nullptr) != SQLITE_OK) return false;
    bool bRead = sqlite3_step(pStmt) == SQLITE_ROW;
    if (bRead) lOthers = static_cast<uint64_t>(sqlite3_column_int64(pStmt, 0));
    sqlite3_finalize(pStmt);
    lOwn = static_cast<uint64_t>(sqlite3_total_changes64(mpDb.get()));
    return bRead;
  }

  void Close() override {
    mpDb.reset();
    mnLevel = 0;
  }

 private:
  sqlite3* Db() const {
    if (!mpDb) RaiseError(errDBFailure, "The database is closed");
    return mpDb.get();
  }
  void Run(const std::string& sSql) {
    Statement st(Db(), sSql);
    while (st.Step()) {
    }
  }
  static std::string SavepointName(int nLevel) { return "level" + std::to_string(nLevel); }

  DbHandle mpDb;
  int mnLevel = 0;
};

}  // namespace

std::unique_ptr<IDbBackend> OpenSqliteReportDatabase(const std::string& sPath, const SqliteOptions& options) {
  if (sPath.empty()) RaiseOpen(sPath, "no path was given");
  struct stat info {};
  if (stat(sPath.c_str(), &info) != 0) {
    int nError = errno;
    if (nError != ENOENT && nError != ENOTDIR) RaiseOpen(sPath, strerror(nError));
    struct stat folderInfo {};
    std::string sFolder = FolderOf(sPath);
    if (stat(sFolder.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
      RaiseOpen(sPath, "the folder " + Quoted(sFolder) + " does not exist");
    }
    if (!options.bCreate) RaiseOpen(sPath, "the file does not exist");
    CreateReportDatabase(sPath, options);
    if (stat(sPath.c_str(), &info) != 0) RaiseOpen(sPath, strerror(errno));
  }
  CheckExistingFile(sPath, info, options.bReadOnly);
  DbHandle pDb = OpenEngine(sPath, options.bReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, options);
  if (!options.bReadOnly && sqlite3_db_readonly(pDb.get(), "main") == 1) RaiseOpen(sPath, "the file can only be read");
  CheckReportTables(pDb.get(), sPath);
  if (!options.bReadOnly) MakeDurable(pDb.get());
  return std::make_unique<SqliteBackend>(std::move(pDb));
}

}  // namespace varn
