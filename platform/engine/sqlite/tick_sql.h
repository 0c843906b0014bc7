// The SQL text of the day-table operations, kept in one place so that its
// query plans can be checked.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_

#include <string>

namespace engine::sqlite {

// The nearest-key search: ?1 symbol, ?2 time, ?3 ID. Row values keep it one
// range of the SymbolTime index, read in index order.
std::string SeekTicksSql(const std::string& table);
// The count of at most ?1 rows.
std::string CountRowsSql(const std::string& table);
// The table and its SymbolTime index, named `index_name`.
std::string TickTableDdl(const std::string& table, const std::string& index_name);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
