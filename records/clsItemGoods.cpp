#include "records/clsItemGoods.h"

#include <algorithm>
#include <set>

#include "db/Recordset.h"
#include "db/modMainLog.h"
#include "records/Money.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

namespace {

constexpr const char* kGoodsSource = "clsItemGoods:SetUp";

// The goods columns of a connection's Goods table as last read, kept in the connection's
// cache. Every session line checks them, so they are read again only when the tables' shape
// may have changed, and trusted only while the write lock is held.
struct GoodsColumnsSeen {
  std::set<int32_t> setColumns;
};

// k for a column named Goods_k (any letter case, k written without leading zeros), else 0.
int32_t GoodsNumber(const std::string& sColumn) {
  const std::string sPrefix = "goods_";
  std::string sFolded = FoldCase(sColumn);
  if (!StartsWith(sFolded, sPrefix)) return 0;
  std::string sDigits = sFolded.substr(sPrefix.size());
  if (sDigits.empty() || sDigits.size() > 5 || sDigits[0] == '0') return 0;
  for (char c : sDigits) {
    if (c < '0' || c > '9') return 0;
  }
  return std::stoi(sDigits);
}

std::set<int32_t> ReadGoodsColumns(Connection& conn) {
  Recordset rs;
  rs.Open("SELECT * FROM Goods LIMIT 0", conn, adOpenDynamic, adLockOptimistic, -1);
  std::set<int32_t> setColumns;
  for (int32_t n = 0; n < rs.FieldCount(); ++n) {
    if (int32_t k = GoodsNumber(rs.FieldName(n))) setColumns.insert(k);
  }
  rs.Close();
  return setColumns;
}

std::set<int32_t>& GoodsColumnsHeld(Connection& conn) {
  GoodsColumnsSeen* pSeen = conn.Cached<GoodsColumnsSeen>(enuWhileSchemaHeld);
  if (!pSeen) pSeen = &conn.Keep(GoodsColumnsSeen{ReadGoodsColumns(conn)});
  return pSeen->setColumns;
}

// The column this connection has just added itself: what it keeps is as current as before.
void NoteColumnAdded(Connection& conn, std::set<int32_t>& setHeld, int32_t k) {
  conn.Renew<GoodsColumnsSeen>();
  setHeld.insert(k);
}

// One new column in a transaction of its own; whatever stops it before the commit rolls
// that transaction back, and only that one.
class ColumnTransaction {
 public:
  explicit ColumnTransaction(Connection& conn) : mConn(conn), mnOuterDepth(conn.TransactionDepth()) {
    mConn.BeginTrans();
  }
  ~ColumnTransaction() {
    if (mConn.TransactionDepth() <= mnOuterDepth) return;
    clsTrap trap(kGoodsSource);
    trap.Step("02");
    trap.Run([&] { mConn.RollbackTrans(); });
  }
  ColumnTransaction(const ColumnTransaction&) = delete;
  ColumnTransaction& operator=(const ColumnTransaction&) = delete;

  void Commit() { mConn.CommitTrans(); }

 private:
  Connection& mConn;
  int32_t mnOuterDepth;
};

// The amount of the n-th place of a goods field that SetUp could not read to the end: read
// again, so that the place it stopped at raises the same error in the statement.
double UnreadAmount(const std::string& sUnread, size_t n) {
  std::vector<std::string_view> vPlaces;
  if (!sUnread.empty()) vPlaces = SplitViews(sUnread, ',');
  if (n >= vPlaces.size()) RaiseError(errSubscript);
  return ReadLeadingNumber(vPlaces[n]);
}

// The value text of the n-th goods place, from the amount SetUp read when it got that far.
void AppendAmount(std::string& sSQL, const std::vector<double>& vAmounts, const std::string& sUnread, size_t n) {
  AppendNumText(sSQL, n < vAmounts.size() ? vAmounts[n] : UnreadAmount(sUnread, n));
}

// The name of the column Goods_k.
void AppendColumnName(std::string& sSQL, int32_t k) {
  sSQL.append("Goods_");
  AppendNumText(sSQL, int64_t{k});
}

}  // namespace

bool clsItemGoods::SetUp(std::string_view sGoodsLine) {
  bool bResult = false;
  clsTrap trap(kGoodsSource);
  // An empty field is one place of nothing.
  std::string_view sField = sGoodsLine.empty() ? std::string_view("0") : sGoodsLine;
  msUnread.clear();
  bool bRead = trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    std::vector<std::string_view> vPlaces = SplitViews(sField, ',');
    trap.Step("01");
    mnGoodsCount = Int16(static_cast<int64_t>(vPlaces.size()));
    trap.Step("02");
    mvAmounts.clear();
    mvAmounts.reserve(vPlaces.size());
    for (std::string_view sPlace : vPlaces) {
      mvAmounts.push_back(ReadLeadingNumber(sPlace));
      mdblTotalGoods = AddAmounts(mdblTotalGoods, mvAmounts.back());
    }
    trap.Step("03");
    mCheckGoodsColumns(mnGoodsCount);
    bResult = true;
  });
  // Every place read: the statements take the amounts, and a day's records are all held until
  // they are written, so the text is kept only when a place stopped the reading.
  if (!bRead) msUnread = sField;
  return bResult;
}

void clsItemGoods::mCheckGoodsColumns(Int16 nGoods) {
  clsHourglass hourglass;
  clsTrap trap(kGoodsSource);
  trap.Run([&] {
    trap.Step("00");
    if (mlColumns > 0 || nGoods < 1) return;
    Connection& conn = SharedConnection();
    std::set<int32_t>& setHeld = GoodsColumnsHeld(conn);
    trap.Step("01");
    for (int32_t k = 1; k <= nGoods; ++k) {
      if (setHeld.count(k)) continue;
      std::string sSQL = "ALTER TABLE Goods ADD COLUMN Goods_" + NumText(int64_t{k}) + " NUMBER";
      trap.Step("02");
      ColumnTransaction trans(conn);
      conn.Execute(sSQL, nullptr, -1);
      trans.Commit();
      NoteColumnAdded(conn, setHeld, k);
    }
    trap.Step("03");
    mlColumns = nGoods.Value();
    trap.Step("04");
  });
}

std::string clsItemGoods::msInsertSql() const {
  std::string sSQL;
  sSQL.reserve(64 + 20 * static_cast<size_t>(mlColumns));
  sSQL.append("INSERT INTO Goods (Date_ID,Session_ID,");
  for (int32_t k = 1; k <= mlColumns; ++k) {
    if (k > 1) sSQL += ',';
    AppendColumnName(sSQL, k);
  }
  sSQL.append(") VALUES (");
  AppendNumText(sSQL, int64_t{mlDate_ID});
  sSQL += ',';
  AppendNumText(sSQL, int64_t{mlSession_ID});
  sSQL += ',';
  for (int32_t n = 0; n < mnGoodsCount; ++n) {
    if (n > 0) sSQL += ',';
    AppendAmount(sSQL, mvAmounts, msUnread, static_cast<size_t>(n));
  }
  sSQL.append(");");
  return sSQL;
}

std::string clsItemGoods::msUpdateSql() const {
  std::string sSQL = "UPDATE Goods SET Session_ID=" + NumText(int64_t{mlSession_ID}) +
                     ",Date_ID=" + NumText(int64_t{mlDate_ID}) + ",";
  // Without checked columns the list is one empty name, which is assigned all the same.
  int32_t lAssigned = std::max(mlColumns, int32_t{1});
  for (int32_t k = 1; k <= lAssigned; ++k) {
    if (k > 1) sSQL += ',';
    if (mlColumns > 0) AppendColumnName(sSQL, k);
    sSQL += '=';
    AppendAmount(sSQL, mvAmounts, msUnread, static_cast<size_t>(k - 1));
  }
  // Places past the line's count hold nothing, as after a first import of the line.
  for (int32_t k : GoodsColumnsHeld(SharedConnection())) {
    if (k <= mnGoodsCount.Value()) continue;
    sSQL.append(",");
    AppendColumnName(sSQL, k);
    sSQL.append("=NULL");
  }
  sSQL.append(" WHERE Session_ID=");
  AppendNumText(sSQL, int64_t{mlSession_ID});
  return sSQL;
}

bool clsItemGoods::DBUpdate(int32_t eDBAction) {
  bool bResult = false;
  clsTrap trap("clsItemGoods:DBUpdate");
  trap.Run([&] {
    clsHourglass hourglass(clsHourglass::enuRestoreOnReturn);
    trap.Step("00");
    std::string sSQL;
    if (eDBAction == enuInsert) {
      trap.Step("02");
      sSQL = msInsertSql();
    }
    if (eDBAction == enuUpdate) {
      trap.Step("04");
      sSQL = msUpdateSql();
    }
    trap.Step("10");
    int64_t lUpdated = 0;
    SharedConnection().Execute(sSQL, &lUpdated, -1);
    // A stored session whose goods row went missing gets one.
    if (eDBAction == enuUpdate && lUpdated == 0) {
      trap.Step("11");
      SharedConnection().Execute(msInsertSql(), nullptr, -1);
    }
    bResult = true;
  });
  return bResult;
}

}  // namespace varn
