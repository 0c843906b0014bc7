#include "tests/support/legacy_tick_table.h"

#include <sqlite3.h>

#include <stdexcept>

namespace histtest {

void MakeLegacyTickTable(const std::string& path, const std::string& table) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open(path.c_str(), &db);
  std::string ddl = "CREATE TABLE \"" + table +
                    "\" (ID INTEGER PRIMARY KEY, Date DATE, Time TIME, Symbol TEXT, Bid REAL,"
                    " Offer REAL, Price REAL, BidSize REAL, Volume REAL, OfferSize REAL);"
                    "CREATE INDEX \"SymbolTime\" ON \"" + table + "\" (Symbol COLLATE NOCASE, Time, ID);";
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, ddl.c_str(), nullptr, nullptr, nullptr);
  std::string message = rc == SQLITE_OK ? "" : (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
  sqlite3_close(db);
  if (rc != SQLITE_OK) throw std::runtime_error(message + ": " + path);
}

}  // namespace histtest
