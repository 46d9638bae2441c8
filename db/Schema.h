// The report database in one description: its tables with their columns and keys, its
// indexes, and the rows that go with a deleted date. Each engine makes its schema from it in
// its own words and checks an existing database against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/Enums.h"

namespace varn {

// What a column holds; each engine names the type in its own words.
enum eColumnKind : int32_t {
  enuKeyColumn = 0,  // the table's primary key, a whole number
  enuWholeColumn = 1,
  enuNumberColumn = 2,
  enuTextColumn = 3,
  enuDateColumn = 4,
  enuDateTimeColumn = 5,
};

struct SchemaColumn {
  const char* sName;
  eColumnKind eKind;
};

struct SchemaTable {
  const char* sName;
  eLogTable eKeysOf;  // the kind whose keys are allocated in this table; enuNoTable for none
  std::vector<SchemaColumn> vColumns;

  const char* KeyColumn() const;
};

struct SchemaIndex {
  const char* sName;
  const char* sTable;
  const char* sColumns;  // as the statement lists them: "Date_ID, LineNo"
};

// Deleting a row of sTable deletes the rows of vTables with the same sColumn. Rows of Date_ID 0
// and of no stored date are allowed, so it is a trigger (named sName), not a foreign key.
struct SchemaCascade {
  const char* sName;
  const char* sTable;
  const char* sColumn;
  std::vector<const char*> vTables;
};

struct Schema {
  std::vector<SchemaTable> vTables;
  std::vector<SchemaIndex> vIndexes;
  SchemaCascade cascade;
};

const Schema& ReportSchema();

// The table that key allocation of eKind reads; nullptr for a kind that names no table.
const SchemaTable* KeyedTable(int32_t eKind);

// "CREATE INDEX name ON table (columns)", in the words both engines take.
std::string IndexStatement(const SchemaIndex& index);
// The cascade's DELETE statements, one indented line each, as a trigger body of either engine.
std::string CascadeDeletes(const SchemaCascade& cascade);

}  // namespace varn
