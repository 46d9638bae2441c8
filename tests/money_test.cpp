// Reading amounts out of log text: currency signs and letters in front, blanks inside,
// a comma that ends the number, and the two failures that are reported.
#include "records/Money.h"

#include <gtest/gtest.h>

#include <string>

#include "runtime/Error.h"
#include "tests/TestSupport.h"
#include "ui/UserInterface.h"

namespace varn {
namespace {

struct MoneyCase {
  const char* sText;
  double dExpected;
};

TEST(CleanUpMoney, StripsLeadingNonDigitsAndReadsTheNumberBehindThem) {
  const MoneyCase cases[] = {
      {"12.50", 12.5},    {"$12.50", 12.5},      {"RM 12.00", 12},   {"  7", 7},        {"-5.00", 5},
      {"12.50 RM", 12.5}, {"1 250.75", 1250.75}, {"1.250,75", 1.25}, {"RM", 0},         {"abc", 0},
      {"$ 12", 12},       {".50", 50},           {"1,250.75", 1},    {"RM 0.05", 0.05}, {"$3.45", 3.45},
      {"$1.5E2", 150},    {"Guest:$2.25", 2.25}, {"007", 7},         {"12.50.1", 12.5}, {"$", 0},
  };
  for (const MoneyCase& c : cases) {
    auto pScreen = test::UseRecordingUI();
    EXPECT_DOUBLE_EQ(CleanUpMoney(c.sText), c.dExpected) << "'" << c.sText << "'";
    EXPECT_TRUE(pScreen->mvBoxes.empty()) << "'" << c.sText << "' was reported";
    EXPECT_EQ(pScreen->MousePointer(), vbDefault) << "'" << c.sText << "'";
  }
}

TEST(CleanUpMoney, AnEmptyTextIsReportedOnceAndGivesZero) {
  auto pScreen = test::UseRecordingUI();
  EXPECT_EQ(CleanUpMoney(""), 0);
  ASSERT_EQ(pScreen->mvBoxes.size(), 1u);
  EXPECT_EQ(pScreen->mvBoxes[0].sPrompt, "5\r\n00/modMainLog:mbIsNumber\r\nInvalid procedure call or argument");
  EXPECT_EQ(pScreen->mvBoxes[0].nStyle, vbCritical);
  EXPECT_EQ(pScreen->mvBoxes[0].sTitle, "Varn Log Process");
  EXPECT_EQ(pScreen->MousePointer(), vbDefault);
}

TEST(CleanUpMoney, AnAmountTooLargeForADoubleIsReportedAsOverflowAndGivesZero) {
  for (const char* sText : {"1e400", "$9E999999999999", "RM 1.5e309"}) {
    auto pScreen = test::UseRecordingUI();
    EXPECT_EQ(CleanUpMoney(sText), 0) << sText;
    ASSERT_EQ(pScreen->mvBoxes.size(), 1u) << sText;
    EXPECT_EQ(pScreen->mvBoxes[0].sPrompt, "6\r\n01/modMainLog:CleanUpMoney\r\nOverflow") << sText;
    EXPECT_EQ(pScreen->MousePointer(), vbDefault) << sText;
  }
}

TEST(ReadLeadingNumber, ReadsSignDigitsPointAndExponentUntilTheFirstCharacterThatCannotContinue) {
  const MoneyCase cases[] = {
      {"12.50", 12.5},
      {".5", 0.5},
      {"5.", 5},
      {"-5", -5},
      {"+5", 5},
      {" 1 2 . 5 ", 12.5},
      {"\t7\n", 7},
      {"1.2.3", 1.2},
      {"1,5", 1},
      {"12E", 12},
      {"12e+", 12},
      {"12 Eur", 12},
      {"1.5E3", 1500},
      {"1.5e-2", 0.015},
      {"2E+2x", 200},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {".", 0},
      {"&H1F", 0},
      {"--5", 0},
      {"- 5", -5},
      {"1e-400", 0},
      {"0e999", 0},
      {"1000e-400", 0},
      {"1e308", 1e308},
      {"0.000001", 1e-6},
      {"364.95", 364.95},
      {"1234.50 RM", 1234.5},
  };
  for (const MoneyCase& c : cases) {
    EXPECT_DOUBLE_EQ(ReadLeadingNumber(c.sText), c.dExpected) << "'" << c.sText << "'";
  }
}

TEST(ReadLeadingNumber, RaisesOverflowForANumberTooLargeForADouble) {
  const std::string sManyDigits(400, '9');
  for (const std::string& sText :
       {std::string("1e400"), std::string("-1e400"), std::string("0.001e400"), sManyDigits}) {
    try {
      ReadLeadingNumber(sText);
      ADD_FAILURE() << sText.substr(0, 20) << " read without an error";
    } catch (const clsError& err) {
      EXPECT_EQ(err.Number(), errOverflow) << sText.substr(0, 20);
    }
  }
}

}  // namespace
}  // namespace varn
