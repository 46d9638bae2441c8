// The ADO-like connection every statement of the component runs on.
// BeginTrans inside an open transaction starts a nested one; CommitTrans and RollbackTrans
// end the innermost. When the engine ends the whole transaction by itself (disk full, I/O
// error, a trigger's RAISE(ROLLBACK)), every later statement and commit is refused until the
// outermost RollbackTrans, so nothing meant for the transaction is committed on its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "db/Backend.h"

namespace varn {

enum eObjectState : int32_t { adStateClosed = 0, adStateOpen = 1 };

class Connection {
 public:
  explicit Connection(std::unique_ptr<IDbBackend> pBackend);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Execute(const std::string& sCommandText, int64_t* plRecordsAffected = nullptr, int32_t lOptions = -1);
  QueryResult Query(const std::string& sCommandText);

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

 private:
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
