// The ADO-like recordset: a query's rows read at Open, walked with the Move operations.
// Reading a field at BOF or EOF, or a field that the row lacks, raises an error.
#pragma once

#include <cstdint>
#include <string>

#include "db/Backend.h"
#include "db/Connection.h"

namespace varn {

enum eCursorType : int32_t { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum eLockType : int32_t { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3 };

class Recordset {
 public:
  void Open(const std::string& sSource, Connection& activeConnection, eCursorType eCursor = adOpenForwardOnly,
            eLockType eLock = adLockReadOnly, int32_t lOptions = -1);
  void Close();

  bool IsOpen() const { return mbOpen; }
  bool EOF_() const;
  bool BOF() const;
  void MoveFirst();
  void MoveNext();
  void MoveLast();

  const Variant& Fields(const std::string& sName) const;
  int32_t FieldCount() const;
  const std::string& FieldName(int32_t nIndex) const;

 private:
  void CheckOpen() const;

  QueryResult mResult;
  size_t mnRow = 0;
  bool mbOpen = false;
};

}  // namespace varn
