// The report's figures: the period's days from DateRange, their shifts, every session read once
// as a stream, and the goods places added up by the database.
#include <algorithm>
#include <cmath>
#include <map>
#include <unordered_map>

#include "db/StoredDays.h"
#include "report/Report.h"
#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

constexpr int64_t kDaySeconds = 86400;

// "h:mm" as seconds: a time of day (hours 0 to 23), or a time used (up to four digits of hours).
std::optional<int64_t> ClockSeconds(std::string_view sText, bool bTimeOfDay) {
  while (!sText.empty() && sText.front() == ' ') sText.remove_prefix(1);
  while (!sText.empty() && sText.back() == ' ') sText.remove_suffix(1);
  size_t nColon = sText.find(':');
  if (nColon == std::string_view::npos || nColon == 0 || nColon > (bTimeOfDay ? 2u : 4u) ||
      sText.size() != nColon + 3) {
    return std::nullopt;
  }
  int64_t lHours = 0;
  for (size_t n = 0; n < sText.size(); ++n) {
    if (n == nColon) continue;
    if (sText[n] < '0' || sText[n] > '9') return std::nullopt;
    if (n < nColon) lHours = lHours * 10 + (sText[n] - '0');
  }
  int64_t lMinutes = (sText[nColon + 1] - '0') * 10 + (sText[nColon + 2] - '0');
  if (lMinutes > 59 || (bTimeOfDay && lHours > 23)) return std::nullopt;
  return (lHours * 60 + lMinutes) * 60;
}

// A stored amount; 0 for NULL and for a value that is no number.
double AmountOf(const Variant& value) {
  if (value.IsNull()) return 0;
  try {
    double dblValue = value.ToDouble();
    return std::isfinite(dblValue) ? dblValue : 0;
  } catch (const clsError&) {
    return 0;
  }
}

int64_t KeyOf(const Variant& value) {
  try {
    return value.IsNull() ? -1 : value.ToLong();
  } catch (const clsError&) {
    return -1;
  }
}

int64_t Minutes(int64_t lSeconds) { return (lSeconds + 30) / 60; }

// Names with their numbers compared as numbers: PC2 before PC10.
bool NaturalLess(const std::string& sA, const std::string& sB) {
  auto IsDigit = [](char c) { return c >= '0' && c <= '9'; };
  size_t nA = 0, nB = 0;
  while (nA < sA.size() && nB < sB.size()) {
    if (IsDigit(sA[nA]) && IsDigit(sB[nB])) {
      size_t nEndA = nA, nEndB = nB;
      while (nEndA < sA.size() && IsDigit(sA[nEndA])) ++nEndA;
      while (nEndB < sB.size() && IsDigit(sB[nEndB])) ++nEndB;
      std::string_view sNumA = std::string_view(sA).substr(nA, nEndA - nA);
      std::string_view sNumB = std::string_view(sB).substr(nB, nEndB - nB);
      while (sNumA.size() > 1 && sNumA[0] == '0') sNumA.remove_prefix(1);
      while (sNumB.size() > 1 && sNumB[0] == '0') sNumB.remove_prefix(1);
      if (sNumA.size() != sNumB.size()) return sNumA.size() < sNumB.size();
      if (sNumA != sNumB) return sNumA < sNumB;
      nA = nEndA;
      nB = nEndB;
    } else {
      if (sA[nA] != sB[nB]) return sA[nA] < sB[nB];
      ++nA;
      ++nB;
    }
  }
  return sA.size() - nA < sB.size() - nB || (sA.size() - nA == sB.size() - nB && sA < sB);
}

// A shift as its day's sign-ons and sign-offs make it; a bound not yet known is empty.
struct ShiftWork {
  std::string sOperator;
  std::string sKey;  // the operator's name as sign-ons and sign-offs are matched
  std::optional<int64_t> lStart, lEnd;
  bool bStartLogged = false, bEndLogged = false;
  int64_t lSessions = 0;
  double dblTakings = 0;
};

// What a day gathers while its sessions are read.
struct DayWork {
  std::vector<ShiftWork> vShifts;   // in log order
  std::optional<int64_t> lOpening;  // fixed by the first session that has a start
  bool bOpeningFixed = false;
  std::optional<int64_t> lFirstStart, lLastEnd;
  int64_t lSecondsUsed = 0;
  int64_t lOutsideSessions = 0;
  double dblOutsideTakings = 0;

  void AddShiftLine(bool bSignOn, const std::string& sOperator, int64_t lAt) {
    std::string sKey = FoldCase(Trim(sOperator));
    if (bSignOn) {
      vShifts.push_back({sOperator, sKey, lAt, std::nullopt, true, false});
      if (lAt >= 0 && lAt < kDaySeconds && (!lOpening || lAt < *lOpening)) lOpening = lAt;
      return;
    }
    auto itOpen = std::find_if(vShifts.rbegin(), vShifts.rend(), [&](const ShiftWork& shift) {
      return shift.sKey == sKey && shift.bStartLogged && !shift.lEnd;
    });
    if (itOpen != vShifts.rend()) {
      itOpen->lEnd = lAt;
      itOpen->bEndLogged = true;
    } else {
      vShifts.push_back({sOperator, sKey, std::nullopt, lAt, false, true});
    }
  }

  // The bounds the shifts give each other: a sign-on without a sign-off ends at the next
  // sign-on; a sign-off without a sign-on starts at the last sign-on or sign-off before it.
  void SettleShifts() {
    for (ShiftWork& shift : vShifts) {
      if (shift.bEndLogged) continue;
      for (const ShiftWork& other : vShifts) {
        bool bLaterSignOn = other.bStartLogged && *other.lStart > *shift.lStart;
        if (bLaterSignOn && (!shift.lEnd || *other.lStart < *shift.lEnd)) shift.lEnd = other.lStart;
      }
    }
    for (ShiftWork& shift : vShifts) {
      if (shift.bStartLogged) continue;
      for (const ShiftWork& other : vShifts) {
        for (auto [bLogged, lAt] :
             {std::pair{other.bStartLogged, other.lStart}, std::pair{other.bEndLogged, other.lEnd}}) {
          if (&other != &shift && bLogged && *lAt <= *shift.lEnd && (!shift.lStart || *lAt > *shift.lStart)) {
            shift.lStart = lAt;
          }
        }
      }
    }
  }

  // Where a start time falls on the day's clock.
  int64_t Placed(int64_t lStart) {
    if (!bOpeningFixed) lOpening = std::min(lOpening.value_or(lStart), lStart);
    bOpeningFixed = true;
    return lStart < *lOpening ? lStart + kDaySeconds : lStart;
  }

  // The latest shift begun by lAt and not yet ended.
  ShiftWork* ShiftAt(int64_t lAt) {
    ShiftWork* pFound = nullptr;
    for (ShiftWork& shift : vShifts) {
      bool bBegun = !shift.lStart || *shift.lStart <= lAt;
      bool bLater = !pFound || (shift.lStart && (!pFound->lStart || *shift.lStart >= *pFound->lStart));
      if (bBegun && (!shift.lEnd || lAt < *shift.lEnd) && bLater) pFound = &shift;
    }
    return pFound;
  }

  // The bounds left open take the day's sessions; the hours the shop was open.
  int64_t CloseShifts() {
    std::optional<int64_t> lFirstSignOn;
    for (const ShiftWork& shift : vShifts) {
      if (shift.bStartLogged) lFirstSignOn = std::min(lFirstSignOn.value_or(*shift.lStart), *shift.lStart);
    }
    std::optional<int64_t> lOpen, lClose;
    for (ShiftWork& shift : vShifts) {
      if (!shift.lStart)
        shift.lStart = std::min({lFirstStart.value_or(*shift.lEnd), lFirstSignOn.value_or(*shift.lEnd), *shift.lEnd});
      if (!shift.lEnd) shift.lEnd = std::max(lLastEnd.value_or(*shift.lStart), *shift.lStart);
      lOpen = std::min(lOpen.value_or(*shift.lStart), *shift.lStart);
      lClose = std::max(lClose.value_or(*shift.lEnd), *shift.lEnd);
    }
    if (vShifts.empty()) {
      lOpen = lFirstStart;
      lClose = lLastEnd;
    }
    return lOpen && lClose && *lClose > *lOpen ? *lClose - *lOpen : 0;
  }
};

struct SessionTotals {
  int64_t lSessions = 0;
  int64_t lSecondsUsed = 0;
  double dblTakings = 0;
};

// Everything the sessions add up to, beside the days' own figures.
struct Tally {
  std::unordered_map<std::string, SessionTotals> mapPCs;
  std::map<int64_t, SessionTotals> mapCategories;
  int64_t alStarted[24] = {};
  int64_t alSecondsInUse[24] = {};
  int64_t lUntimed = 0;

  // Seconds of use from lStart (on a day's clock) for lLength, spread over the hours of the day.
  void AddUse(int64_t lStart, int64_t lLength) {
    int64_t lWholeDays = lLength / kDaySeconds;
    for (int64_t& lSeconds : alSecondsInUse) lSeconds += lWholeDays * 3600;
    for (int64_t lAt = lStart, lEnd = lStart + lLength % kDaySeconds; lAt < lEnd;) {
      int64_t lHourEnd = (lAt / 3600 + 1) * 3600;
      alSecondsInUse[lAt / 3600 % 24] += std::min(lHourEnd, lEnd) - lAt;
      lAt = lHourEnd;
    }
  }
};

std::string DayList(const std::vector<ReportDay>& vDays) {
  std::string sList = "(";
  for (const ReportDay& day : vDays) {
    if (sList.size() > 1) sList += ',';
    AppendNumText(sList, int64_t{day.lDate_ID});
  }
  return sList + ")";
}

void ReadShifts(Connection& connection, const std::string& sDays, const std::unordered_map<int64_t, size_t>& mapDayAt,
                const std::vector<ReportDay>& vDays, std::vector<DayWork>& vWork) {
  connection.QueryEach("SELECT Date_ID, SignOn, SignOff, SignDateTime FROM Shift WHERE Date_ID IN " + sDays +
                           " ORDER BY Date_ID, LineNo",
                       [&](const std::vector<Variant>& vRow) {
                         auto itDay = mapDayAt.find(KeyOf(vRow[0]));
                         std::optional<Date> at = ParseDate(StoredText(vRow[3]));
                         if (itDay == mapDayAt.end() || !at) return;
                         std::string sSignOn = Trim(StoredText(vRow[1])), sSignOff = Trim(StoredText(vRow[2]));
                         auto lAt = std::llround((at->dSerial - vDays[itDay->second].dtLogDate.dSerial) * kDaySeconds);
                         vWork[itDay->second].AddShiftLine(!sSignOn.empty(), sSignOn.empty() ? sSignOff : sSignOn, lAt);
                       });
  for (DayWork& day : vWork) day.SettleShifts();
}

void ReadSessions(Connection& connection, const std::string& sDays, const std::unordered_map<int64_t, size_t>& mapDayAt,
                  Report& report, std::vector<DayWork>& vWork, Tally& tally) {
  int64_t lLastKey = -2;
  size_t nDay = 0;
  connection.QueryEach(
      "SELECT Date_ID, PC_No, StartTime, EndTime, TotalTime, User_ID, UserCharge, TotalGoods, Total FROM Session "
      "WHERE Date_ID IN " +
          sDays + " ORDER BY Date_ID, LineNo",
      [&](const std::vector<Variant>& vRow) {
        int64_t lKey = KeyOf(vRow[0]);
        if (lKey != lLastKey) {
          auto itDay = mapDayAt.find(lKey);
          if (itDay == mapDayAt.end()) return;
          lLastKey = lKey;
          nDay = itDay->second;
        }
        ReportDay& day = report.vDays[nDay];
        DayWork& work = vWork[nDay];
        double dblTakings = AmountOf(vRow[8]);
        std::optional<int64_t> lStart = ClockSeconds(StoredText(vRow[2]), true);
        std::optional<int64_t> lEnd = ClockSeconds(StoredText(vRow[3]), true);
        std::optional<int64_t> lLength;
        if (lStart && lEnd) lLength = (*lEnd - *lStart + kDaySeconds) % kDaySeconds;
        else lLength = ClockSeconds(StoredText(vRow[4]), false);

        ShiftWork* pShift = nullptr;
        if (lStart) {
          int64_t lPlaced = work.Placed(*lStart);
          work.lFirstStart = std::min(work.lFirstStart.value_or(lPlaced), lPlaced);
          work.lLastEnd = std::max(work.lLastEnd.value_or(lPlaced), lPlaced + lLength.value_or(0));
          ++tally.alStarted[lPlaced / 3600 % 24];
          if (lLength) tally.AddUse(lPlaced, *lLength);
          pShift = work.ShiftAt(lPlaced);
        }
        if (pShift) {
          ++pShift->lSessions;
          pShift->dblTakings += dblTakings;
        } else {
          ++work.lOutsideSessions;
          work.dblOutsideTakings += dblTakings;
        }
        if (!lLength) ++tally.lUntimed;
        int64_t lUsed = lLength.value_or(0);
        for (SessionTotals* pTotals : {&tally.mapPCs[StoredText(vRow[1])], &tally.mapCategories[KeyOf(vRow[5])]}) {
          ++pTotals->lSessions;
          pTotals->lSecondsUsed += lUsed;
          pTotals->dblTakings += dblTakings;
        }
        ++day.lSessions;
        work.lSecondsUsed += lUsed;
        day.dblCharges += AmountOf(vRow[6]);
        day.dblGoods += AmountOf(vRow[7]);
        day.dblSessionTotals += dblTakings;
      });
}

std::map<int64_t, std::string> UserNames(Connection& connection) {
  std::map<int64_t, std::string> mapNames;
  connection.QueryEach("SELECT User_ID, UserName FROM User",
                       [&](const std::vector<Variant>& vRow) { mapNames[KeyOf(vRow[0])] = StoredText(vRow[1]); });
  return mapNames;
}

// The amount sold at each goods place, added up by the database.
std::vector<ReportGoods> ReadGoods(Connection& connection, const std::string& sDays) {
  std::vector<int32_t> vPlaces;
  std::string sSums;
  for (const std::string& sColumn : connection.Query("SELECT * FROM Goods WHERE 1=0").vColumns) {
    std::string_view sNumber = std::string_view(sColumn).substr(std::min<size_t>(sColumn.size(), 6));
    bool bPlace = FoldCase(sColumn.substr(0, 6)) == "goods_" && !sNumber.empty() && sNumber.size() < 6 &&
                  std::all_of(sNumber.begin(), sNumber.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!bPlace) continue;
    vPlaces.push_back(std::stoi(std::string(sNumber)));
    sSums += (sSums.empty() ? "SUM(" : ", SUM(") + sColumn + ")";
  }
  std::vector<ReportGoods> vGoods;
  if (vPlaces.empty()) return vGoods;
  QueryResult sums = connection.Query("SELECT " + sSums + " FROM Goods WHERE Date_ID IN " + sDays);
  for (size_t n = 0; n < vPlaces.size() && !sums.vRows.empty(); ++n) {
    if (!sums.vRows[0][n].IsNull()) vGoods.push_back({vPlaces[n], AmountOf(sums.vRows[0][n])});
  }
  std::sort(vGoods.begin(), vGoods.end(), [](const auto& a, const auto& b) { return a.nPlace < b.nPlace; });
  return vGoods;
}

// The days' figures and the summary's; the seconds the shop was open in the period.
int64_t CloseDays(Report& report, std::vector<DayWork>& vWork) {
  ReportSummary& summary = report.summary;
  int64_t lOpenSeconds = 0, lUsedSeconds = 0;
  summary.lDays = static_cast<int64_t>(report.vDays.size());
  for (size_t n = 0; n < report.vDays.size(); ++n) {
    ReportDay& day = report.vDays[n];
    DayWork& work = vWork[n];
    int64_t lDayOpen = work.CloseShifts();
    lOpenSeconds += lDayOpen;
    lUsedSeconds += work.lSecondsUsed;
    day.lMinutesOpen = Minutes(lDayOpen);
    day.lMinutesUsed = Minutes(work.lSecondsUsed);
    for (const ShiftWork& shift : work.vShifts) {
      report.vShifts.push_back({day.dtLogDate, shift.sOperator, *shift.lStart, *shift.lEnd, shift.bStartLogged,
                                shift.bEndLogged, shift.lSessions, shift.dblTakings});
    }
    if (work.lOutsideSessions > 0) {
      int64_t lFirst = work.lFirstStart.value_or(0);
      report.vShifts.push_back({day.dtLogDate, "", lFirst, work.lLastEnd.value_or(lFirst), false, false,
                                work.lOutsideSessions, work.dblOutsideTakings});
    }
    summary.lSessions += day.lSessions;
    summary.dblCharges += day.dblCharges;
    summary.dblGoods += day.dblGoods;
    summary.dblSessionTotals += day.dblSessionTotals;
    summary.dblDayTotals += day.dblDayTotal;
    if (day.Differs()) {
      ++summary.lDifferingDays;
      summary.dblDifference += day.Difference();
    }
  }
  std::stable_sort(report.vShifts.begin(), report.vShifts.end(), [](const ReportShift& a, const ReportShift& b) {
    return a.dtLogDate.dSerial != b.dtLogDate.dSerial ? a.dtLogDate.dSerial < b.dtLogDate.dSerial
                                                      : a.lSignOn < b.lSignOn;
  });
  summary.lMinutesOpen = Minutes(lOpenSeconds);
  summary.lMinutesUsed = Minutes(lUsedSeconds);
  return lOpenSeconds;
}

void CloseTallies(Report& report, const Tally& tally, const std::map<int64_t, std::string>& mapUsers,
                  int64_t lOpenSeconds) {
  ReportSummary& summary = report.summary;
  summary.lUntimedSessions = tally.lUntimed;
  for (const auto& [sPC, totals] : tally.mapPCs) {
    double dblShare =
        lOpenSeconds > 0 ? static_cast<double>(totals.lSecondsUsed) / static_cast<double>(lOpenSeconds) : 0;
    report.vPCs.push_back({sPC, totals.lSessions, Minutes(totals.lSecondsUsed), totals.dblTakings, dblShare});
  }
  std::sort(report.vPCs.begin(), report.vPCs.end(),
            [](const auto& a, const auto& b) { return NaturalLess(a.sPC, b.sPC); });
  for (const auto& [lUser, totals] : tally.mapCategories) {
    auto itName = mapUsers.find(lUser);
    std::string sName = itName != mapUsers.end() ? itName->second : "User " + NumText(lUser);
    double dblShare = summary.dblSessionTotals != 0 ? totals.dblTakings / summary.dblSessionTotals : 0;
    report.vCategories.push_back({sName, totals.lSessions, totals.dblTakings, dblShare});
  }
  std::stable_sort(report.vCategories.begin(), report.vCategories.end(),
                   [](const auto& a, const auto& b) { return a.dblTakings > b.dblTakings; });
  int nFirst = 0, nLast = 23;
  while (nFirst <= nLast && !tally.alStarted[nFirst] && !tally.alSecondsInUse[nFirst]) ++nFirst;
  while (nLast >= nFirst && !tally.alStarted[nLast] && !tally.alSecondsInUse[nLast]) --nLast;
  for (int nHour = nFirst; nHour <= nLast; ++nHour) {
    double dblInUse = static_cast<double>(tally.alSecondsInUse[nHour]) / (3600.0 * static_cast<double>(summary.lDays));
    report.vHours.push_back({nHour, tally.alStarted[nHour], dblInUse});
  }
}

}  // namespace

bool ReportDay::Differs() const { return std::llround(Difference() * 100) != 0; }

Report ComputeReport(Connection& connection, const ReportPeriod& period) {
  Report report;
  report.period = period;
  std::unordered_map<int64_t, size_t> mapDayAt;
  for (const StoredDay& stored : StoredDays(connection)) {
    if (!stored.logDate) continue;
    Date dtDay = DateOnly(*stored.logDate);
    if (dtDay.dSerial < period.dtFrom.dSerial || dtDay.dSerial > period.dtTo.dSerial) continue;
    mapDayAt[stored.lDate_ID] = report.vDays.size();
    ReportDay day;
    day.lDate_ID = stored.lDate_ID;
    day.dtLogDate = dtDay;
    day.dblDayTotal = stored.dblTotal;
    report.vDays.push_back(day);
  }
  if (report.vDays.empty()) return report;
  std::string sDays = DayList(report.vDays);
  std::vector<DayWork> vWork(report.vDays.size());
  ReadShifts(connection, sDays, mapDayAt, report.vDays, vWork);
  Tally tally;
  ReadSessions(connection, sDays, mapDayAt, report, vWork, tally);
  int64_t lOpenSeconds = CloseDays(report, vWork);
  CloseTallies(report, tally, UserNames(connection), lOpenSeconds);
  report.vGoods = ReadGoods(connection, sDays);
  return report;
}

std::optional<ReportPeriod> MonthPeriod(const std::string& sMonth) {
  bool bShape = sMonth.size() == 7 && sMonth[4] == '-' &&
                std::all_of(sMonth.begin(), sMonth.end(), [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!bShape) return std::nullopt;
  int nYear = std::stoi(sMonth.substr(0, 4)), nMonth = std::stoi(sMonth.substr(5));
  if (nYear < 100 || nMonth < 1 || nMonth > 12) return std::nullopt;
  Date dtFirst = DateSerial(nYear, nMonth, 1);
  double dblDays = nMonth == 12 ? 31 : DateSerial(nYear, nMonth + 1, 1).dSerial - dtFirst.dSerial;
  return ReportPeriod{dtFirst, Date{dtFirst.dSerial + dblDays - 1}};
}

ReportPeriod MonthOf(Date dtDay) {
  std::string sDate = FormatDate(dtDay, "dd/mm/yyyy");
  return *MonthPeriod(sDate.substr(6, 4) + "-" + sDate.substr(3, 2));
}

std::optional<ReportPeriod> ImportedDays(Connection& connection) {
  std::optional<ReportPeriod> days;
  for (const StoredDay& day : StoredDays(connection)) {
    if (!day.logDate) continue;  // those last
    Date dtDay = DateOnly(*day.logDate);
    days = ReportPeriod{days ? days->dtFrom : dtDay, dtDay};
  }
  return days;
}

}  // namespace varn
