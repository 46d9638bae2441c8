// The report laid out as tables of cells, which the terminal, CSV and HTML writers all write, and
// the desktop program's report page shows: one layout and one way of writing each figure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/Report.h"

namespace varn {

enum eCellKind : int32_t {
  enuTextCell = 0,
  enuCountCell = 1,    // a whole number, grouped by thousands for people
  enuMoneyCell = 2,    // an amount, to the cent
  enuHoursCell = 3,    // minutes, as h:mm
  enuShareCell = 4,    // 0 to 1, as a percentage with one decimal
  enuDecimalCell = 5,  // a number, to two decimals
};

struct ReportCell {
  eCellKind eKind = enuTextCell;
  double dblValue = 0;
  std::string sText;     // of a text cell
  bool bMarked = false;  // a figure to look at (a day whose total differs from its sessions)
};

struct ReportColumn {
  const char* sHeading;  // for people
  const char* sCsvName;
};

struct ReportTable {
  std::string sName;  // as --csv names it
  std::string sTitle;
  std::vector<ReportColumn> vColumns;
  std::vector<std::vector<ReportCell>> vRows;
  std::string sNote;  // said under the table; "" for none
};

// Every table, in the order of ReportTableNames().
std::vector<ReportTable> ReportTables(const Report& report);
// A cell as people read it, or as CSV holds it (no grouping, no percent sign).
std::string CellText(const ReportCell& cell, bool bCsv = false);

}  // namespace varn
