// The report as one self-contained HTML page: its style sheet (A4 when printed, a page break
// before each section), the summary as key figures, and each table under its chart, drawn as
// inline SVG. Nothing in it is fetched: no script, no link, no image, no font from outside.
#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "report/Report.h"
#include "report/Tables.h"
#include "runtime/Text.h"

namespace varn {

namespace {

constexpr const char* kStyle = R"(
:root { color-scheme: light; }
body { font-family: system-ui, -apple-system, "Segoe UI", Roboto, "Helvetica Neue", Arial, "DejaVu Sans", sans-serif;
  color: #1f2933; max-width: 1000px; margin: 0 auto; padding: 24px; line-height: 1.4;
  -webkit-print-color-adjust: exact; print-color-adjust: exact; }
h1 { font-size: 1.6rem; margin: 0; }
.period { color: #52606d; margin: 2px 0 0; }
section { margin-top: 28px; }
h2 { font-size: 1.2rem; margin: 0 0 10px; padding-bottom: 4px; border-bottom: 2px solid #2f6db5; }
.cards { display: grid; grid-template-columns: repeat(auto-fill, minmax(170px, 1fr)); gap: 10px; }
.card { border: 1px solid #d9e2ec; border-radius: 6px; padding: 8px 10px; }
.card span { color: #52606d; font-size: 0.8rem; }
.card b { display: block; font-size: 1.25rem; font-variant-numeric: tabular-nums; }
.card.marked { border-color: #e08a00; background: #fff4e0; }
table { border-collapse: collapse; min-width: 60%; font-size: 0.85rem; font-variant-numeric: tabular-nums; }
th, td { padding: 3px 8px; border-bottom: 1px solid #e4e7eb; text-align: left; }
th { background: #f0f4f8; font-weight: 600; }
th.n, td.n { text-align: right; white-space: nowrap; }
tr.marked td { background: #fff4e0; }
.note { color: #52606d; font-size: 0.8rem; margin: 6px 0 0; }
svg.chart { width: 100%; height: auto; display: block; margin: 4px 0 14px; }
svg.chart text { font-size: 11px; fill: #3e4c59; }
svg.chart .title { font-size: 13px; font-weight: 600; fill: #1f2933; }
.bar { fill: #2f6db5; }
.bar.marked { fill: #e08a00; }
.grid { stroke: #e4e7eb; }
.axis { stroke: #9aa5b1; }
footer { margin-top: 28px; color: #7b8794; font-size: 0.75rem; }
@page { size: A4; margin: 14mm 12mm; }
@media print {
  body { max-width: none; padding: 0; font-size: 10pt; }
  section { break-before: page; margin-top: 0; }
  section.first { break-before: auto; margin-top: 16px; }
  table { font-size: 8.5pt; }
  thead { display: table-header-group; }
  tr, svg.chart, .card { break-inside: avoid; }
  h2 { break-after: avoid; }
}
)";

std::string Html(std::string_view sText) {
  std::string sOut;
  for (char c : VisibleText(sText)) {
    switch (c) {
      case '&': sOut += "&amp;"; break;
      case '<': sOut += "&lt;"; break;
      case '>': sOut += "&gt;"; break;
      case '"': sOut += "&quot;"; break;
      case '\'': sOut += "&#39;"; break;
      default: sOut += c;
    }
  }
  return sOut;
}

struct Bar {
  std::string sLabel;
  double dblValue;
  std::string sValue;  // as the bar's tip and label say it
  bool bMarked = false;
};

// A step of 1, 2, 2.5 or 5 times a power of ten that splits 0 to dblMost in about four.
double GridStep(double dblMost) {
  if (!(dblMost > 0)) return 1;
  double dblRaw = dblMost / 4, dblPower = std::pow(10, std::floor(std::log10(dblRaw)));
  for (double dblFactor : {1.0, 2.0, 2.5, 5.0}) {
    if (dblFactor * dblPower >= dblRaw) return dblFactor * dblPower;
  }
  return 10 * dblPower;
}

std::string GridText(double dblValue, double dblStep) {
  std::string sText = fmt::format("{:.{}f}", dblValue, dblStep < 1 ? 1 : 0);
  return dblValue >= 10000 ? GroupedNumber(std::llround(dblValue)) : sText;
}

std::string SvgStart(const std::string& sTitle, int nWidth, int nHeight) {
  return fmt::format(R"(<svg class="chart" viewBox="0 0 {} {}" role="img" aria-label="{}"><title>{}</title>)"
                     R"(<text class="title" x="0" y="14">{}</text>)",
                     nWidth, nHeight, Html(sTitle), Html(sTitle), Html(sTitle));
}

// Bars standing on a grid of values, one label under each bar (or every few when they crowd).
std::string ColumnChart(const std::string& sTitle, const std::vector<Bar>& vBars) {
  constexpr int kWidth = 760, kHeight = 250, kLeft = 58, kRight = 8, kTop = 28, kBottom = 24;
  const double dblPlotWidth = kWidth - kLeft - kRight, dblPlotHeight = kHeight - kTop - kBottom;
  double dblMost = 0;
  for (const Bar& bar : vBars) dblMost = std::max(dblMost, bar.dblValue);
  double dblStep = GridStep(dblMost), dblTop = std::max(dblStep, std::ceil(dblMost / dblStep) * dblStep);
  std::string sSvg = SvgStart(sTitle, kWidth, kHeight);
  for (double dblAt = 0; dblAt <= dblTop + dblStep / 2; dblAt += dblStep) {
    double dblY = kTop + dblPlotHeight * (1 - dblAt / dblTop);
    sSvg += fmt::format(R"(<line class="grid" x1="{}" x2="{}" y1="{:.1f}" y2="{:.1f}"/>)"
                        R"(<text x="{}" y="{:.1f}" text-anchor="end">{}</text>)",
                        kLeft, kWidth - kRight, dblY, dblY, kLeft - 6, dblY + 4, GridText(dblAt, dblStep));
  }
  double dblSlot = dblPlotWidth / static_cast<double>(std::max<size_t>(vBars.size(), 1));
  auto nEvery = static_cast<size_t>(std::ceil(22 / dblSlot));
  for (size_t n = 0; n < vBars.size(); ++n) {
    const Bar& bar = vBars[n];
    double dblHeight = dblPlotHeight * std::max(bar.dblValue, 0.0) / dblTop;
    double dblX = kLeft + dblSlot * static_cast<double>(n);
    sSvg += fmt::format(R"(<rect class="bar{}" x="{:.1f}" y="{:.1f}" width="{:.1f}" height="{:.1f}">)"
                        R"(<title>{}: {}</title></rect>)",
                        bar.bMarked ? " marked" : "", dblX + dblSlot * 0.15, kTop + dblPlotHeight - dblHeight,
                        dblSlot * 0.7, dblHeight, Html(bar.sLabel), Html(bar.sValue));
    if (n % nEvery == 0) {
      sSvg += fmt::format(R"(<text x="{:.1f}" y="{}" text-anchor="middle">{}</text>)", dblX + dblSlot / 2, kHeight - 8,
                          Html(bar.sLabel));
    }
  }
  return sSvg + fmt::format(R"(<line class="axis" x1="{}" x2="{}" y1="{}" y2="{}"/></svg>)", kLeft, kWidth - kRight,
                            kTop + dblPlotHeight, kTop + dblPlotHeight);
}

// A bar for each label, its value written after it.
std::string BarChart(const std::string& sTitle, const std::vector<Bar>& vBars) {
  constexpr int kWidth = 760, kLabels = 130, kValues = 110, kRow = 22, kTop = 26;
  const int nHeight = kTop + kRow * static_cast<int>(vBars.size()) + 6;
  double dblMost = 0;
  for (const Bar& bar : vBars) dblMost = std::max(dblMost, bar.dblValue);
  std::string sSvg = SvgStart(sTitle, kWidth, nHeight);
  for (size_t n = 0; n < vBars.size(); ++n) {
    const Bar& bar = vBars[n];
    double dblWidth = dblMost > 0 ? (kWidth - kLabels - kValues) * std::max(bar.dblValue, 0.0) / dblMost : 0;
    int nY = kTop + kRow * static_cast<int>(n);
    std::string sLabel = VisibleText(bar.sLabel, 18);
    sSvg += fmt::format(R"(<text x="{}" y="{}" text-anchor="end">{}</text>)"
                        R"(<rect class="bar" x="{}" y="{}" width="{:.1f}" height="{}"><title>{}: {}</title></rect>)"
                        R"(<text x="{:.1f}" y="{}">{}</text>)",
                        kLabels - 8, nY + 14, Html(sLabel), kLabels, nY + 3, dblWidth, kRow - 6, Html(bar.sLabel),
                        Html(bar.sValue), kLabels + dblWidth + 6, nY + 14, Html(bar.sValue));
  }
  return sSvg + "</svg>";
}

std::string Money(double dblValue) { return CellText({enuMoneyCell, dblValue, {}}); }
std::string Hours(int64_t lMinutes) { return CellText({enuHoursCell, static_cast<double>(lMinutes), {}}); }

// The chart drawn above a table, "" for a table without one.
std::string ChartOf(const std::string& sTable, const Report& report) {
  std::vector<Bar> vBars;
  if (sTable == "days") {
    for (const ReportDay& day : report.vDays) {
      vBars.push_back({FormatDate(day.dtLogDate, "dd/mm/yyyy").substr(0, 2), day.dblDayTotal, Money(day.dblDayTotal),
                       day.Differs()});
    }
    return ColumnChart("Takings per day (the day's total; amber: it differs from the sum of its sessions)", vBars);
  }
  if (sTable == "categories") {
    for (const ReportCategory& category : report.vCategories) {
      vBars.push_back({category.sName, category.dblTakings,
                       Money(category.dblTakings) + fmt::format(" ({:.1f}%)", category.dblShare * 100)});
    }
    return BarChart("Takings by user category", vBars);
  }
  if (sTable == "pcs") {
    for (const ReportPC& pc : report.vPCs) {
      vBars.push_back({pc.sPC, static_cast<double>(pc.lMinutesUsed), Hours(pc.lMinutesUsed) + " h"});
    }
    return BarChart("Hours of use per PC", vBars);
  }
  if (sTable == "hours") {
    for (const ReportHour& hour : report.vHours) {
      vBars.push_back({fmt::format("{:02}", hour.nHour), static_cast<double>(hour.lSessionsStarted),
                       fmt::format("{} sessions", hour.lSessionsStarted)});
    }
    return ColumnChart("Sessions started by hour of the day", vBars);
  }
  return {};
}

std::string SummaryCards(const ReportTable& table) {
  std::string sCards = R"(<div class="cards">)";
  for (const auto& vRow : table.vRows) {
    sCards += fmt::format(R"(<div class="card{}"><span>{}</span><b>{}</b></div>)", vRow[1].bMarked ? " marked" : "",
                          Html(CellText(vRow[0])), Html(CellText(vRow[1])));
  }
  return sCards + "</div>";
}

std::string TableHtml(const ReportTable& table) {
  if (table.vRows.empty()) return R"(<p class="note">None in this period.</p>)";
  auto Class = [&](size_t n) { return table.vRows[0][n].eKind == enuTextCell ? "" : R"( class="n")"; };
  std::string sHtml = "<table><thead><tr>";
  for (size_t n = 0; n < table.vColumns.size(); ++n) {
    sHtml += fmt::format("<th{}>{}</th>", Class(n), Html(table.vColumns[n].sHeading));
  }
  sHtml += "</tr></thead><tbody>";
  for (const auto& vRow : table.vRows) {
    bool bMarked = std::any_of(vRow.begin(), vRow.end(), [](const ReportCell& cell) { return cell.bMarked; });
    sHtml += bMarked ? R"(<tr class="marked">)" : "<tr>";
    for (size_t n = 0; n < vRow.size(); ++n) sHtml += fmt::format("<td{}>{}</td>", Class(n), Html(CellText(vRow[n])));
    sHtml += "</tr>";
  }
  return sHtml + "</tbody></table>";
}

}  // namespace

std::string ReportPage(const Report& report) {
  std::string sPeriod = PeriodText(report.period);
  std::string sPage = fmt::format(
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Takings report, {}</title><style>{}</style></head>\n<body>\n<header><h1>Takings report</h1>"
      "<p class=\"period\">{}: {} days imported</p></header>\n",
      Html(sPeriod), kStyle, Html(sPeriod), report.summary.lDays);
  bool bFirst = true;
  for (const ReportTable& table : ReportTables(report)) {
    sPage += fmt::format("<section id=\"{}\"{}><h2>{}</h2>", table.sName, bFirst ? R"( class="first")" : "",
                         Html(table.sTitle));
    sPage += table.sName == "summary" ? SummaryCards(table) : ChartOf(table.sName, report) + TableHtml(table);
    if (!table.sNote.empty()) sPage += "<p class=\"note\">" + Html(table.sNote) + "</p>";
    sPage += "</section>\n";
    bFirst = false;
  }
  return sPage +
         "<footer>Drawn by varnlog from the report database: amounts as the logs wrote them, hours from the "
         "sessions' times.</footer>\n</body></html>\n";
}

bool WriteReportPage(const Report& report, const std::string& sPath) {
  std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
  out << ReportPage(report);
  return static_cast<bool>(out.flush());
}

}  // namespace varn
