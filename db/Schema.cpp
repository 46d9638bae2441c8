// The report database's one description, and the parts of its statements both engines share.
#include "db/Schema.h"

namespace varn {

const char* SchemaTable::KeyColumn() const {
  for (const SchemaColumn& column : vColumns) {
    if (column.eKind == enuKeyColumn) return column.sName;
  }
  return "";
}

// Goods starts with its two key columns; the import adds Goods_1, Goods_2, ... as lines need them.
const Schema& ReportSchema() {
  static const Schema schema = {
      {{"DateRange",
        enuDateRangeTable,
        {{"Date_ID", enuKeyColumn},
         {"LogDate", enuDateColumn},
         {"DateTotal", enuNumberColumn},
         {"DateImported", enuDateTimeColumn}}},
       {"Session",
        enuSessionTable,
        {{"Session_ID", enuKeyColumn},
         {"Date_ID", enuWholeColumn},
         {"LineNo", enuWholeColumn},
         {"PC_No", enuTextColumn},
         {"StartTime", enuTextColumn},
         {"EndTime", enuTextColumn},
         {"TotalTime", enuTextColumn},
         {"TotalGoods", enuNumberColumn},
         {"User_ID", enuWholeColumn},
         {"UserCharge", enuNumberColumn},
         {"Total", enuNumberColumn},
         {"MemberID", enuTextColumn}}},
       {"Goods", enuNoTable, {{"Date_ID", enuWholeColumn}, {"Session_ID", enuKeyColumn}}},
       {"Shift",
        enuShiftTable,
        {{"Shift_ID", enuKeyColumn},
         {"Date_ID", enuWholeColumn},
         {"LineNo", enuWholeColumn},
         {"SignOn", enuTextColumn},
         {"SignOff", enuTextColumn},
         {"SignDateTime", enuDateTimeColumn}}},
       {"User", enuUserTable, {{"User_ID", enuKeyColumn}, {"UserName", enuTextColumn}}}},
      {{"SessionDateLine", "Session", "Date_ID, LineNo"},
       {"ShiftDateLine", "Shift", "Date_ID, LineNo"},
       {"GoodsDate", "Goods", "Date_ID"}},
      {"DateRangeDeleted", "DateRange", "Date_ID", {"Goods", "Session", "Shift"}},
  };
  return schema;
}

const SchemaTable* KeyedTable(int32_t eKind) {
  if (eKind == enuNoTable) return nullptr;
  for (const SchemaTable& table : ReportSchema().vTables) {
    if (table.eKeysOf == eKind) return &table;
  }
  return nullptr;
}

std::string IndexStatement(const SchemaIndex& index) {
  return std::string("CREATE INDEX ") + index.sName + " ON " + index.sTable + " (" + index.sColumns + ")";
}

std::string CascadeDeletes(const SchemaCascade& cascade) {
  std::string sDeletes;
  for (const char* pTable : cascade.vTables) {
    sDeletes += std::string("  DELETE FROM ") + pTable + " WHERE " + cascade.sColumn + " = OLD." + cascade.sColumn;
    sDeletes += ";\n";
  }
  return sDeletes;
}

}  // namespace varn
