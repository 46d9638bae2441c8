// The goods parser on any goods group, through SetUp on a real database: the columns it needs
// are there afterwards, and the row is stored and updated.

#include "fuzz/FuzzSupport.h"
#include "records/clsItemGoods.h"

using namespace varn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  std::string sGoods = fuzz::AsItem(pData, nSize);
  fuzz::clsInputTransaction transaction;
  uint64_t lFailures = SharedConnection().FailureCount();
  clsItemGoods goods;
  if (!goods.SetUp(sGoods) || SharedConnection().FailureCount() != lFailures) return 0;
  goods.Date_ID(1);
  goods.Session_ID(9);
  fuzz::Require(goods.DBUpdate(enuInsert), "goods that set up were not stored", sGoods);
  fuzz::Require(goods.DBUpdate(enuUpdate), "stored goods were not updated", sGoods);
  return 0;
}
