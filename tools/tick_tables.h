// The day tables of the tick store: their names, which exist, and the
// numbering of their rows.
#ifndef HISTDATA_TOOLS_TICK_TABLES_H_
#define HISTDATA_TOOLS_TICK_TABLES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/day_tables.h"
#include "platform/engine/driver.h"

namespace admin {

// Columns of a day table as the loader writes them (lower case, so that an
// unquoted name means the same column to both drivers).
extern const std::vector<std::string> kTickInsertColumns;

// The day tables present in the tick store reached by `connection` (an
// open connection to `target`), sorted by name.
std::vector<std::string> ListTickTables(const engine::AliasTarget& target,
                                        engine::Connection& connection);

// The highest ID of a day table, 0 for an empty one.
int64_t LastTickId(const engine::AliasTarget& target, engine::Connection& connection,
                   const std::string& table);

}  // namespace admin

#endif  // HISTDATA_TOOLS_TICK_TABLES_H_
