// The imported days as DateRange holds them, every row read as stored and none refused: what
// the service's history listing and the reports both start from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/Connection.h"
#include "runtime/DateTime.h"

namespace varn {

struct StoredDay {
  int32_t lDate_ID = 0;
  std::optional<Date> logDate;  // nothing when the stored value is no date
  std::string sLogDate;         // the stored value as text ("" for NULL)
  double dblTotal = 0;          // 0 for NULL
  std::string sImported;        // the stored value as text ("" for NULL)
};

// A stored value as text; "" for NULL, which no importer writes but a hand may have.
std::string StoredText(const Variant& value);

// Every DateRange row in date order; rows whose date cannot be read come last, by key. Raises
// for a key or a total that is no number.
std::vector<StoredDay> StoredDays(Connection& connection);

}  // namespace varn
