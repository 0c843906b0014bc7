// The SQL text of the day-table operations, kept in one place so that its
// query plans can be checked.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_

#include <string>

namespace engine::sqlite {

// The nearest-key search from (?1 symbol) or, `with_time`, (?1 symbol,
// ?2 time): ranges of the SymbolTime index read in index order, nothing
// sorted. (A row-value comparison would be one range, but SQLite does not
// seek with one on an index whose column has its own collation.)
std::string SeekTicksSql(const std::string& table, bool with_time);
// The count of at most ?1 rows.
std::string CountRowsSql(const std::string& table);
// The table and its SymbolTime index, named `index_name`.
std::string TickTableDdl(const std::string& table, const std::string& index_name);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
