// The SQL text of the day-table operations, kept in one place so that its
// query plans can be checked.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_

#include <string>

namespace engine::sqlite {

// The nearest-key search from (?1 symbol) or, `with_time`, (?1 symbol,
// ?2 time): ranges of the SymbolTime key (Symbol COLLATE NOCASE, Time, ID)
// read in key order, nothing sorted. The key is the table's own in the
// current layout and a separate index in the earlier one; the same text
// reads both. (A row-value comparison would be one range, but SQLite does
// not seek with one on a key whose column has its own collation.)
std::string SeekTicksSql(const std::string& table, bool with_time);
// The count of at most ?1 rows.
std::string CountRowsSql(const std::string& table);
// The table, its rows stored in SymbolTime order with IDs unique.
std::string TickTableDdl(const std::string& table);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
