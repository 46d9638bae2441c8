// The takings report: what a period of imported days adds up to, read through the database
// layer's connection (an SQLite file and a PostgreSQL server alike), and written as aligned
// tables for a terminal, as CSV, or as one self-contained HTML page with SVG charts. Plain C++:
// a command line and a desktop program write the same texts.
//
// How the figures are taken:
// - A session's takings are its total (Session.Total), its charges those for the PC time
//   (UserCharge), its goods TotalGoods; a stored value that is no number counts as 0.
// - A session's hours are its end time less its start time (both h:mm, plus 24 hours when it
//   ends past midnight); where either cannot be read, its usage time (TotalTime) when that reads
//   as h:mm; otherwise it has none: it counts in the takings, not in the hours, and
//   ReportSummary::lUntimedSessions counts it.
// - Each day has a clock that starts at its log date's midnight. Shifts are placed on it by their
//   stored date and time. A session's start is placed as written, or 24 hours later when it is
//   earlier than the day's opening: the first sign-on, or the start of the day's first session in
//   log order, whichever is earlier (a shop open past midnight logs those sessions in the same day).
// - The hours the shop was open: each day from its first sign-on to its last sign-off; a day
//   without shifts from its first session start to its last session end.
// - A shift runs from a sign-on to its operator's next sign-off. A sign-on without one ends at the
//   next sign-on, else at the day's last session end; a sign-off without a sign-on starts at the
//   last sign-on or sign-off before it, else at the day's opening. A session belongs to the latest
//   shift begun by its start and not yet ended; the day's other sessions make a row of no operator.
// - Per hour of the day: the sessions started in it, and the PCs in use on average over the
//   period's days (the minutes of use that fall in it, divided by 60 minutes times the days).
// Memory grows with the days, PCs, user categories and shifts of the period, never with its
// sessions: they are read once as a stream, and the goods are added up by the database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/Connection.h"
#include "runtime/DateTime.h"

namespace varn {

struct ReportPeriod {
  Date dtFrom;  // the first and the last day, both included
  Date dtTo;
};

struct ReportSummary {
  int64_t lDays = 0;
  int64_t lSessions = 0;
  int64_t lUntimedSessions = 0;  // sessions whose hours cannot be read
  int64_t lMinutesUsed = 0;      // hours of PC use
  int64_t lMinutesOpen = 0;      // hours the shop was open
  double dblCharges = 0;
  double dblGoods = 0;
  double dblSessionTotals = 0;
  double dblDayTotals = 0;
  int64_t lDifferingDays = 0;  // days whose total differs from the sum of their sessions by a cent or more
  double dblDifference = 0;    // those days' totals less their sessions' totals
};

struct ReportDay {
  int32_t lDate_ID = 0;
  Date dtLogDate;
  int64_t lSessions = 0;
  int64_t lMinutesUsed = 0;
  int64_t lMinutesOpen = 0;
  double dblCharges = 0;
  double dblGoods = 0;
  double dblSessionTotals = 0;
  double dblDayTotal = 0;

  double Difference() const { return dblDayTotal - dblSessionTotals; }
  bool Differs() const;  // by a cent or more
};

struct ReportPC {
  std::string sPC;
  int64_t lSessions = 0;
  int64_t lMinutesUsed = 0;
  double dblTakings = 0;
  double dblShareOfOpen = 0;  // its hours of use over the hours the shop was open, 0 to 1
};

struct ReportCategory {
  std::string sName;  // "User N" for a key the User table does not hold
  int64_t lSessions = 0;
  double dblTakings = 0;
  double dblShare = 0;  // of all the sessions' takings, 0 to 1
};

struct ReportShift {
  Date dtLogDate;
  std::string sOperator;  // "" for the day's sessions outside every shift
  int64_t lSignOn = 0;    // seconds on the day's clock (from 86400 on: the next day)
  int64_t lSignOff = 0;
  bool bSignOnLogged = false;  // false: taken from the shifts around it or the day's sessions
  bool bSignOffLogged = false;
  int64_t lSessions = 0;
  double dblTakings = 0;
};

struct ReportHour {
  int32_t nHour = 0;  // 0 to 23
  int64_t lSessionsStarted = 0;
  double dblPCsInUse = 0;
};

struct ReportGoods {
  int32_t nPlace = 0;  // the N of the column Goods_N
  double dblAmount = 0;
};

struct Report {
  ReportPeriod period;
  ReportSummary summary;
  std::vector<ReportDay> vDays;             // in date order
  std::vector<ReportPC> vPCs;               // by name, the numbers in it compared as numbers
  std::vector<ReportCategory> vCategories;  // most takings first
  std::vector<ReportShift> vShifts;         // by day, then by sign-on
  std::vector<ReportHour> vHours;           // from the first hour of any use to the last
  std::vector<ReportGoods> vGoods;          // the goods places sold at in the period
};

// The report of the imported days of the period (none when it holds none). Raises clsError when
// the database cannot be read.
Report ComputeReport(Connection& connection, const ReportPeriod& period);
// From the first imported day to the last (of those whose date can be read); nothing when none is.
std::optional<ReportPeriod> ImportedDays(Connection& connection);
// The month of a day, and the month "yyyy-mm" (nothing for any other text).
ReportPeriod MonthOf(Date dtDay);
std::optional<ReportPeriod> MonthPeriod(const std::string& sMonth);
// "01/03/2024 to 31/03/2024".
std::string PeriodText(const ReportPeriod& period);

// The report's tables by name, in the order they are written: summary, days, pcs, categories,
// shifts, hours, goods.
const std::vector<std::string>& ReportTableNames();
// Aligned tables for a terminal: amounts to the cent, hours as h:mm.
std::string ReportText(const Report& report);
// The table of that name, or every table one after another (each after a line with its name and
// an empty line between them) when sTable is "": a header line, then amounts with two decimals
// and no grouping. Raises errInvalidCall for a name that is no table's.
std::string ReportCsv(const Report& report, const std::string& sTable = {});
// One self-contained HTML page: the summary, the tables and inline SVG charts (takings per day,
// takings by user category, hours per PC, sessions by hour of the day), with no script and no
// outside reference, laid out to print on A4.
std::string ReportPage(const Report& report);
// Writes ReportPage(report) to the file at sPath, made or emptied first: the command line and the
// desktop program save the same bytes. False when the file cannot be written to the end.
bool WriteReportPage(const Report& report, const std::string& sPath);

}  // namespace varn
