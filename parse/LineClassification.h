// Which table a log line feeds, and which kind of line it is within that table:
//   "#25/12/2003#" date, "End Total ..." (any letter case) day total, "PC..." session,
//   "<<..." sign-off, ">>..." sign-on; anything else is uncategorised (enuNoTable).
// The line is taken exactly as read: nothing is trimmed, every prefix but "End Total" is exact.
#pragma once

#include <string>

#include "db/Enums.h"

namespace varn {

// The table; eField receives the kind within it (left as passed when the line fails to classify).
eLogTable meIdentifyTable(const std::string& sLine, eLogField& eField);

bool mbIsDateRange(const std::string& sLine);
bool mbIsDateRangeTotal(const std::string& sLine);
bool mbIsSession(const std::string& sLine);
bool mbIsShiftOFF(const std::string& sLine);
bool mbIsShiftON(const std::string& sLine);

}  // namespace varn
