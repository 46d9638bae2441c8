// What the ADO-like layer needs of a database engine. The engine keeps its own SQL dialect
// behind this: the statements above it are written once, in the report database's dialect
// ("DELETE * FROM", "Format(LogDate,'dd/mm/yy')", "AS [ID]", "NUMBER" columns).
// Every failure raises clsError with a negative number and the engine's message; a value
// refused by a key column raises errDBUniqueKey.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/Variant.h"

namespace varn {

struct QueryResult {
  std::vector<std::string> vColumns;
  std::vector<std::vector<Variant>> vRows;
};

// Takes a query's rows one at a time, each with its values in the order the query names its
// columns; a row lasts only for the call.
using RowSink = std::function<void(const std::vector<Variant>& vRow)>;

class IDbBackend {
 public:
  virtual ~IDbBackend() = default;

  // Runs a statement; the number of rows it changed.
  virtual int64_t Execute(const std::string& sSql) = 0;
  virtual QueryResult Query(const std::string& sSql) = 0;
  // Runs a query and hands its rows to fnRow as they come, keeping none, so that a reader that
  // only adds them up holds one row at a time. An engine that cannot stream reads them all first.
  virtual void QueryEach(const std::string& sSql, const RowSink& fnRow) {
    for (const auto& vRow : Query(sSql).vRows) fnRow(vRow);
  }

  // Transactions by depth: level 1 is the outermost (it takes the write lock), deeper
  // levels are nested inside it.
  virtual void BeginTrans(int nLevel) = 0;
  virtual void CommitTrans(int nLevel) = 0;
  virtual void RollbackTrans(int nLevel) = 0;
  // True when the engine has ended an open transaction by itself after a failure.
  virtual bool TransactionLost() = 0;

  // Two counts that together change whenever a stored row may have changed: other
  // connections' commits and this connection's own writes. False when the engine cannot tell.
  virtual bool RowsVersion(uint64_t& /*lOthers*/, uint64_t& /*lOwn*/) { return false; }

  virtual void Close() = 0;
};

}  // namespace varn
