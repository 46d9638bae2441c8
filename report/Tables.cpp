// The report's tables, and their writers for a terminal and as CSV.
#include "report/Tables.h"

#include <fmt/core.h>

#include <algorithm>
#include <cmath>

#include "runtime/Error.h"
#include "runtime/Text.h"

namespace varn {

namespace {

ReportCell Text(std::string sText) { return {enuTextCell, 0, std::move(sText)}; }
ReportCell Count(int64_t lValue) { return {enuCountCell, static_cast<double>(lValue), {}}; }
ReportCell Money(double dblValue, bool bMarked = false) { return {enuMoneyCell, dblValue, {}, bMarked}; }
ReportCell Hours(int64_t lMinutes) { return {enuHoursCell, static_cast<double>(lMinutes), {}}; }
ReportCell Share(double dblValue) { return {enuShareCell, dblValue, {}}; }

std::string DateText(Date dt) { return FormatDate(dt, "dd/mm/yyyy"); }

std::string Weekday(Date dt) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  auto lDay = static_cast<int64_t>(std::floor(dt.dSerial));
  return kDays[((lDay + 6) % 7 + 7) % 7];  // day 0, 30/12/1899, was a Saturday
}

// A time on a day's clock as a clock shows it, hh:mm, "+1" after it on the next day; in brackets
// when the log does not hold it.
std::string ClockText(int64_t lSeconds, bool bLogged) {
  int64_t lDays = lSeconds >= 0 ? lSeconds / 86400 : -((-lSeconds + 86399) / 86400);
  int64_t lOfDay = (lSeconds - lDays * 86400) / 60;
  std::string sText = fmt::format("{:02}:{:02}", lOfDay / 60, lOfDay % 60);
  if (lDays != 0) sText += fmt::format("{:+}", lDays);
  return bLogged ? sText : "(" + sText + ")";
}

std::string Grouped(const std::string& sDigits) {
  size_t nPoint = std::min(sDigits.find('.'), sDigits.size());
  size_t nFirst = sDigits[0] == '-' ? 1 : 0;
  std::string sOut;
  for (size_t n = 0; n < sDigits.size(); ++n) {
    if (n > nFirst && n < nPoint && (nPoint - n) % 3 == 0) sOut += ',';
    sOut += sDigits[n];
  }
  return sOut;
}

// The summary's figures, each named.
ReportTable SummaryTable(const Report& report) {
  const ReportSummary& summary = report.summary;
  ReportTable table{"summary", "Summary", {{"Figure", "figure"}, {"Value", "value"}}, {}, {}};
  auto Add = [&](const char* sFigure, ReportCell value) { table.vRows.push_back({Text(sFigure), std::move(value)}); };
  Add("Days imported", Count(summary.lDays));
  Add("Sessions", Count(summary.lSessions));
  Add("Hours of PC use", Hours(summary.lMinutesUsed));
  Add("Sessions without readable times", Count(summary.lUntimedSessions));
  Add("Hours open", Hours(summary.lMinutesOpen));
  Add("PC charges", Money(summary.dblCharges));
  Add("Goods", Money(summary.dblGoods));
  Add("Session totals", Money(summary.dblSessionTotals));
  Add("Days' totals", Money(summary.dblDayTotals));
  Add("Days differing from their sessions", Count(summary.lDifferingDays));
  Add("Their difference", Money(summary.dblDifference, summary.lDifferingDays > 0));
  std::string sDiffering;
  for (const ReportDay& day : report.vDays) {
    if (!day.Differs()) continue;
    sDiffering += (sDiffering.empty() ? "" : ", ") + DateText(day.dtLogDate) + " (" +
                  fmt::format("{:+.2f}", day.Difference()) + ")";
  }
  if (!sDiffering.empty()) table.sNote = "Days whose total differs from the sum of their sessions: " + sDiffering + ".";
  if (summary.lUntimedSessions > 0) {
    table.sNote += std::string(table.sNote.empty() ? "" : " ") + NumText(summary.lUntimedSessions) +
                   " sessions have no times that can be read: they count in the takings, not in the hours.";
  }
  return table;
}

ReportTable DaysTable(const Report& report) {
  ReportTable table{"days",
                    "Per day",
                    {{"Date", "date"},
                     {"Day", "weekday"},
                     {"Sessions", "sessions"},
                     {"Hours used", "hours_used"},
                     {"Hours open", "hours_open"},
                     {"PC charges", "pc_charges"},
                     {"Goods", "goods"},
                     {"Sessions total", "session_totals"},
                     {"Day total", "day_total"},
                     {"Difference", "difference"}},
                    {},
                    "Difference: the day's total less the sum of its sessions."};
  for (const ReportDay& day : report.vDays) {
    table.vRows.push_back({Text(DateText(day.dtLogDate)), Text(Weekday(day.dtLogDate)), Count(day.lSessions),
                           Hours(day.lMinutesUsed), Hours(day.lMinutesOpen), Money(day.dblCharges), Money(day.dblGoods),
                           Money(day.dblSessionTotals), Money(day.dblDayTotal),
                           Money(day.Differs() ? day.Difference() : 0, day.Differs())});
  }
  return table;
}

ReportTable PCsTable(const Report& report) {
  ReportTable table{"pcs",
                    "Per PC",
                    {{"PC", "pc"},
                     {"Sessions", "sessions"},
                     {"Hours used", "hours_used"},
                     {"Takings", "takings"},
                     {"Share of hours open", "share_of_hours_open_pct"}},
                    {},
                    "Share of hours open: the PC's hours of use over the " +
                        fmt::format("{}:{:02}", report.summary.lMinutesOpen / 60, report.summary.lMinutesOpen % 60) +
                        " hours the shop was open."};
  for (const ReportPC& pc : report.vPCs) {
    table.vRows.push_back(
        {Text(pc.sPC), Count(pc.lSessions), Hours(pc.lMinutesUsed), Money(pc.dblTakings), Share(pc.dblShareOfOpen)});
  }
  return table;
}

ReportTable CategoriesTable(const Report& report) {
  ReportTable table{"categories",
                    "Per user category",
                    {{"Category", "category"},
                     {"Sessions", "sessions"},
                     {"Takings", "takings"},
                     {"Share of takings", "share_of_takings_pct"}},
                    {},
                    {}};
  for (const ReportCategory& category : report.vCategories) {
    table.vRows.push_back(
        {Text(category.sName), Count(category.lSessions), Money(category.dblTakings), Share(category.dblShare)});
  }
  return table;
}

ReportTable ShiftsTable(const Report& report) {
  ReportTable table{"shifts",
                    "Per operator shift",
                    {{"Date", "date"},
                     {"Operator", "operator"},
                     {"Sign-on", "sign_on"},
                     {"Sign-off", "sign_off"},
                     {"Sessions", "sessions"},
                     {"Takings", "takings"}},
                    {},
                    "Sessions are counted in the shift they started in. A time in brackets is not in the log: a "
                    "shift without a sign-off ends at the next sign-on or the day's last session, one without a "
                    "sign-on starts at the sign-on or sign-off before it or where the day opened. +1: the next day."};
  for (const ReportShift& shift : report.vShifts) {
    bool bOutside = shift.sOperator.empty();
    table.vRows.push_back({Text(DateText(shift.dtLogDate)), Text(bOutside ? "(outside any shift)" : shift.sOperator),
                           Text(bOutside ? "" : ClockText(shift.lSignOn, shift.bSignOnLogged)),
                           Text(bOutside ? "" : ClockText(shift.lSignOff, shift.bSignOffLogged)),
                           Count(shift.lSessions), Money(shift.dblTakings)});
  }
  return table;
}

ReportTable HoursTable(const Report& report) {
  ReportTable table{"hours",
                    "Per hour of the day",
                    {{"Hour", "hour"}, {"Sessions started", "sessions_started"}, {"PCs in use", "pcs_in_use"}},
                    {},
                    fmt::format("PCs in use: on average over the period's {} day{}, within the hour.",
                                report.summary.lDays, report.summary.lDays == 1 ? "" : "s")};
  for (const ReportHour& hour : report.vHours) {
    table.vRows.push_back({Text(fmt::format("{:02}:00", hour.nHour)),
                           Count(hour.lSessionsStarted),
                           {enuDecimalCell, hour.dblPCsInUse, {}}});
  }
  return table;
}

ReportTable GoodsTable(const Report& report) {
  ReportTable table{"goods", "Goods", {{"Goods place", "goods_place"}, {"Amount", "amount"}}, {}, {}};
  for (const ReportGoods& goods : report.vGoods) table.vRows.push_back({Count(goods.nPlace), Money(goods.dblAmount)});
  return table;
}

// Characters as a terminal counts them: UTF-8 continuation bytes take no room.
size_t Width(const std::string& sText) {
  return static_cast<size_t>(std::count_if(sText.begin(), sText.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Padded(const std::string& sText, size_t nWidth, bool bRight) {
  std::string sPad(nWidth - std::min(nWidth, Width(sText)), ' ');
  return bRight ? sPad + sText : sText + sPad;
}

// Lines of at most nWidth characters, broken at spaces.
std::string Wrapped(const std::string& sText, size_t nWidth) {
  std::string sOut, sLine;
  for (const std::string& sWord : Split(sText, " ")) {
    if (!sLine.empty() && Width(sLine) + 1 + Width(sWord) > nWidth) {
      sOut += sLine + "\n";
      sLine.clear();
    }
    sLine += (sLine.empty() ? "" : " ") + sWord;
  }
  return sOut + sLine + "\n";
}

std::string CsvField(const std::string& sText) {
  if (sText.find_first_of(",\"\r\n") == std::string::npos && Trim(sText) == sText) return sText;
  std::string sField = "\"";
  sField += Replace(sText, "\"", "\"\"");
  return sField += '"';
}

std::string CsvTable(const ReportTable& table) {
  std::string sOut;
  for (size_t n = 0; n < table.vColumns.size(); ++n) {
    if (n > 0) sOut += ',';
    sOut += table.vColumns[n].sCsvName;
  }
  sOut += '\n';
  for (const auto& vRow : table.vRows) {
    for (size_t n = 0; n < vRow.size(); ++n) {
      if (n > 0) sOut += ',';
      sOut += CsvField(CellText(vRow[n], true));
    }
    sOut += '\n';
  }
  return sOut;
}

}  // namespace

std::string PeriodText(const ReportPeriod& period) { return DateText(period.dtFrom) + " to " + DateText(period.dtTo); }

std::vector<ReportTable> ReportTables(const Report& report) {
  return {SummaryTable(report), DaysTable(report),  PCsTable(report),  CategoriesTable(report),
          ShiftsTable(report),  HoursTable(report), GoodsTable(report)};
}

const std::vector<std::string>& ReportTableNames() {
  static const std::vector<std::string> vNames = [] {
    std::vector<std::string> vNames;
    for (const ReportTable& table : ReportTables(Report{})) vNames.push_back(table.sName);
    return vNames;
  }();
  return vNames;
}

std::string CellText(const ReportCell& cell, bool bCsv) {
  switch (cell.eKind) {
    case enuTextCell: return cell.sText;
    case enuCountCell: {
      auto lValue = static_cast<int64_t>(cell.dblValue);
      return bCsv ? NumText(lValue) : GroupedNumber(lValue);
    }
    case enuMoneyCell: {
      // No "-0.00" for a sum that rounds to nothing.
      double dblCents = std::round(cell.dblValue * 100);
      std::string sText = fmt::format("{:.2f}", dblCents == 0 ? 0.0 : dblCents / 100);
      return bCsv ? sText : Grouped(sText);
    }
    case enuHoursCell: {
      auto lMinutes = static_cast<int64_t>(cell.dblValue);
      return fmt::format("{}:{:02}", lMinutes / 60, lMinutes % 60);
    }
    case enuShareCell: return fmt::format("{:.1f}", cell.dblValue * 100) + (bCsv ? "" : "%");
    default: return fmt::format("{:.2f}", cell.dblValue);
  }
}

std::string ReportText(const Report& report) {
  std::string sOut = "Takings report, " + PeriodText(report.period) + "\n";
  for (const ReportTable& table : ReportTables(report)) {
    sOut += "\n" + table.sTitle + "\n" + std::string(Width(table.sTitle), '-') + "\n";
    if (table.vRows.empty()) {
      sOut += "(none)\n";
      continue;
    }
    std::vector<std::vector<std::string>> vTexts;
    std::vector<size_t> vWidths;
    for (const ReportColumn& column : table.vColumns) vWidths.push_back(Width(column.sHeading));
    for (const auto& vRow : table.vRows) {
      std::vector<std::string>& vLine = vTexts.emplace_back();
      for (size_t n = 0; n < vRow.size(); ++n) {
        vLine.push_back(VisibleText(CellText(vRow[n]), 60));
        vWidths[n] = std::max(vWidths[n], Width(vLine.back()));
      }
    }
    // The summary's values stand to the right; its headings say nothing a reader needs.
    bool bSummary = table.sName == "summary";
    auto Line = [&](auto fnText) {
      std::string sLine;
      for (size_t n = 0; n < vWidths.size(); ++n) {
        bool bRight = n > 0 && (bSummary || table.vRows[0][n].eKind != enuTextCell);
        sLine += (n ? "  " : "") + Padded(fnText(n), vWidths[n], bRight);
      }
      while (!sLine.empty() && sLine.back() == ' ') sLine.pop_back();
      sOut += sLine + "\n";
    };
    if (!bSummary) Line([&](size_t n) { return std::string(table.vColumns[n].sHeading); });
    for (const auto& vLine : vTexts) Line([&](size_t n) { return vLine[n]; });
    if (!table.sNote.empty()) sOut += Wrapped(VisibleText(table.sNote), 100);
  }
  return sOut;
}

std::string ReportCsv(const Report& report, const std::string& sTable) {
  std::string sOut;
  for (const ReportTable& table : ReportTables(report)) {
    if (sTable.empty()) sOut += (sOut.empty() ? "" : "\n") + table.sName + "\n" + CsvTable(table);
    else if (table.sName == sTable) return CsvTable(table);
  }
  if (sTable.empty()) return sOut;
  std::string sNames;
  for (const std::string& sName : ReportTableNames()) sNames += (sNames.empty() ? "" : ", ") + sName;
  RaiseError(errInvalidCall, "The report has no table " + sTable + "; its tables are " + sNames);
}

}  // namespace varn
