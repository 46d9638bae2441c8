// The interfaces the server hands out, each over a component object it shares in: the
// returned pointer carries one reference, which the caller owns.
#pragma once

#include <memory>

#include "com/VarnLogProcess.h"
#include "db/Connection.h"
#include "db/clsConnection.h"
#include "records/clsItemDateRange.h"
#include "records/clsItemGoods.h"
#include "service/clsLogAnalysis.h"

namespace varn::com {

_clsLogAnalysis* WrapLogAnalysis(std::shared_ptr<clsLogAnalysis> pService);
_clsConnection* WrapConnection(std::shared_ptr<clsConnection> pConnection);
// The open database connection, known to the host as IUnknown only.
IUnknown* WrapDatabaseConnection(std::shared_ptr<Connection> pConnection);
_clsItemGoods* WrapGoods(std::shared_ptr<clsItemGoods> pGoods);
_clsItemDateRange* WrapDateRange(std::shared_ptr<clsItemDateRange> pItem);
_Collection* WrapHistory(std::shared_ptr<HistoryCollection> pHistory);

// The date-range record behind an object of this server; null for any other object.
std::shared_ptr<clsItemDateRange> DateRangeBehind(IUnknown* pObject);

// Null when the server makes no such class.
IClassFactory* NewClassFactory(const CLSID& clsid);

}  // namespace varn::com
