// The SQL text of the day-table operations, kept in one place so that its
// query plans can be checked.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_

#include <map>
#include <string>
#include <vector>

namespace engine::sqlite {

// The nearest-key search from (?1 symbol) or, `with_time`, (?1 symbol,
// ?2 time): ranges of the SymbolTime key (Symbol COLLATE NOCASE, Time, ID)
// read in key order, nothing sorted. The key is the table's own in the
// current layout and a separate index in the earlier one; the same text
// reads both. (A row-value comparison would be one range, but SQLite does
// not seek with one on a key whose column has its own collation.)
std::string SeekTicksSql(const std::string& table, bool with_time);
// The last row of symbol ?1's SymbolTime group, its Time before ?2 when
// `bounded`: the key read backwards from its far end.
std::string LastTickSql(const std::string& table, bool bounded);
// A row when symbol ?1's group holds a spelling other than ?1 itself, read
// from the table's spellings (SpellingsDdl); fails to prepare on a file
// without them.
std::string OtherSpellingSql(const std::string& table);
// The count of at most ?1 rows.
std::string CountRowsSql(const std::string& table);
// The table, its rows stored in SymbolTime order with IDs unique.
std::string TickTableDdl(const std::string& table);
// The spellings of the table's symbols, each once, kept by triggers on
// every insert and symbol update, whoever writes; a deleted row's spelling
// stays, which can only send a reader the long way. Filled from the rows on
// its creation, when the table has rows already (a file of an earlier
// layout).
std::string SpellingsDdl(const std::string& table);

// The table's packs (engine/tick_pack.h), one per SymbolTime key, and the
// triggers that drop a key's pack whenever any of its rows is inserted,
// updated or deleted, whoever writes: a pack that exists equals its rows.
std::string PacksDdl(const std::string& table);
// Every trigger SpellingsDdl and PacksDdl make on `table`: name to its
// text as sqlite_master keeps it.
std::map<std::string, std::string> KnownTriggers(const std::string& table);
// The names of those that fire on an insert into the table; what they do
// for a row of symbol ?1, the same statements: NoteSpellingOfSql, then
// DropPackOfSql.
std::vector<std::string> InsertTriggerNames(const std::string& table);
std::string NoteSpellingOfSql(const std::string& table);
std::string DropPackOfSql(const std::string& table);
// The pack of the key of symbol ?1; fails to prepare on a file without packs.
std::string ReadPackSql(const std::string& table);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_TICK_SQL_H_
