// The ADO-like recordset over a query's rows, with the runtime's error numbers for reading
// where there is no current row or no such field.
#include "db/Recordset.h"

#include "runtime/Error.h"

namespace varn {

namespace {

[[noreturn]] void RaiseNoCurrentRecord() {
  RaiseError(errDBNoCurrentRecord,
             "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a "
             "current record.");
}

char FoldedLetter(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names compared as FoldCase compares them, without making folded copies: every field read
// looks its column up by name.
bool SameName(const std::string& sA, const std::string& sB) {
  if (sA.size() != sB.size()) return false;
  for (size_t n = 0; n < sA.size(); ++n) {
    if (FoldedLetter(sA[n]) != FoldedLetter(sB[n])) return false;
  }
  return true;
}

}  // namespace

void Recordset::Open(const std::string& sSource, Connection& activeConnection, eCursorType /*eCursor*/,
                     eLockType /*eLock*/, int32_t /*lOptions*/) {
  if (mbOpen) RaiseError(errDBObjectOpen, "Operation is not allowed when the object is open");
  mResult = activeConnection.Query(sSource);
  mnRow = 0;
  mbOpen = true;
}

void Recordset::Close() {
  mResult = {};
  mnRow = 0;
  mbOpen = false;
}

bool Recordset::EOF_() const {
  CheckOpen();
  return mnRow >= mResult.vRows.size();
}

// Without MovePrevious the position only stands before the first row when there is none.
bool Recordset::BOF() const {
  CheckOpen();
  return mResult.vRows.empty();
}

void Recordset::MoveFirst() {
  CheckOpen();
  if (mResult.vRows.empty()) RaiseNoCurrentRecord();
  mnRow = 0;
}

void Recordset::MoveNext() {
  if (EOF_()) RaiseNoCurrentRecord();
  ++mnRow;
}

void Recordset::MoveLast() {
  CheckOpen();
  if (mResult.vRows.empty()) RaiseNoCurrentRecord();
  mnRow = mResult.vRows.size() - 1;
}

const Variant& Recordset::Fields(const std::string& sName) const {
  CheckOpen();
  for (size_t n = 0; n < mResult.vColumns.size(); ++n) {
    if (!SameName(mResult.vColumns[n], sName)) continue;
    if (EOF_() || BOF()) RaiseNoCurrentRecord();
    return mResult.vRows[mnRow][n];
  }
  RaiseError(errDBItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal");
}

int32_t Recordset::FieldCount() const {
  CheckOpen();
  return static_cast<int32_t>(mResult.vColumns.size());
}

const std::string& Recordset::FieldName(int32_t nIndex) const {
  CheckOpen();
  if (nIndex < 0 || static_cast<size_t>(nIndex) >= mResult.vColumns.size()) {
    RaiseError(errDBItemNotFound, "Item cannot be found in the collection corresponding to the requested name or ordinal");
  }
  return mResult.vColumns[static_cast<size_t>(nIndex)];
}

void Recordset::CheckOpen() const {
  if (!mbOpen) RaiseError(errDBObjectClosed, "Operation is not allowed when the object is closed");
}

}  // namespace varn
