// The imported days, read once and put in date order.
#include "db/StoredDays.h"

#include <algorithm>

namespace varn {

std::string StoredText(const Variant& value) { return value.IsNull() ? std::string{} : value.ToText(); }

std::vector<StoredDay> StoredDays(Connection& connection) {
  QueryResult result = connection.Query("SELECT Date_ID, LogDate, DateTotal, DateImported FROM DateRange");
  std::vector<StoredDay> vDays;
  vDays.reserve(result.vRows.size());
  for (const auto& vRow : result.vRows) {
    std::string sLogDate = StoredText(vRow[1]);
    vDays.push_back({vRow[0].ToLong(), ParseDate(sLogDate), sLogDate, vRow[2].IsNull() ? 0 : vRow[2].ToDouble(),
                     StoredText(vRow[3])});
  }
  std::stable_sort(vDays.begin(), vDays.end(), [](const StoredDay& a, const StoredDay& b) {
    double dA = a.logDate ? a.logDate->dSerial : 1e300, dB = b.logDate ? b.logDate->dSerial : 1e300;
    return dA != dB ? dA < dB : a.lDate_ID < b.lDate_ID;
  });
  return vDays;
}

}  // namespace varn
