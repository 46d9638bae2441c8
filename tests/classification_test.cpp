// Which table each kind of log line feeds: the lines as the pipeline hands them over, with
// the near misses that must stay uncategorised.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "parse/LineClassification.h"
#include "tests/TestSupport.h"
#include "ui/UserInterface.h"

namespace varn {
namespace {

struct LineCase {
  const char* sLine;
  eLogTable eTable;
  eLogField eField;
};

const LineCase kLines[] = {
    // Date lines: "#" first, and a date once every "#" is gone.
    {"#25/12/2003#", enuDateRangeTable, enuLogDate},
    {"#25/12/2003", enuDateRangeTable, enuLogDate},
    {"#01/#02/2006#", enuDateRangeTable, enuLogDate},
    {"#25.12.2003#", enuDateRangeTable, enuLogDate},
    {"# 25/12/2003 #", enuDateRangeTable, enuLogDate},
    {"#Total#", enuNoTable, enuNoField},
    {"#", enuNoTable, enuNoField},
    {"##", enuNoTable, enuNoField},
    {"#31/02/2003#", enuNoTable, enuNoField},
    {" #25/12/2003#", enuNoTable, enuNoField},
    {"25/12/2003", enuNoTable, enuNoField},
    // Day-total lines: "End Total" in any letter case on the first nine characters.
    {"End Total 364.95", enuDateRangeTable, enuDateTotal},
    {"end total 1234.50", enuDateRangeTable, enuDateTotal},
    {"END TOTAL", enuDateRangeTable, enuDateTotal},
    {"eNd ToTaLly wrong", enuDateRangeTable, enuDateTotal},
    {"End Tota", enuNoTable, enuNoField},
    {"EndTotal 5", enuNoTable, enuNoField},
    {"x End Total 5", enuNoTable, enuNoField},
    // Session lines: "PC" in capitals only.
    {"PC03,08:43,11:37,2:54|3.00,4.00,2.00,,,2.50|Member:7.20,18.70,M1433", enuSessionTable, enuNoField},
    {"PC04", enuSessionTable, enuNoField},
    {"Pc 12", enuNoTable, enuNoField},
    {"pc 12", enuNoTable, enuNoField},
    {"P", enuNoTable, enuNoField},
    {" PC01", enuNoTable, enuNoField},
    // Shift lines: "<<" signs off, ">>" signs on.
    {"<< 25.12.2003 15:00:04 Sign Off: Anne", enuShiftTable, enuSignOff},
    {">> 25.12.2003 07:52:34 Sign On: Anne", enuShiftTable, enuSignOn},
    {"<<<", enuShiftTable, enuSignOff},
    {">>>", enuShiftTable, enuSignOn},
    {"<>", enuNoTable, enuNoField},
    {"<", enuNoTable, enuNoField},
    {"> >", enuNoTable, enuNoField},
    {" >> 25.12.2003 07:52:34 Sign On: Anne", enuNoTable, enuNoField},
    // Anything else.
    {"Operator note: printer out of paper", enuNoTable, enuNoField},
    {"08:43", enuNoTable, enuNoField},
};

TEST(meIdentifyTable, GivesEachKindOfLineItsTableAndKind) {
  auto pScreen = test::UseRecordingUI();
  for (const LineCase& c : kLines) {
    eLogField eField = enuNoField;
    EXPECT_EQ(meIdentifyTable(c.sLine, eField), c.eTable) << "'" << c.sLine << "'";
    EXPECT_EQ(eField, c.eField) << "'" << c.sLine << "'";
  }
  EXPECT_TRUE(pScreen->mvBoxes.empty());
}

TEST(meIdentifyTable, ShowsTheHourglassWhileItWorksAndTheDefaultPointerAfter) {
  auto pScreen = test::UseRecordingUI();
  eLogField eField = enuNoField;
  meIdentifyTable("#25/12/2003#", eField);
  ASSERT_FALSE(pScreen->mvPointers.empty());
  EXPECT_EQ(pScreen->mvPointers.front(), vbHourglass);
  EXPECT_EQ(pScreen->MousePointer(), vbDefault);
  EXPECT_EQ(std::count(pScreen->mvPointers.begin(), pScreen->mvPointers.end(), vbHourglass),
            std::count(pScreen->mvPointers.begin(), pScreen->mvPointers.end(), vbDefault));
}

}  // namespace
}  // namespace varn
