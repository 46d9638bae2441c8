// Errors of the runtime and database layers: a number and a description.
// Everything below the service raises clsError; procedures trap it (ui/ErrorHandling.h)
// and the host only ever sees False. Runtime numbers are positive, database ones negative.
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
  errFileNotFound = 53,
  errBadFileMode = 54,
  errPathNotFound = 76,
  errObjectNotSet = 91,     // an object reference that is not set
  errInvalidUseOfNull = 94,
  errDuplicateKey = 457,    // a second item under a key of a collection
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
