// Errors of the runtime and database layers: a number and a description.
// Everything below the service raises clsError; procedures trap it (ui/ErrorHandling.h)
// and the host only ever sees False. Every number the component raises is in eErrNumber:
// the runtime's and the recordset's are positive, those of the database itself negative.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace varn {

enum eErrNumber : int32_t {
  errInvalidCall = 5,       // invalid procedure call or argument, missing key or position
  errOverflow = 6,          // a value outside its type's range
  errOutOfMemory = 7,
  errSubscript = 9,         // subscript out of range (a missing field of a split line)
  errTypeMismatch = 13,     // a text that is no date or number, a field of the wrong kind
  errBadFileNumber = 52,    // a read from a log file that is not open
  errFileNotFound = 53,
  errBadFileMode = 54,
  errInputPastEnd = 62,     // a read past the last item of a log file
  errPathFileAccess = 75,   // a log path that is a folder, or a file that cannot be read
  errPathNotFound = 76,
  errObjectNotSet = 91,     // an object reference that is not set
  errInvalidUseOfNull = 94,
  errDuplicateKey = 457,    // a second item under a key of a collection
  errDBNoCurrentRecord = 3021,      // a recordset read at BOF or EOF
  errDBItemNotFound = 3265,         // a field name or position that the recordset lacks
  errDBObjectClosed = 3704,         // a closed recordset or connection used
  errDBObjectOpen = 3705,           // a recordset opened twice
  errDBUniqueKey = -2423534,        // a key column refused a value it already holds
  errDBStatement = -2147217900,     // a statement the database refused
  errDBFailure = -2147467259,       // the database itself failed (busy, I/O, full, corrupt)
};

class clsError : public std::runtime_error {
 public:
  clsError(int32_t lNumber, std::string sDescription)
      : std::runtime_error(sDescription), mlNumber(lNumber), msDescription(std::move(sDescription)) {}

  int32_t Number() const { return mlNumber; }
  const std::string& Description() const { return msDescription; }

 private:
  int32_t mlNumber;
  std::string msDescription;
};

// The runtime's own description of one of its numbers.
std::string RuntimeDescription(int32_t lNumber);

[[noreturn]] void RaiseError(int32_t lNumber, const std::string& sDescription = {});

}  // namespace varn
