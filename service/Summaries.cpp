// What a host shows of the report database: rows per table, a day's counts, the history of
// imported dates in date order. Plain reads through the service's connection.
#include <algorithm>

#include "runtime/DateTime.h"
#include "runtime/Text.h"
#include "service/clsLogAnalysis.h"

namespace varn {

namespace {

std::string WhereDate(int32_t lDate_ID) { return " WHERE Date_ID=" + NumText(int64_t{lDate_ID}); }

// A stored value as text; "" for NULL, which no importer writes but a hand may have.
std::string TextOf(const Variant& value) { return value.IsNull() ? std::string{} : value.ToText(); }

}  // namespace

QueryResult clsLogAnalysis::mRows(const std::string& sSql) const { return DBConnection()->DBConnection()->Query(sSql); }

int64_t clsLogAnalysis::mlCount(const std::string& sTable, const std::string& sWhere) {
  return mRows("SELECT COUNT(*) AS N FROM " + sTable + sWhere).vRows.at(0).at(0).ToLong();
}

int64_t clsLogAnalysis::RowCount(const std::string& sTable) { return mlCount(sTable, {}); }

DayCounts clsLogAnalysis::CountsOfDay(int32_t lDate_ID) {
  DayCounts counts;
  // Shifts are counted first, as the command line always asked.
  counts.lShifts = mlCount("Shift", WhereDate(lDate_ID));
  counts.lSessions = mlCount("Session", WhereDate(lDate_ID));
  return counts;
}

std::map<int32_t, DayCounts> clsLogAnalysis::CountsByDay() {
  std::map<int32_t, DayCounts> counts;
  for (auto [sTable, plCount] : {std::pair("Session", &DayCounts::lSessions), std::pair("Shift", &DayCounts::lShifts)}) {
    for (const auto& vRow : mRows(std::string("SELECT Date_ID, COUNT(*) AS N FROM ") + sTable + " GROUP BY Date_ID").vRows) {
      if (!vRow[0].IsNull()) counts[static_cast<int32_t>(vRow[0].ToLong())].*plCount = vRow[1].ToLong();
    }
  }
  return counts;
}

DaySummary clsLogAnalysis::SummaryOfDay(int32_t lDate_ID) {
  auto result = mRows("SELECT LogDate, DateTotal FROM DateRange" + WhereDate(lDate_ID));
  DaySummary summary;
  summary.sLogDate = result.vRows.empty() ? "?" : TextOf(result.vRows[0][0]);
  summary.dblTotal = result.vRows.empty() || result.vRows[0][1].IsNull() ? 0 : result.vRows[0][1].ToDouble();
  summary.counts = CountsOfDay(lDate_ID);
  return summary;
}

std::vector<HistoryLine> clsLogAnalysis::DateHistory() {
  auto result = mRows("SELECT Date_ID, LogDate, DateTotal, DateImported FROM DateRange");
  std::vector<std::pair<double, HistoryLine>> vDates;
  for (const auto& vRow : result.vRows) {
    auto logDate = ParseDate(TextOf(vRow[1]));
    auto imported = ParseDate(TextOf(vRow[3]));
    HistoryLine line{vRow[0].ToLong(), logDate ? FormatDate(*logDate, "dd/mm/yyyy") : TextOf(vRow[1]),
                     imported ? CStr(*imported) : TextOf(vRow[3]), vRow[2].IsNull() ? 0 : vRow[2].ToDouble()};
    vDates.emplace_back(logDate ? logDate->dSerial : 1e300, std::move(line));
  }
  std::stable_sort(vDates.begin(), vDates.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first < b.first : a.second.lDate_ID < b.second.lDate_ID;
  });
  std::vector<HistoryLine> vLines;
  for (auto& date : vDates) vLines.push_back(std::move(date.second));
  return vLines;
}

}  // namespace varn
