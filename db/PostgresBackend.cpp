// The PostgreSQL engine behind the ADO-like layer: the dialect, the report schema and its
// check, error numbers, and transactions by level with a savepoint around each statement.
#include "db/PostgresBackend.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <type_traits>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

#include "db/Dialect.h"
#include "db/Schema.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

// "varn" in ASCII: the first half of the advisory lock of every writer of a report database.
constexpr int32_t kWriteLockClass = 0x7661726e;

struct ColumnType {
  const char* sSql;
  char cCategory;  // the server's type category: N number, S text, D date and time
};
constexpr ColumnType kNumber{"double precision", 'N'};

ColumnType ServerType(eColumnKind eKind) {
  switch (eKind) {
    case enuKeyColumn: return {"integer PRIMARY KEY", 'N'};
    case enuWholeColumn: return {"integer", 'N'};
    case enuNumberColumn: return kNumber;
    case enuTextColumn: return {"text", 'S'};
    case enuDateColumn: return {"date", 'D'};
    default: return {"timestamp(0)", 'D'};
  }
}

// The Format function of the statements, for a date and for a date and time.
constexpr const char* kFormatFunctions = R"(
CREATE FUNCTION Format(dtValue date, sFormat text) RETURNS text LANGUAGE plpgsql STABLE STRICT AS $$
BEGIN
  CASE lower(sFormat)
    WHEN 'dd/mm/yy' THEN RETURN to_char(dtValue, 'DD/MM/YY');
    WHEN 'dd/mm/yyyy' THEN RETURN to_char(dtValue, 'DD/MM/YYYY');
    ELSE RAISE EXCEPTION 'Format: only the formats dd/mm/yy and dd/mm/yyyy are known';
  END CASE;
END $$;
CREATE FUNCTION Format(dtValue timestamp, sFormat text) RETURNS text LANGUAGE sql STABLE STRICT
  AS $$ SELECT Format(dtValue::date, sFormat) $$;
)";

std::string QuotedName(std::string_view sName) { return "\"" + Replace(sName, "\"", "\"\"") + "\""; }

// The name under which the server holds a table of the schema: folded to lower case as the
// server folds unquoted names; User is a reserved word there and is always quoted.
std::string ServerTableName(std::string_view sTable) {
  std::string sFolded = FoldCase(sTable);
  return sFolded == "user" ? QuotedName(sFolded) : sFolded;
}

// Takes the writers' advisory lock of the schema that holds the report tables (or, before they
// exist, of the schema they will be created in): shops whose tables are in schemas of their
// own on one server do not wait for each other.
std::string TakeWriteLock() {
  return "SELECT pg_advisory_xact_lock(" + std::to_string(kWriteLockClass) +
         ", coalesce((SELECT relnamespace FROM pg_class WHERE oid = to_regclass('" +
         SqlText(ServerTableName("DateRange")) +
         "')), (SELECT oid FROM pg_namespace WHERE nspname = current_schema()), 0)::integer)";
}

std::string CreateTable(const SchemaTable& table) {
  std::string sSql = "CREATE TABLE " + ServerTableName(table.sName) + " (";
  for (size_t n = 0; n < table.vColumns.size(); ++n) {
    sSql += std::string(n ? ", " : "") + table.vColumns[n].sName + " " + ServerType(table.vColumns[n].eKind).sSql;
  }
  return sSql + ");\n";
}

// The cascade runs the same statements as on SQLite, from a trigger function.
std::string CreateCascade(const SchemaCascade& cascade) {
  return std::string("CREATE FUNCTION ") + cascade.sName +
         "() RETURNS trigger LANGUAGE plpgsql SET search_path FROM CURRENT AS $$\nBEGIN\n" + CascadeDeletes(cascade) +
         "  RETURN NULL;\nEND $$;\nCREATE TRIGGER " + cascade.sName + " AFTER DELETE ON " + cascade.sTable +
         " FOR EACH ROW EXECUTE FUNCTION " + cascade.sName + "();";
}

std::string SchemaText() {
  const Schema& schema = ReportSchema();
  std::string sSql;
  for (const SchemaTable& table : schema.vTables) sSql += CreateTable(table);
  sSql += "\n";
  for (const SchemaIndex& index : schema.vIndexes) sSql += IndexStatement(index) + ";\n";
  return sSql + CreateCascade(schema.cascade) + kFormatFunctions;
}

// A result column as the schema spells it (the server answers in lower case).
std::string CanonicalName(const std::string& sName) {
  static const std::map<std::string, std::string> mapNames = [] {
    std::map<std::string, std::string> map;
    for (const SchemaTable& table : ReportSchema().vTables) {
      for (const SchemaColumn& column : table.vColumns) map.emplace(FoldCase(column.sName), column.sName);
    }
    return map;
  }();
  if (auto it = mapNames.find(sName); it != mapNames.end()) return it->second;
  if (StartsWith(sName, "goods_")) return "Goods_" + sName.substr(6);
  return sName;
}

// --- The dialect --------------------------------------------------------------------------

bool IsDefinition(std::string_view sSql) {
  std::string sWord = LeadingWord(sSql, IsWordChar);
  return sWord == "ALTER" || sWord == "CREATE";
}

// Reads a statement token by token, so that names are rewritten only outside literals,
// quoted names and comments.
class DialectWriter {
 public:
  explicit DialectWriter(std::string_view sSql) : ms(sSql), mbDefinition(IsDefinition(sSql)) {}

  // The statement in the server's dialect, without the ";" that ends it and what follows.
  // Raises for a text of no statement or of more than one: the server would run them all.
  std::string Write() {
    msOut.reserve(ms.size() + 16);
    while (mnAt < ms.size()) {
      char c = ms[mnAt];
      std::string_view sPair = ms.substr(mnAt, 2);
      bool bComment = sPair == "--" || sPair == "/*";
      if (mnEnd != std::string::npos && !IsBlank(c) && c != ';' && !bComment) {
        RaiseError(errDBStatement, "Characters found after the end of the SQL statement");
      }
      mbContent = mbContent || !(IsBlank(c) || c == ';' || bComment);
      if (c == '\'') {
        CopyLiteral();
      } else if (c == '"') {
        CopyQuoted('"');
      } else if (c == '[') {
        WriteBracketName();
      } else if (sPair == "--") {
        CopyTo(ms.find('\n', mnAt));
      } else if (sPair == "/*") {
        CopyBlockComment();
      } else if (c == '$' && !(mnAt > 0 && IsWordChar(ms[mnAt - 1])) && DollarTag().size()) {
        CopyDollarQuoted();
      } else if (std::isdigit(static_cast<unsigned char>(c))) {
        CopyNumber();
      } else if (IsWordStart(c)) {
        WriteWord();
        continue;
      } else {
        if (c == ';' && mnEnd == std::string::npos) mnEnd = msOut.size();
        msOut += c;
        ++mnAt;
        if (IsBlank(c)) continue;
      }
      msLastWord.clear();
    }
    if (!mbContent) RaiseError(errDBStatement, "Invalid SQL statement: the statement is empty");
    if (mnEnd != std::string::npos) msOut.resize(mnEnd);
    return std::move(msOut);
  }

 private:
  void CopyTo(size_t nEnd) {
    nEnd = std::min(nEnd, ms.size());
    msOut.append(ms.substr(mnAt, nEnd - mnAt));
    mnAt = nEnd;
  }

  // 'text' with '' inside; E'text' also takes backslash escapes.
  void CopyLiteral() {
    bool bEscapes = msLastWord == "e" && mnAt == mnLastWordEnd;
    size_t nAt = mnAt + 1;
    while (nAt < ms.size()) {
      if (bEscapes && ms[nAt] == '\\') {
        nAt += 2;
      } else if (ms[nAt] == '\'') {
        if (nAt + 1 < ms.size() && ms[nAt + 1] == '\'') {
          nAt += 2;
        } else {
          break;
        }
      } else {
        ++nAt;
      }
    }
    CopyTo(nAt + 1);
  }

  void CopyQuoted(char cQuote) {
    size_t nAt = mnAt + 1;
    while (nAt < ms.size() && !(ms[nAt] == cQuote && !(nAt + 1 < ms.size() && ms[nAt + 1] == cQuote))) {
      nAt += ms[nAt] == cQuote ? 2 : 1;
    }
    CopyTo(nAt + 1);
  }

  // [name] as a quoted name: folded like a bare name, but an alias after AS keeps its spelling.
  void WriteBracketName() {
    size_t nEnd = ms.find(']', mnAt + 1);
    if (nEnd == std::string_view::npos) {
      CopyTo(nEnd);
      return;
    }
    std::string_view sName = ms.substr(mnAt + 1, nEnd - mnAt - 1);
    msOut += QuotedName(msLastWord == "as" ? std::string(sName) : FoldCase(sName));
    mnAt = nEnd + 1;
  }

  void CopyBlockComment() {
    size_t nAt = mnAt + 2;
    for (int nDepth = 1; nAt < ms.size() && nDepth > 0;) {
      if (ms.substr(nAt, 2) == "/*") {
        ++nDepth;
        nAt += 2;
      } else if (ms.substr(nAt, 2) == "*/") {
        --nDepth;
        nAt += 2;
      } else {
        ++nAt;
      }
    }
    CopyTo(nAt);
  }

  // "$tag$" or "$$" where a dollar-quoted text starts, else "".
  std::string_view DollarTag() const {
    size_t nAt = mnAt + 1;
    if (nAt < ms.size() && IsWordStart(ms[nAt])) {
      while (nAt < ms.size() && IsWordChar(ms[nAt]) && ms[nAt] != '$') ++nAt;
    }
    if (nAt >= ms.size() || ms[nAt] != '$') return {};
    return ms.substr(mnAt, nAt + 1 - mnAt);
  }

  void CopyDollarQuoted() {
    std::string_view sTag = DollarTag();
    size_t nEnd = ms.find(sTag, mnAt + sTag.size());
    CopyTo(nEnd == std::string_view::npos ? nEnd : nEnd + sTag.size());
  }

  // Digits only: letters after them are a word to the server too (1e'..' is e'..').
  void CopyNumber() {
    size_t nAt = mnAt;
    while (nAt < ms.size() && (std::isdigit(static_cast<unsigned char>(ms[nAt])) || ms[nAt] == '.')) ++nAt;
    CopyTo(nAt);
  }

  void WriteWord() {
    size_t nStart = mnAt;
    while (mnAt < ms.size() && IsWordChar(ms[mnAt])) ++mnAt;
    std::string_view sWord = ms.substr(nStart, mnAt - nStart);
    msLastWord = FoldCase(sWord);
    mnLastWordEnd = mnAt;
    if (msLastWord == "user") {
      msOut += QuotedName(msLastWord);
    } else if (msLastWord == "number" && mbDefinition) {
      msOut += kNumber.sSql;
    } else {
      msOut.append(sWord);
    }
  }

  std::string_view ms;
  bool mbDefinition;
  size_t mnAt = 0;
  std::string msOut;
  std::string msLastWord;  // folded; empty when anything but blanks followed it
  size_t mnLastWordEnd = 0;
  bool mbContent = false;                // anything but blanks, comments and ";" seen
  size_t mnEnd = std::string::npos;      // where the first ";" was written
};

// --- Talking to the server ----------------------------------------------------------------

struct ResultFree {
  void operator()(PGresult* pResult) const { PQclear(pResult); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

struct ConnFinish {
  void operator()(PGconn* pConn) const { PQfinish(pConn); }
};
using ConnHandle = std::unique_ptr<PGconn, ConnFinish>;

bool Succeeded(const PGresult* pResult) {
  ExecStatusType eStatus = PQresultStatus(pResult);
  return pResult && (eStatus == PGRES_COMMAND_OK || eStatus == PGRES_TUPLES_OK);
}

int32_t ErrorNumber(std::string_view sState) {
  if (sState == "23505") return errDBUniqueKey;
  // The server or the connection failed, or another writer held a lock too long; anything
  // else is the statement's fault.
  for (std::string_view sFailure : {"08", "40", "53", "57", "58", "XX", "55P03", "42501"}) {
    if (StartsWith(sState, sFailure)) return errDBFailure;
  }
  return sState.empty() ? errDBFailure : errDBStatement;
}

std::string WithoutLineEnd(std::string sText) {
  while (!sText.empty() && IsBlank(sText.back())) sText.pop_back();
  return sText;
}

// sHolder names what holds a lock the statement waited for in vain, when that is known.
[[noreturn]] void RaiseResult(PGconn* pConn, const PGresult* pResult, std::string_view sHolder = {}) {
  if (pResult && PQresultStatus(pResult) == PGRES_EMPTY_QUERY) {
    RaiseError(errDBStatement, "Invalid SQL statement: the statement is empty");
  }
  const char* pState = pResult ? PQresultErrorField(pResult, PG_DIAG_SQLSTATE) : nullptr;
  const char* pPrimary = pResult ? PQresultErrorField(pResult, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const char* pDetail = pResult ? PQresultErrorField(pResult, PG_DIAG_MESSAGE_DETAIL) : nullptr;
  std::string sMessage = pPrimary ? pPrimary : WithoutLineEnd(PQerrorMessage(pConn));
  if (pDetail) sMessage += " (" + std::string(pDetail) + ")";
  bool bLost = PQstatus(pConn) != CONNECTION_OK;
  int32_t lNumber = bLost ? errDBFailure : ErrorNumber(pState ? pState : "");
  if (pState && std::string_view(pState) == "55P03") {
    sMessage = (sHolder.empty() ? std::string("A lock on the report database was not granted within the wait")
                                : std::string(sHolder) + " holds the report database") + ": " + sMessage;
  }
  RaiseError(lNumber, sMessage.empty() ? "The database server did not answer" : sMessage);
}

// One statement (extended protocol: the server refuses a text of several statements).
Result RunOne(PGconn* pConn, const std::string& sSql) {
  Result pResult(PQexecParams(pConn, sSql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0));
  if (!Succeeded(pResult.get())) RaiseResult(pConn, pResult.get());
  return pResult;
}

// Statements of this backend's own, several in one text.
void RunScript(PGconn* pConn, const std::string& sSql, std::string_view sHolder = {}) {
  Result pResult(PQexec(pConn, sSql.c_str()));
  if (!Succeeded(pResult.get())) RaiseResult(pConn, pResult.get(), sHolder);
}

// What holds the writers' lock: nothing but another import (or deletion) takes it.
constexpr std::string_view kWriteLockHolder = "Another import";

void IgnoreNotice(void* /*pArg*/, const char* /*pMessage*/) {}

std::string DatabaseName(PGconn* pConn) {
  auto Text = [](const char* p) { return std::string(p ? p : ""); };
  std::string sHost = Text(PQhost(pConn));
  return "\"" + Text(PQdb(pConn)) + "\" on " + (sHost.empty() ? "the local server" : sHost + ":" + Text(PQport(pConn)));
}

[[noreturn]] void RaiseOpen(PGconn* pConn, const std::string& sWhy) {
  RaiseError(errDBFailure, "The report database " + DatabaseName(pConn) + " cannot be opened: " + sWhy);
}

// --- The schema ---------------------------------------------------------------------------

struct TableShape {
  char cKind = 0;                     // 'r' a table, 'p' a partitioned table, else no table
  std::map<std::string, char> mapColumns;  // lower-case name -> type category
};
using DatabaseShape = std::map<std::string, TableShape>;  // by lower-case table name

DatabaseShape ReadShape(PGconn* pConn) {
  std::string sNames;
  for (const SchemaTable& table : ReportSchema().vTables) {
    sNames += std::string(sNames.empty() ? "" : ",") + "'" + SqlText(ServerTableName(table.sName)) + "'";
  }
  Result pResult = RunOne(
      pConn,
      "SELECT c.relname, c.relkind, a.attname, t.typcategory FROM unnest(ARRAY[" + sNames +
          "]) AS n(name) JOIN pg_class c ON c.oid = to_regclass(n.name) "
          "LEFT JOIN pg_attribute a ON a.attrelid = c.oid AND a.attnum > 0 AND NOT a.attisdropped "
          "LEFT JOIN pg_type t ON t.oid = a.atttypid");
  DatabaseShape shape;
  for (int nRow = 0; nRow < PQntuples(pResult.get()); ++nRow) {
    TableShape& table = shape[PQgetvalue(pResult.get(), nRow, 0)];
    table.cKind = *PQgetvalue(pResult.get(), nRow, 1);
    if (!PQgetisnull(pResult.get(), nRow, 2)) {
      table.mapColumns[PQgetvalue(pResult.get(), nRow, 2)] = *PQgetvalue(pResult.get(), nRow, 3);
    }
  }
  return shape;
}

const char* CategoryName(char cCategory) {
  switch (cCategory) {
    case 'N': return "a number";
    case 'S': return "a text";
    default: return "a date";
  }
}

// Why the tables found are not the report tables ("" when they are).
std::string ShapeFault(PGconn* pConn, const DatabaseShape& shape) {
  for (const SchemaTable& table : ReportSchema().vTables) {
    auto it = shape.find(FoldCase(table.sName));
    if (it == shape.end()) return std::string("no table ") + table.sName;
    if (it->second.cKind != 'r' && it->second.cKind != 'p') return std::string(table.sName) + " is not a table";
    for (const SchemaColumn& column : table.vColumns) {
      auto itColumn = it->second.mapColumns.find(FoldCase(column.sName));
      std::string sColumn = std::string(table.sName) + "." + column.sName;
      char cCategory = ServerType(column.eKind).cCategory;
      if (itColumn == it->second.mapColumns.end()) return "no column " + sColumn;
      if (itColumn->second != cCategory) return "the column " + sColumn + " is not " + CategoryName(cCategory);
    }
  }
  Result pFormat = RunOne(pConn, "SELECT to_regprocedure('format(date,text)') IS NOT NULL");
  if (std::string_view(PQgetvalue(pFormat.get(), 0, 0)) != "t") return "no function Format(date, text)";
  return {};
}

// Creates the schema in a database that holds none of its tables; checks it in any other.
// Only a database that needs the schema waits for the writers' lock, so opening one to read
// never waits for an import.
void PrepareSchema(PGconn* pConn) {
  DatabaseShape shape = ReadShape(pConn);
  if (shape.empty()) {
    try {
      RunScript(pConn, "BEGIN; " + TakeWriteLock(), kWriteLockHolder);
      if (ReadShape(pConn).empty()) RunScript(pConn, SchemaText());
      RunScript(pConn, "COMMIT");
      shape = ReadShape(pConn);
    } catch (const clsError& err) {
      PQclear(PQexec(pConn, "ROLLBACK"));
      RaiseOpen(pConn, "the report tables cannot be created (" + err.Description() + ")");
    }
  }
  std::string sFault = ShapeFault(pConn, shape);
  if (!sFault.empty()) {
    RaiseError(errDBFailure, DatabaseName(pConn) + " is not a report database (" + sFault +
                                 "); nothing in it was changed");
  }
}

// --- Values -------------------------------------------------------------------------------

constexpr Oid kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

Variant ValueAt(const PGresult* pResult, int nRow, int nColumn) {
  if (PQgetisnull(pResult, nRow, nColumn)) return Variant(Null{});
  const char* pText = PQgetvalue(pResult, nRow, nColumn);
  std::string_view sText(pText, static_cast<size_t>(PQgetlength(pResult, nRow, nColumn)));
  switch (PQftype(pResult, nColumn)) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid: return Variant(static_cast<int64_t>(std::strtoll(pText, nullptr, 10)));
    case kFloat4:
    case kFloat8:
    case kNumeric: {
      double dValue = 0;
      auto [pEnd, ec] = std::from_chars(sText.data(), sText.data() + sText.size(), dValue);
      if (ec == std::errc() && pEnd == sText.data() + sText.size()) return Variant(dValue);
      return Variant(std::string(sText));
    }
    default: return Variant(std::string(sText));
  }
}

// Sends a query and hands its rows over one at a time (libpq's single-row mode). However the
// walk ends, the rest of the answer is read, so the connection is ready for the next statement.
void StreamRows(PGconn* pConn, const std::string& sSql, const RowSink& fnRow) {
  if (!PQsendQuery(pConn, sSql.c_str())) RaiseResult(pConn, nullptr);
  PQsetSingleRowMode(pConn);
  struct RestRead {
    PGconn* pConn;
    ~RestRead() {
      while (PGresult* pResult = PQgetResult(pConn)) PQclear(pResult);
    }
  } rest{pConn};
  std::vector<Variant> vRow;
  for (Result pResult(PQgetResult(pConn)); pResult; pResult.reset(PQgetResult(pConn))) {
    ExecStatusType eStatus = PQresultStatus(pResult.get());
    if (eStatus == PGRES_TUPLES_OK || eStatus == PGRES_COMMAND_OK) continue;  // the end of the rows
    if (eStatus != PGRES_SINGLE_TUPLE) RaiseResult(pConn, pResult.get());
    vRow.resize(static_cast<size_t>(PQnfields(pResult.get())));
    for (size_t n = 0; n < vRow.size(); ++n) vRow[n] = ValueAt(pResult.get(), 0, static_cast<int>(n));
    fnRow(vRow);
  }
}

// --- The backend --------------------------------------------------------------------------

// Every lock wait of one piece of work (a report, an import) shares the one wait the settings
// give, and the server's lock_timeout is what is left of it. A statement that ran long used up
// its time (it waited, or worked, that long). The piece of work ends when its outermost
// transaction commits, or when nothing ran for as long as the wait; a rollback does not end it,
// as what follows a failed import (the history read again) is still part of it.
class WaitBudget {
 public:
  using Clock = std::chrono::steady_clock;
  explicit WaitBudget(int64_t lWaitMs) : mWait(std::chrono::milliseconds(lWaitMs)), mLeft(mWait), mlSetMs(lWaitMs) {}

  // The lock_timeout to set before a statement (0: the one set will do).
  int64_t Before() {
    mStart = Clock::now();
    if (mStart - mLastEnd >= mWait) mLeft = mWait;
    int64_t lLeftMs = std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::milliseconds>(mLeft).count());
    if (mlSetMs > 0 && lLeftMs <= mlSetMs && lLeftMs > mlSetMs - kSlackMs) return 0;
    return mlSetMs = lLeftMs;
  }
  void After() {
    mLastEnd = Clock::now();
    if (mLastEnd - mStart > kLongStatement) mLeft -= mLastEnd - mStart;
  }
  // A rollback undoes a lock_timeout set inside the transaction.
  void Forget() { mlSetMs = 0; }
  void Renew() { mLeft = mWait; }

 private:
  static constexpr int64_t kSlackMs = 500;
  static constexpr auto kLongStatement = std::chrono::milliseconds(50);
  Clock::duration mWait, mLeft;
  int64_t mlSetMs;  // as set on the server; 0 when unknown
  Clock::time_point mStart{}, mLastEnd = Clock::now();
};

class PostgresBackend : public IDbBackend {
 public:
  PostgresBackend(ConnHandle pConn, int64_t lWaitMs) : mpConn(std::move(pConn)), mWait(lWaitMs) {}

  int64_t Execute(const std::string& sSql) override {
    Result pResult = Run(sSql);
    std::string_view sCommand = PQcmdStatus(pResult.get());
    bool bChangesRows = StartsWith(sCommand, "INSERT") || StartsWith(sCommand, "UPDATE") ||
                        StartsWith(sCommand, "DELETE");
    return bChangesRows ? std::strtoll(PQcmdTuples(pResult.get()), nullptr, 10) : 0;
  }

  QueryResult Query(const std::string& sSql) override {
    Result pResult = Run(sSql);
    QueryResult result;
    int nColumns = PQnfields(pResult.get());
    for (int n = 0; n < nColumns; ++n) result.vColumns.push_back(CanonicalName(PQfname(pResult.get(), n)));
    int nRows = PQntuples(pResult.get());
    result.vRows.reserve(static_cast<size_t>(nRows));
    for (int nRow = 0; nRow < nRows; ++nRow) {
      std::vector<Variant> vRow;
      vRow.reserve(static_cast<size_t>(nColumns));
      for (int n = 0; n < nColumns; ++n) vRow.push_back(ValueAt(pResult.get(), nRow, n));
      result.vRows.push_back(std::move(vRow));
    }
    return result;
  }

  // Inside a transaction the statement runs held under its savepoint, as every other does.
  void QueryEach(const std::string& sSql, const RowSink& fnRow) override {
    if (mnLevel > 0) return IDbBackend::QueryEach(sSql, fnRow);
    std::string sServerSql = ServerStatement(sSql);
    Waiting([&] {
      StreamRows(Conn(), sServerSql, fnRow);
      return 0;
    });
  }

  // Inside a transaction the statement savepoint is always held, on top of the levels'
  // savepoints, so whatever fails, a statement included that the server cannot even parse,
  // can be rolled back to it. The outermost level takes the writers' lock at once, so a
  // second writer waits at the start and then reads the keys the first one committed.
  void BeginTrans(int nLevel) override {
    if (nLevel == 1) {
      Waiting([&] {
        BeginOutermost();
        return 0;
      });
    } else {
      RunScript(Conn(), kReleaseStatement + ";SAVEPOINT " + SavepointName(nLevel) + ";" + kHoldStatement);
    }
    mnLevel = nLevel;
  }

  void CommitTrans(int nLevel) override {
    if (nLevel == 1) {
      // The server answers COMMIT of a failed transaction by rolling it back.
      if (PQtransactionStatus(Conn()) != PQTRANS_INTRANS) {
        RaiseError(errDBFailure, "The transaction has failed and cannot be committed");
      }
      RunScript(Conn(), "COMMIT");
      mWait.Renew();
    } else {
      RunScript(Conn(), "RELEASE SAVEPOINT " + SavepointName(nLevel) + ";" + kHoldStatement);
    }
    mnLevel = nLevel - 1;
  }

  void RollbackTrans(int nLevel) override {
    // A transaction the server has ended with its connection has nothing left to undo.
    mWait.Forget();
    if (TransactionOpen()) {
      if (nLevel == 1) {
        RunScript(Conn(), "ROLLBACK");
      } else {
        std::string sName = SavepointName(nLevel);
        RunScript(Conn(), "ROLLBACK TO SAVEPOINT " + sName + ";RELEASE SAVEPOINT " + sName + ";" + kHoldStatement);
      }
    }
    mnLevel = nLevel - 1;
  }

  bool TransactionLost() override {
    return mpConn && mnLevel > 0 && PQtransactionStatus(mpConn.get()) != PQTRANS_INTRANS;
  }

  void Close() override {
    mpConn.reset();
    mnLevel = 0;
  }

 private:
  inline static const std::string kHoldStatement = "SAVEPOINT varn_statement";
  inline static const std::string kReleaseStatement = "RELEASE SAVEPOINT varn_statement";

  PGconn* Conn() const {
    if (!mpConn) RaiseError(errDBFailure, "The database is closed");
    return mpConn.get();
  }

  bool TransactionOpen() const {
    PGTransactionStatusType eStatus = PQtransactionStatus(Conn());
    return eStatus == PQTRANS_INTRANS || eStatus == PQTRANS_INERROR;
  }

  static std::string SavepointName(int nLevel) { return "level" + std::to_string(nLevel); }

  void BeginOutermost() {
    std::string sBegin = "BEGIN;" + TakeWriteLock() + ";" + kHoldStatement;
    Result pResult(PQexec(Conn(), sBegin.c_str()));
    if (Succeeded(pResult.get())) return;
    if (TransactionOpen()) PQclear(PQexec(Conn(), "ROLLBACK"));
    RaiseResult(Conn(), pResult.get(), kWriteLockHolder);
  }

  // A statement that may wait for a lock, within what is left of the wait.
  template <class Fn>
  std::invoke_result_t<Fn> Waiting(Fn&& fnStatement) {
    if (int64_t lSetMs = mWait.Before()) RunScript(Conn(), "SET lock_timeout = " + std::to_string(lSetMs));
    try {
      auto result = fnStatement();
      mWait.After();
      return result;
    } catch (...) {
      mWait.After();
      mWait.Forget();
      throw;
    }
  }

  static std::string ServerStatement(const std::string& sSql) {
    std::string sServerSql = PostgresDialect(sSql);
    if (sServerSql.find('\0') != std::string::npos) {
      RaiseError(errDBStatement, "The statement holds a NUL character");
    }
    return sServerSql;
  }

  Result Run(const std::string& sSql) {
    std::string sServerSql = ServerStatement(sSql);
    return Waiting([&] { return mnLevel > 0 ? RunHeld(sServerSql) : RunOne(Conn(), sServerSql); });
  }

  // The statement, then the release of its savepoint and the savepoint for the next one, in
  // one round trip. When anything of it fails, the transaction is rolled back to the savepoint
  // and goes on as it was before the statement.
  Result RunHeld(const std::string& sSql) {
    PGconn* pConn = Conn();
    // The line break ends a comment at the end of the statement.
    std::string sText = sSql + "\n;" + kReleaseStatement + ";" + kHoldStatement;
    if (!PQsendQuery(pConn, sText.c_str())) RaiseResult(pConn, nullptr);
    std::vector<Result> vResults;
    while (PGresult* pResult = PQgetResult(pConn)) vResults.emplace_back(pResult);
    auto itFailed = std::find_if(vResults.begin(), vResults.end(), [](const Result& p) { return !Succeeded(p.get()); });
    if (vResults.empty() || itFailed != vResults.end()) {
      if (PQtransactionStatus(pConn) == PQTRANS_INERROR) PQclear(PQexec(pConn, "ROLLBACK TO SAVEPOINT varn_statement"));
      RaiseResult(pConn, vResults.empty() ? nullptr : itFailed->get());
    }
    return std::move(vResults.front());
  }

  ConnHandle mpConn;
  WaitBudget mWait;
  int mnLevel = 0;
};

}  // namespace

bool IsPostgresUri(std::string_view sPath) {
  return StartsWith(sPath, "postgresql://") || StartsWith(sPath, "postgres://");
}

std::string ShownAddress(std::string sPath) {
  if (!IsPostgresUri(sPath)) return sPath;
  size_t nUser = sPath.find("://") + 3, nAt = sPath.find('@', nUser);
  size_t nColon = sPath.find(':', nUser);
  if (nAt != std::string::npos && nColon < nAt && sPath.find_first_of("/?", nUser) > nAt) {
    sPath.replace(nColon + 1, nAt - nColon - 1, "***");
  }
  for (size_t nKey = sPath.find("password="); nKey != std::string::npos; nKey = sPath.find("password=", nKey + 1)) {
    size_t nValue = nKey + 9;
    sPath.replace(nValue, std::min(sPath.find('&', nValue), sPath.size()) - nValue, "***");
  }
  return sPath;
}

std::string PostgresDialect(std::string_view sSql) {
  return DialectWriter(WithoutDeleteStar(sSql, IsWordChar)).Write();
}

std::unique_ptr<IDbBackend> OpenPostgresReportDatabase(const std::string& sUri, const PostgresOptions& options) {
  // Keywords before the URI are defaults it may override; the encoding after it is ours.
  // A password given apart from the address follows it, so that it is the one used.
  const bool bPassword = !options.sPassword.empty();
  const char* apKeywords[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding",
                              bPassword ? "password" : nullptr, nullptr};
  const char* apValues[] = {"10", "varnlog", sUri.c_str(), "UTF8", options.sPassword.c_str(), nullptr};
  ConnHandle pConn(PQconnectdbParams(apKeywords, apValues, 1));
  if (!pConn) RaiseError(errDBFailure, "The report database cannot be opened: out of memory");
  if (PQstatus(pConn.get()) != CONNECTION_OK) RaiseOpen(pConn.get(), WithoutLineEnd(PQerrorMessage(pConn.get())));
  PQsetNoticeProcessor(pConn.get(), IgnoreNotice, nullptr);
  // Day-first dates both ways; quotes the only escape in a literal; doubles that read back
  // exactly; a writer waits as long as the settings say for another writer's lock.
  // The server takes at most a 32-bit count of milliseconds; 0 would mean waiting for ever.
  int64_t lWaitMs = std::clamp<int64_t>(int64_t{options.nWaitSeconds} * 1000, 1, INT32_MAX);
  try {
    RunScript(pConn.get(),
              "SET DateStyle = 'SQL, DMY'; SET standard_conforming_strings = on; SET extra_float_digits = 3; "
              "SET lock_timeout = " + std::to_string(lWaitMs));
  } catch (const clsError& err) {
    RaiseOpen(pConn.get(), err.Description());
  }
  PrepareSchema(pConn.get());
  return std::make_unique<PostgresBackend>(std::move(pConn), lWaitMs);
}

}  // namespace varn
