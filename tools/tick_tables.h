// The day tables of the tick store: which exist.
#ifndef HISTDATA_TOOLS_TICK_TABLES_H_
#define HISTDATA_TOOLS_TICK_TABLES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/day_tables.h"
#include "platform/engine/driver.h"

namespace admin {

// The day tables present in the tick store reached by `connection` (an
// open connection to `target`), sorted by name; with `first_day` or
// `last_day` (0: open end), those of the days in that range.
std::vector<std::string> ListTickTables(const engine::AliasTarget& target,
                                        engine::Connection& connection, int32_t first_day = 0,
                                        int32_t last_day = 0);

// The day a table holds by its name, read with a two-digit year near today.
int32_t DayOfTableName(const std::string& table);

}  // namespace admin

#endif  // HISTDATA_TOOLS_TICK_TABLES_H_
