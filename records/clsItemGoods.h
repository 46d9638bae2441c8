// The goods of one session: the amounts of its goods field ("1.50,,2"), their total, and its
// row in Goods (one NUMBER column Goods_k per position). SetUp adds the columns the line
// needs and the table lacks, each ALTER TABLE in a transaction of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Int16.h"

namespace varn {

class clsItemGoods {
 public:
  double TotalGoods() const { return mdblTotalGoods; }
  int32_t Date_ID() const { return mlDate_ID; }
  void Date_ID(int32_t vData) { mlDate_ID = vData; }
  int32_t Session_ID() const { return mlSession_ID; }
  void Session_ID(int32_t vData) { mlSession_ID = vData; }

  bool SetUp(std::string_view sGoodsLine);
  bool DBUpdate(int32_t eDBAction);

 private:
  void mCheckGoodsColumns(Int16 nGoods);
  std::string msInsertSql() const;
  std::string msUpdateSql() const;

  int32_t mlDate_ID = 0;
  int32_t mlSession_ID = 0;
  std::string msUnread;           // the goods field, kept only when SetUp could not read all its places
  std::vector<double> mvAmounts;  // the places' amounts as SetUp read them, for the statements
  Int16 mnGoodsCount;
  double mdblTotalGoods = 0;
  // The columns Goods_1 to Goods_n that the statements name: those of the first SetUp that
  // checked them, none before.
  int32_t mlColumns = 0;
};

}  // namespace varn
