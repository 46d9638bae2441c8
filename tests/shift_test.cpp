// Sign-on and sign-off lines: what SetUp reads out of them, and the Shift rows they become.
#include <gtest/gtest.h>

#include "records/clsItemShift.h"
#include "tests/RecordTestSupport.h"

namespace varn::test {
namespace {

struct ShiftCase {
  const char* sLine;
  eLogField eField;
  bool bOk;
  const char* sTime;  // the moment as its default text, "" when not read
  const char* sSignOn;
  const char* sSignOff;
  const char* sReport;  // the location of the one report, "" for none
};

TEST(ShiftSetUp, ReadsTheMomentAndTheTextAfterTheLabel) {
  RecordDb db;
  const ShiftCase vCases[] = {
      {">> 25.12.2003 08:00:00 Sign On: Anne", enuSignOn, true, "25/12/2003 08:00:00", "Anne", "", ""},
      {">> 25/12/2003 08:00:00 Sign On: Anne", enuSignOn, true, "25/12/2003 08:00:00", "Anne", "", ""},
      {">>25.12.2003 07:52:34 SIGN ON:   Anne  ", enuSignOn, true, "25/12/2003 07:52:34", "Anne", "", ""},
      {"<< 25.12.2003 16:30:00 sign off: Anne", enuSignOff, true, "25/12/2003 16:30:00", "", "Anne", ""},
      {"<< 27.12.2003 15:01:58 Sign Off: Anne Marie", enuSignOff, true, "27/12/2003 15:01:58", "", "Anne Marie", ""},
      {">> 25.12.2003 08:00:00 Sign On: Anne Sign On: Ben", enuSignOn, true, "25/12/2003 08:00:00", "Anne", "", ""},
      {"<< 28.12.2003 Sign Off: Dev", enuSignOff, true, "28/12/2003", "", "Dev", ""},
      {">> 25.12.2003 08:00:00 Sign On:", enuSignOn, true, "25/12/2003 08:00:00", "", "", ""},
      {">> 25.12.2003 08:00:00", enuSignOn, false, "25/12/2003 08:00:00", "", "", "07/clsItemShift:SetUp"},
      {"<< 25.12.2003 16:30:00", enuSignOff, false, "25/12/2003 16:30:00", "", "", "03/clsItemShift:SetUp"},
      {">> 25.12.2003 08:00:00 Anne", enuSignOn, false, "", "", "", "06/clsItemShift:SetUp"},
      {">> at eight Sign On: Anne", enuSignOn, false, "", "", "", "06/clsItemShift:SetUp"},
      {"<< 32.12.2003 16:30:00 Sign Off: Anne", enuSignOff, false, "", "", "", "02/clsItemShift:SetUp"},
      {">> 25.12.2003 08:00:00 Sign On: Anne", enuNoField, true, "", "", "", ""},
  };
  for (const ShiftCase& c : vCases) {
    SCOPED_TRACE(c.sLine);
    clsItemShift shift;
    EXPECT_EQ(shift.SetUp(c.sLine, c.eField), c.bOk);
    EXPECT_EQ(shift.SignOn(), c.sSignOn);
    EXPECT_EQ(shift.SignOff(), c.sSignOff);
    if (*c.sTime) {
      EXPECT_EQ(CStr(shift.Time()), c.sTime);
    }
    std::vector<std::string> vReports = db.Reports();
    if (*c.sReport) {
      EXPECT_EQ(vReports, std::vector<std::string>{c.sReport});
    } else {
      EXPECT_TRUE(vReports.empty());
    }
    EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
  }
}

TEST(ShiftSetUp, TheFailuresAreTheRuntimeErrorsOfTheMissingPart) {
  RecordDb db;
  clsItemShift shift;
  EXPECT_FALSE(shift.SetUp(">> 25.12.2003 08:00:00", enuSignOn));
  EXPECT_EQ(db.LastBox().substr(0, 3), "9\r\n");
  EXPECT_FALSE(shift.SetUp(">> 25.12.2003 08:00:00 Anne", enuSignOn));
  EXPECT_EQ(db.LastBox().substr(0, 4), "13\r\n");
}

clsItemShift MakeShift(const std::string& sLine, eLogField eField, int32_t lShiftID, int32_t lDateID, int nLineNo) {
  clsItemShift shift;
  shift.Shift_ID(lShiftID);
  shift.Date_ID(lDateID);
  shift.LineNo(nLineNo);
  EXPECT_TRUE(shift.SetUp(sLine, eField));
  return shift;
}

TEST(ShiftDBUpdate, InsertsAndUpdatesTheRowWithTheStatementsAsWritten) {
  RecordDb db;
  clsItemShift shift = MakeShift(">> 25.12.2003 08:00:00 Sign On: Anne", enuSignOn, 12, 7, 3);
  ASSERT_TRUE(shift.DBUpdate(enuInsert));
  EXPECT_EQ(db.Statements(),
            std::vector<std::string>{"INSERT INTO Shift (Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime) VALUES "
                                     "(12,7,3,'Anne','','25/12/2003 08:00:00')"});
  EXPECT_EQ(db.Rows("SELECT Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime FROM Shift"),
            (std::vector<std::vector<std::string>>{{"12", "7", "3", "Anne", "", "25/12/2003 08:00:00"}}));

  clsItemShift later = MakeShift("<< 25.12.2003 16:30:00 Sign Off: Ben", enuSignOff, 12, 8, 30);
  ASSERT_TRUE(later.DBUpdate(enuUpdate));
  EXPECT_EQ(db.Statements(), std::vector<std::string>{"UPDATE Shift SET Date_ID=8,LineNo=30,SignOn='',SignOff='Ben',"
                                                      "SignDateTime='25/12/2003 16:30:00' WHERE Shift_ID=12"});
  EXPECT_EQ(db.Rows("SELECT Shift_ID,Date_ID,LineNo,SignOn,SignOff,SignDateTime FROM Shift"),
            (std::vector<std::vector<std::string>>{{"12", "8", "30", "", "Ben", "25/12/2003 16:30:00"}}));
  EXPECT_TRUE(db.Reports().empty());
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

TEST(ShiftDBUpdate, TextsWithQuotesAreStoredExactly) {
  RecordDb db;
  clsItemShift on = MakeShift(">> 25.12.2003 08:00:00 Sign On: Anne O'Brien", enuSignOn, 1, 7, 2);
  clsItemShift off = MakeShift("<< 25.12.2003 16:00:00 Sign Off: 'Anne' O''Brien", enuSignOff, 2, 7, 9);
  ASSERT_TRUE(on.DBUpdate(enuInsert));
  ASSERT_TRUE(off.DBUpdate(enuInsert));
  EXPECT_EQ(db.Rows("SELECT SignOn,SignOff FROM Shift ORDER BY Shift_ID"),
            (std::vector<std::vector<std::string>>{{"Anne O'Brien", ""}, {"", "'Anne' O''Brien"}}));
  off.SignOff("Ben's");
  ASSERT_TRUE(off.DBUpdate(enuUpdate));
  EXPECT_EQ(db.Value("SELECT SignOff FROM Shift WHERE Shift_ID=2"), "Ben's");
  EXPECT_TRUE(db.Reports().empty());
}

TEST(ShiftDBUpdate, ActionsOtherThanInsertAndUpdateAreReportedAndWriteNothing) {
  RecordDb db;
  clsItemShift shift = MakeShift(">> 25.12.2003 08:00:00 Sign On: Anne", enuSignOn, 1, 7, 2);
  for (varneDBAction eAction : {enuUnspecified, enuDelete}) {
    EXPECT_FALSE(shift.DBUpdate(eAction));
    EXPECT_EQ(db.Reports(), std::vector<std::string>{"02/clsItemShift:DBUpdate"});
  }
  EXPECT_EQ(db.Value("SELECT COUNT(*) FROM Shift"), "0");
  EXPECT_EQ(db.mpUI->MousePointer(), vbDefault);
}

}  // namespace
}  // namespace varn::test
