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
// open connection to `target`), sorted by name.
std::vector<std::string> ListTickTables(const engine::AliasTarget& target,
                                        engine::Connection& connection);

}  // namespace admin

#endif  // HISTDATA_TOOLS_TICK_TABLES_H_
