// The ADO-like connection: statement tracing, transaction depth, and the refusal of every
// statement once the engine has ended a transaction by itself.
#include "db/Connection.h"

#include <cerrno>
#include <cstring>

#include "db/Dialect.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

bool ChangesSchema(const std::string& sSql) {
  size_t nAt = SkipBlanks(sSql);
  if (nAt == sSql.size()) return false;
  std::string sStart = UCase(std::string_view(sSql).substr(nAt, 6));
  return StartsWith(sStart, "ALTER") || StartsWith(sStart, "CREATE") || StartsWith(sStart, "DROP");
}

// One statement per line: line breaks inside it are written as \n and \r, a backslash doubled.
std::string TraceLine(const std::string& sSql) {
  std::string sLine;
  sLine.reserve(sSql.size() + 1);
  for (char c : sSql) {
    if (c == '\\') {
      sLine += "\\\\";
    } else if (c == '\n') {
      sLine += "\\n";
    } else if (c == '\r') {
      sLine += "\\r";
    } else {
      sLine += c;
    }
  }
  return sLine += '\n';
}

[[noreturn]] void RaiseNoTransaction() { RaiseError(errDBStatement, "No transaction is active"); }

}  // namespace

Connection::Connection(std::unique_ptr<IDbBackend> pBackend) : mpBackend(std::move(pBackend)) {}

Connection::~Connection() { Close(); }

void Connection::Execute(const std::string& sCommandText, int64_t* plRecordsAffected, int32_t /*lOptions*/) {
  Trace(sCommandText);
  CheckUsable();
  if (ChangesSchema(sCommandText)) ++mlSchemaEpoch;
  int64_t lRecords = 0;
  try {
    lRecords = Backend().Execute(sCommandText);
  } catch (const clsError&) {
    NoteFailure();
    throw;
  }
  // A statement that ended the transaction itself leaves the rest of it nowhere to go.
  if (mnDepth > 0 && Backend().TransactionLost()) mbLost = true;
  if (plRecordsAffected) *plRecordsAffected = lRecords;
}

QueryResult Connection::Query(const std::string& sCommandText) {
  Trace(sCommandText);
  CheckUsable();
  try {
    return Backend().Query(sCommandText);
  } catch (const clsError&) {
    NoteFailure();
    throw;
  }
}

void Connection::QueryEach(const std::string& sCommandText, const RowSink& fnRow) {
  Trace(sCommandText);
  CheckUsable();
  bool bInRow = false;
  try {
    Backend().QueryEach(sCommandText, [&](const std::vector<Variant>& vRow) {
      bInRow = true;
      fnRow(vRow);
      bInRow = false;
    });
  } catch (const clsError&) {
    if (!bInRow) NoteFailure();
    throw;
  }
}

int32_t Connection::BeginTrans() {
  CheckUsable();
  int32_t nLevel = mnDepth + 1;
  try {
    Backend().BeginTrans(nLevel);
  } catch (const clsError&) {
    NoteFailure();
    throw;
  }
  mnDepth = nLevel;
  if (nLevel == 1) ++mlSchemaEpoch;
  return mnDepth;
}

void Connection::CommitTrans() {
  if (mnDepth == 0) RaiseNoTransaction();
  CheckUsable();
  try {
    Backend().CommitTrans(mnDepth);
  } catch (const clsError&) {
    NoteFailure();
    throw;
  }
  --mnDepth;
}

void Connection::RollbackTrans() {
  if (mnDepth == 0) RaiseNoTransaction();
  ++mlSchemaEpoch;
  ++mlRowsStamp;
  try {
    Backend().RollbackTrans(mnDepth);
  } catch (const clsError&) {
    NoteFailure();
    throw;
  }
  if (--mnDepth == 0) mbLost = false;
}

uint64_t Connection::RowsStamp() {
  // Refused like any statement once the engine has ended the transaction (its rows are gone).
  CheckUsable();
  uint64_t lOthers = 0;
  uint64_t lOwn = 0;
  bool bKnown = Backend().RowsVersion(lOthers, lOwn) && !(mnDepth > 0 && Backend().TransactionLost());
  if (!bKnown || lOthers != mlOthersSeen || lOwn != mlOwnSeen) ++mlRowsStamp;
  mlOthersSeen = lOthers;
  mlOwnSeen = lOwn;
  return mlRowsStamp;
}

std::any& Connection::CachedSlot(std::type_index type, eCacheTrust eTrust) {
  // The moment is taken first, so a value read after this call counts as read at it.
  uint64_t lMark = CacheMark(eTrust);
  CacheSlot& slot = mmapCache[type];
  // Without the write lock another writer could change the tables' shape unseen.
  bool bTrusted = slot.value.has_value() && slot.eTrust == eTrust && slot.lMark == lMark &&
                  (eTrust != enuWhileSchemaHeld || mnDepth > 0);
  if (!bTrusted) slot = CacheSlot{{}, eTrust, lMark};
  return slot.value;
}

std::any& Connection::KeptSlot(std::type_index type) { return mmapCache[type].value; }

void Connection::RenewSlot(std::type_index type) {
  CacheSlot& slot = mmapCache[type];
  slot.lMark = CacheMark(slot.eTrust);
}

uint64_t Connection::CacheMark(eCacheTrust eTrust) {
  return eTrust == enuWhileRowsUnchanged ? RowsStamp() : mlSchemaEpoch;
}

void Connection::Close() {
  mmapCache.clear();
  if (mpBackend) mpBackend->Close();
  mpBackend.reset();
  mnDepth = 0;
  mbLost = false;
  if (mpTrace) std::fclose(mpTrace);
  mpTrace = nullptr;
}

void Connection::TraceTo(const std::string& sPath) {
  if (mpTrace) std::fclose(mpTrace);
  mpTrace = nullptr;
  if (sPath.empty()) return;
  mpTrace = std::fopen(sPath.c_str(), "a");
  if (!mpTrace) {
    RaiseError(errPathNotFound, "The statement trace cannot be written to \"" + sPath + "\": " + std::strerror(errno));
  }
}

IDbBackend& Connection::Backend() {
  if (!mpBackend) RaiseError(errDBObjectClosed, "Operation is not allowed when the object is closed");
  return *mpBackend;
}

void Connection::CheckUsable() {
  Backend();
  if (!mbLost) return;
  ++mlFailures;
  RaiseError(errDBFailure,
             "The database ended the transaction after a failure; nothing more runs on it until it is rolled back");
}

void Connection::NoteFailure() {
  ++mlFailures;
  if (mnDepth > 0 && mpBackend && mpBackend->TransactionLost()) mbLost = true;
}

void Connection::Trace(const std::string& sSql) {
  if (!mpTrace) return;
  std::string sLine = TraceLine(sSql);
  std::fwrite(sLine.data(), 1, sLine.size(), mpTrace);
  std::fflush(mpTrace);
}

}  // namespace varn
