// The door to the import under way, and key allocation: the highest key in use plus one.
#include "db/modMainLog.h"

#include <charconv>
#include <optional>
#include <unordered_map>

#include "db/Recordset.h"
#include "db/Schema.h"
#include "runtime/Error.h"
#include "runtime/Text.h"
#include "ui/ErrorHandling.h"
#include "ui/UserInterface.h"

namespace varn {

std::shared_ptr<IImportService> gobjLogAnalysis;

IImportService& ImportService() {
  if (!gobjLogAnalysis) RaiseError(errObjectNotSet);
  return *gobjLogAnalysis;
}

Connection& SharedConnection() {
  std::shared_ptr<clsConnection> pConnection = ImportService().DBConnection();
  if (!pConnection) RaiseError(errObjectNotSet);
  std::shared_ptr<Connection> pShared = pConnection->DBConnection();
  if (!pShared) RaiseError(errObjectNotSet);
  return *pShared;
}

namespace {

struct KeyTable {
  std::string sTable;
  std::string sColumn;
};

// The table and key column of a kind; both empty for a kind that names no table.
KeyTable KeyTableOf(int32_t eKind) {
  const SchemaTable* pTable = KeyedTable(eKind);
  if (!pTable) return {};
  return {pTable->sName, pTable->KeyColumn()};
}

std::string GetIDFailure(const clsError& err, const KeyTable& key) {
  return err.Description() + "\r\n\r\n" + "Error getting ID for " + key.sTable + "." + key.sColumn;
}

// The runtime's CLng(value + 1): a key past 32 bits overflows (6).
int32_t KeyAfter(const Variant& vKey) { return Variant(vKey.ToDouble() + 1).ToLong(); }

// The whole number a stored LineNo holds, when the database keeps it as one: the values that
// "LineNo = n" matches (a text or a fraction matches no line number).
std::optional<int64_t> StoredLineNo(const Variant& vLineNo) {
  if (vLineNo.IsNull()) return std::nullopt;
  std::string sText = vLineNo.ToText();
  int64_t lLineNo = 0;
  auto [pEnd, ec] = std::from_chars(sText.data(), sText.data() + sText.size(), lLineNo);
  if (ec != std::errc() || pEnd != sText.data() + sText.size() || !(vLineNo == Variant(lLineNo))) return std::nullopt;
  return lLineNo;
}

// The keys of one table's rows of one date by line number (the largest key where a line has
// several), as last read. An update looks up every line of its day: reading the day's keys
// once costs what one look-up did.
struct DayKeys {
  int32_t lDateID = 0;
  std::unordered_map<int64_t, Variant> mapKeys;
};

// One day for each table, as an update's sessions and shifts come in turn, kept in the
// connection's cache while no stored row can have changed.
struct KeysSeen {
  std::unordered_map<int32_t, DayKeys> mapByKind;
};

const DayKeys& KeysOfDay(Connection& conn, int32_t eKind, const KeyTable& key, int32_t lDateID, clsTrap& trap) {
  KeysSeen* pSeen = conn.Cached<KeysSeen>(enuWhileRowsUnchanged);
  if (!pSeen) pSeen = &conn.Keep(KeysSeen{});
  auto it = pSeen->mapByKind.find(eKind);
  if (it != pSeen->mapByKind.end() && it->second.lDateID == lDateID) return it->second;
  pSeen->mapByKind.erase(eKind);
  std::string sSql = "SELECT " + key.sColumn + ", LineNo FROM " + key.sTable + " WHERE Date_ID=" +
                     NumText(int64_t{lDateID}) + " ORDER BY " + key.sColumn;
  trap.Step("06");
  Recordset rs;
  trap.Step("07");
  rs.Open(sSql, conn, adOpenDynamic, adLockReadOnly, -1);
  DayKeys day{lDateID, {}};
  for (; !rs.EOF_(); rs.MoveNext()) {
    if (auto lLine = StoredLineNo(rs.Fields("LineNo"))) day.mapKeys.insert_or_assign(*lLine, rs.Fields(key.sColumn));
  }
  rs.Close();
  return pSeen->mapByKind.emplace(eKind, std::move(day)).first->second;
}

}  // namespace

int32_t GetNextID(int32_t eKind) {
  // Part of a record's write, which ends the hourglass (or here, when there is no connection).
  clsHourglass hourglass(clsHourglass::enuLeaveOn);
  int32_t lResult = 0;
  KeyTable key;
  clsTrap trap("modMainLog:GetNextID");
  trap.Custom([&key](const clsError& err) { return GetIDFailure(err, key); });
  trap.Run([&] {
    trap.Step("00");
    if (!ImportService().IsConnected()) {
      hourglass.Restore();
      lResult = -1;
      return;
    }
    trap.Step("01");
    key = KeyTableOf(eKind);
    switch (eKind) {
      case enuDateRangeTable: trap.Step("02"); break;
      case enuSessionTable: trap.Step("03"); break;
      case enuShiftTable: trap.Step("04"); break;
      case enuUserTable: trap.Step("05"); break;
      default: break;
    }
    trap.Step("06");
    std::string sSql = "SELECT MAX(" + key.sColumn + ") AS [ID] FROM " + key.sTable;
    trap.Step("07");
    Recordset rs;
    trap.Step("08");
    rs.Open(sSql, SharedConnection(), adOpenDynamic, adLockReadOnly, -1);
    trap.Step("09");
    int32_t lNext = 1;
    if (!rs.EOF_() && !rs.BOF()) {
      trap.Step("10");
      rs.MoveLast();
      trap.Step("11");
      if (!rs.Fields("ID").IsNull()) {
        trap.Step("12");
        lNext = KeyAfter(rs.Fields("ID"));
      }
    }
    trap.Step("13");
    lResult = lNext;
    rs.Close();
  });
  return lResult;
}

int32_t GetExistingID(int32_t eKind, int32_t lLineNo, int32_t lDateID) {
  // Part of a record's write, which ends the hourglass (or here, when there is no connection).
  clsHourglass hourglass(clsHourglass::enuLeaveOn);
  int32_t lResult = 0;
  KeyTable key;
  clsTrap trap("modMainLog:GetExistingID");
  trap.Custom([&key](const clsError& err) { return GetIDFailure(err, key); });
  trap.Run([&] {
    trap.Step("00");
    if (!ImportService().IsConnected()) {
      hourglass.Restore();
      lResult = -1;
      return;
    }
    key = KeyTableOf(eKind);
    switch (eKind) {
      case enuDateRangeTable: trap.Step("01"); break;
      case enuSessionTable: trap.Step("02"); break;
      case enuShiftTable: trap.Step("03"); break;
      case enuUserTable: trap.Step("04"); break;
      default: break;
    }
    trap.Step("05");
    const DayKeys& day = KeysOfDay(SharedConnection(), eKind, key, lDateID, trap);
    trap.Step("08");
    // No row with that line and date: a value no key can take, so no stored row is overwritten.
    int32_t lFound = kNoExistingID;
    auto it = day.mapKeys.find(lLineNo);
    if (it != day.mapKeys.end()) {
      trap.Step("10");
      lFound = it->second.ToLong();
    }
    lResult = lFound;
  });
  return lResult;
}

}  // namespace varn
