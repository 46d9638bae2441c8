// The ADO-like connection every statement of the component runs on.
// BeginTrans inside an open transaction starts a nested one; CommitTrans and RollbackTrans
// end the innermost. When the engine ends the whole transaction by itself (disk full, I/O
// error, a trigger's RAISE(ROLLBACK)), every later statement and commit is refused until the
// outermost RollbackTrans, so nothing meant for the transaction is committed on its own.
// The layers above keep what they read in the connection's cache, which the connection alone
// judges current and drops when it closes.
#pragma once

#include <any>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

#include "db/Backend.h"

namespace varn {

enum eObjectState : int32_t { adStateClosed = 0, adStateOpen = 1 };

// How long what is kept in a connection's cache may be trusted.
enum eCacheTrust : int32_t {
  enuWhileRowsUnchanged = 0,  // until a stored row may have changed (RowsStamp)
  enuWhileSchemaHeld = 1,     // inside a transaction, until the tables' shape may have changed (SchemaEpoch)
};

class Connection {
 public:
  explicit Connection(std::unique_ptr<IDbBackend> pBackend);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Execute(const std::string& sCommandText, int64_t* plRecordsAffected = nullptr, int32_t lOptions = -1);
  QueryResult Query(const std::string& sCommandText);
  // The query's rows handed to fnRow one at a time, none kept (see IDbBackend::QueryEach). An
  // error fnRow raises ends the walk and is passed on; it is no failure of the statement.
  void QueryEach(const std::string& sCommandText, const RowSink& fnRow);

  // The new depth (1 for the outermost).
  int32_t BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  int32_t TransactionDepth() const { return mnDepth; }

  void Close();
  int32_t State() const { return mpBackend ? adStateOpen : adStateClosed; }

  // Writes every statement executed from now on to sPath, one per line ("" stops).
  void TraceTo(const std::string& sPath);

  // Changes whenever what a reader may have cached of the tables' shape can have changed:
  // an outermost BeginTrans (the write lock is newly held), any ALTER/CREATE/DROP, any rollback.
  uint64_t SchemaEpoch() const { return mlSchemaEpoch; }
  // How many statements have failed on this connection: a reader that must tell a failed
  // statement from a malformed line compares it before and after.
  uint64_t FailureCount() const { return mlFailures; }
  // Changes whenever a stored row may have changed since the last call (own writes and
  // rollbacks, other connections' commits), so a reader may keep what it read until then.
  // Changes on every call over an engine that cannot tell.
  uint64_t RowsStamp();

  // The cache: one slot for each type T a layer above keeps there. Cached is the value in T's
  // slot, or nullptr when there is none or it may be stale; then the slot is emptied, and the
  // value that Keep puts in it next counts as read at the moment of that call.
  template <class T>
  T* Cached(eCacheTrust eTrust) {
    return std::any_cast<T>(&CachedSlot(typeid(T), eTrust));
  }
  template <class T>
  T& Keep(T value) {
    return KeptSlot(typeid(T)).emplace<T>(std::move(value));
  }
  // The value in T's slot, changed by its owner together with a statement of its own, counts
  // as read now.
  template <class T>
  void Renew() {
    RenewSlot(typeid(T));
  }

 private:
  struct CacheSlot {
    std::any value;
    eCacheTrust eTrust = enuWhileRowsUnchanged;
    uint64_t lMark = 0;  // RowsStamp or SchemaEpoch when the value was read
  };

  std::any& CachedSlot(std::type_index type, eCacheTrust eTrust);
  std::any& KeptSlot(std::type_index type);
  void RenewSlot(std::type_index type);
  uint64_t CacheMark(eCacheTrust eTrust);

  IDbBackend& Backend();
  void CheckUsable();
  void NoteFailure();
  void Trace(const std::string& sSql);

  std::unique_ptr<IDbBackend> mpBackend;
  int32_t mnDepth = 0;
  bool mbLost = false;
  uint64_t mlSchemaEpoch = 1;
  uint64_t mlFailures = 0;
  uint64_t mlRowsStamp = 0;
  uint64_t mlOthersSeen = 0;
  uint64_t mlOwnSeen = 0;
  std::FILE* mpTrace = nullptr;
  std::unordered_map<std::type_index, CacheSlot> mmapCache;
};

// A transaction on a connection that is rolled back when the guard ends uncommitted, so every
// way out of a procedure, its error trap included, leaves nothing half-written.
class TransactionGuard {
 public:
  explicit TransactionGuard(Connection& connection) : mConnection(connection) {
    mConnection.BeginTrans();
    mbOpen = true;
  }
  ~TransactionGuard() {
    if (!mbOpen) return;
    try {
      mConnection.RollbackTrans();
    } catch (...) {  // a connection already closed has nothing left to roll back
    }
  }
  TransactionGuard(const TransactionGuard&) = delete;
  TransactionGuard& operator=(const TransactionGuard&) = delete;

  void Commit() {
    mConnection.CommitTrans();
    mbOpen = false;
  }
  void Rollback() {
    mbOpen = false;
    mConnection.RollbackTrans();
  }

 private:
  Connection& mConnection;
  bool mbOpen = false;
};

}  // namespace varn
