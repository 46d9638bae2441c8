// A whole day's log through the records: every session and shift line read, stored inside one
// transaction as an import stores them, and every row read back as the line says.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>

#include "parse/LineClassification.h"
#include "parse/clsItemLogFile.h"
#include "records/clsItemSession.h"
#include "records/clsItemShift.h"
#include "runtime/FieldReader.h"
#include "runtime/Text.h"
#include "tests/RecordTestSupport.h"

namespace varn::test {
namespace {

using Texts = std::vector<std::string>;

// tests/data/records-day.expected: one line per session ("S|line|PC|start|end|time|goods total|
// category|charge|total|member|goods,...") or shift ("H|line|sign-on|sign-off|moment").
std::map<int, Texts> ExpectedRows(char cKind) {
  std::ifstream in(SourceDir() + "/tests/data/records-day.expected");
  std::map<int, Texts> rows;
  for (std::string sLine; std::getline(in, sLine);) {
    Texts vFields = Split(sLine, "|");
    if (vFields[0][0] == cKind) rows[std::stoi(vFields[1])] = vFields;
  }
  return rows;
}

void ExpectNumber(const std::string& sStored, const std::string& sExpected, const std::string& sWhat) {
  ASSERT_NE(sStored, "NULL") << sWhat;
  EXPECT_NEAR(std::stod(sStored), std::stod(sExpected), 1e-9) << sWhat;
}

struct DayRecords {
  std::vector<std::shared_ptr<clsItemSession>> vSessions;
  std::vector<std::shared_ptr<clsItemShift>> vShifts;
};

DayRecords ReadDay(const std::string& sPath) {
  DayRecords day;
  clsFieldReader reader;
  reader.Open(sPath);
  Int16 nLine;
  while (!reader.AtEnd()) {
    std::string sItem = reader.ReadItem();
    if (Trim(sItem).empty()) continue;
    ++nLine;
    eLogField eField = enuNoField;
    eLogTable eTable = meIdentifyTable(sItem, eField);
    if (eTable == enuSessionTable) {
      auto pSession = std::make_shared<clsItemSession>();
      pSession->Session_ID(static_cast<int32_t>(day.vSessions.size()) + 1);
      pSession->Date_ID(1);
      pSession->LineNo(nLine);
      EXPECT_TRUE(pSession->SetUp(sItem, enuInsert)) << sItem;
      day.vSessions.push_back(pSession);
    } else if (eTable == enuShiftTable) {
      auto pShift = std::make_shared<clsItemShift>();
      pShift->Shift_ID(static_cast<int32_t>(day.vShifts.size()) + 1);
      pShift->Date_ID(1);
      pShift->LineNo(nLine);
      EXPECT_TRUE(pShift->SetUp(sItem, eField)) << sItem;
      day.vShifts.push_back(pShift);
    }
  }
  return day;
}

TEST(RecordsDay, EverySessionAndShiftLineIsStoredAsTheLineSays) {
  RecordDb db;
  auto pLogFile = std::make_shared<clsItemLogFile>();
  db.mpService->mpUsers = pLogFile.get();
  {
    TransactionGuard import(SharedConnection());
    DayRecords day = ReadDay(SourceDir() + "/tests/data/records-day.log");
    for (const auto& pSession : day.vSessions) EXPECT_TRUE(pSession->DBUpdate(enuInsert));
    for (const auto& pShift : day.vShifts) EXPECT_TRUE(pShift->DBUpdate(enuInsert));
    import.Commit();
  }
  EXPECT_TRUE(db.Reports().empty());

  // One row per category, under the spelling first met, keyed in the order met.
  EXPECT_EQ(
      db.Rows("SELECT User_ID,UserName FROM User ORDER BY User_ID"),
      (std::vector<Texts>{{"1", "Student"}, {"2", "Member"}, {"3", "Guest"}, {"4", "Staff"}, {"5", "O'Hara family"}}));

  std::map<int, Texts> sessions = ExpectedRows('S');
  ASSERT_EQ(sessions.size(), 22u);
  ASSERT_EQ(db.Value("SELECT COUNT(*) FROM Session"), std::to_string(sessions.size()));
  ASSERT_EQ(db.Value("SELECT COUNT(*) FROM Goods"), std::to_string(sessions.size()));
  Texts vGoodsColumns;
  std::string sGoodsColumns;
  for (int k = 1; k <= 10; ++k) {
    vGoodsColumns.push_back("Goods_" + std::to_string(k));
    sGoodsColumns += "," + vGoodsColumns.back();
  }
  for (const auto& [nLine, vExpected] : sessions) {
    SCOPED_TRACE("line " + std::to_string(nLine));
    auto vRows = db.Rows(
        "SELECT PC_No,StartTime,EndTime,TotalTime,TotalGoods,UserName,UserCharge,Total,MemberID,Session.Date_ID" +
        sGoodsColumns +
        " FROM Session JOIN User ON User.User_ID=Session.User_ID JOIN Goods ON Goods.Session_ID=Session.Session_ID"
        " WHERE LineNo=" +
        std::to_string(nLine));
    ASSERT_EQ(vRows.size(), 1u);
    const Texts& vRow = vRows[0];
    EXPECT_EQ(vRow[0], vExpected[2]);
    EXPECT_EQ(vRow[1], vExpected[3]);
    EXPECT_EQ(vRow[2], vExpected[4]);
    EXPECT_EQ(vRow[3], vExpected[5]);
    ExpectNumber(vRow[4], vExpected[6], "TotalGoods");
    EXPECT_EQ(FoldCase(vRow[5]), FoldCase(vExpected[7]));
    ExpectNumber(vRow[6], vExpected[8], "UserCharge");
    ExpectNumber(vRow[7], vExpected[9], "Total");
    EXPECT_EQ(vRow[8], vExpected[10]);
    EXPECT_EQ(vRow[9], "1");
    Texts vGoods = Split(vExpected[11], ",");
    for (size_t k = 0; k < vGoodsColumns.size(); ++k) {
      if (k < vGoods.size()) {
        ExpectNumber(vRow[10 + k], vGoods[k], vGoodsColumns[k]);
      } else {
        EXPECT_EQ(vRow[10 + k], "NULL") << vGoodsColumns[k];
      }
    }
  }

  std::map<int, Texts> shifts = ExpectedRows('H');
  ASSERT_EQ(shifts.size(), 4u);
  ASSERT_EQ(db.Value("SELECT COUNT(*) FROM Shift"), std::to_string(shifts.size()));
  for (const auto& [nLine, vExpected] : shifts) {
    SCOPED_TRACE("line " + std::to_string(nLine));
    EXPECT_EQ(db.Rows("SELECT SignOn,SignOff,SignDateTime,Date_ID FROM Shift WHERE LineNo=" + std::to_string(nLine)),
              (std::vector<Texts>{{vExpected[2], vExpected[3], vExpected[4], "1"}}));
  }
}

}  // namespace
}  // namespace varn::test
