// The enumerations the whole component shares: the database action of an import and of
// every write, the table a log line feeds (also the table argument of key allocation), and
// the kind of a line within its table.
#pragma once

#include <cstdint>

namespace varn {

enum varneDBAction : int32_t { enuUnspecified = 0, enuInsert = 1, enuUpdate = 2, enuDelete = 3 };

enum eLogTable : int32_t {
  enuNoTable = 0,
  enuDateRangeTable = 1,
  enuShiftTable = 2,
  enuSessionTable = 3,
  enuUserTable = 4,  // key allocation only
};

enum eLogField : int32_t { enuNoField = 0, enuLogDate = 1, enuDateTotal = 2, enuSignOn = 3, enuSignOff = 4 };

}  // namespace varn
