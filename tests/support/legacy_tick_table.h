// Day tables in the layout that stores made before the rows were kept in
// SymbolTime order still have: a rowid table with a separate SymbolTime
// index. The engine reads both; tests make such files to show it, and to
// hold rows the current layout refuses (a tick without a time).
#ifndef HISTDATA_TESTS_SUPPORT_LEGACY_TICK_TABLE_H_
#define HISTDATA_TESTS_SUPPORT_LEGACY_TICK_TABLE_H_

#include <string>

namespace histtest {

// Creates `table` with the earlier layout in the SQLite file `path` (made
// if missing). Raises std::runtime_error when SQLite refuses.
void MakeLegacyTickTable(const std::string& path, const std::string& table);

}  // namespace histtest

#endif  // HISTDATA_TESTS_SUPPORT_LEGACY_TICK_TABLE_H_
