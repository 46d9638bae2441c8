// What a host shows of the report database: rows per table, a day's counts, the history of
// imported dates in date order. Plain reads through the service's connection.
#include "db/StoredDays.h"
#include "runtime/DateTime.h"
#include "runtime/Text.h"
#include "service/clsLogAnalysis.h"

namespace varn {

namespace {

std::string WhereDate(int32_t lDate_ID) { return " WHERE Date_ID=" + NumText(int64_t{lDate_ID}); }

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
  for (auto [sTable, plCount] :
       {std::pair("Session", &DayCounts::lSessions), std::pair("Shift", &DayCounts::lShifts)}) {
    for (const auto& vRow :
         mRows(std::string("SELECT Date_ID, COUNT(*) AS N FROM ") + sTable + " GROUP BY Date_ID").vRows) {
      if (!vRow[0].IsNull()) counts[static_cast<int32_t>(vRow[0].ToLong())].*plCount = vRow[1].ToLong();
    }
  }
  return counts;
}

DaySummary clsLogAnalysis::SummaryOfDay(int32_t lDate_ID) {
  auto result = mRows("SELECT LogDate, DateTotal FROM DateRange" + WhereDate(lDate_ID));
  DaySummary summary;
  summary.sLogDate = result.vRows.empty() ? "?" : StoredText(result.vRows[0][0]);
  summary.dblTotal = result.vRows.empty() || result.vRows[0][1].IsNull() ? 0 : result.vRows[0][1].ToDouble();
  summary.counts = CountsOfDay(lDate_ID);
  return summary;
}

std::vector<HistoryLine> clsLogAnalysis::DateHistory() {
  std::vector<HistoryLine> vLines;
  for (StoredDay& day : StoredDays(*DBConnection()->DBConnection())) {
    auto imported = ParseDate(day.sImported);
    vLines.push_back({day.lDate_ID, day.logDate ? FormatDate(*day.logDate, "dd/mm/yyyy") : std::move(day.sLogDate),
                      imported ? CStr(*imported) : std::move(day.sImported), day.dblTotal});
  }
  return vLines;
}

}  // namespace varn
