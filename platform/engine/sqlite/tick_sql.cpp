#include "platform/engine/sqlite/tick_sql.h"

#include "platform/engine/sqlite/sqlite_db.h"

namespace engine::sqlite {

std::string SeekTicksSql(const std::string& table, bool with_time) {
  std::string select = "SELECT ID,Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize FROM " +
                       QuoteTableName(table) + " WHERE ";
  const char* order = " ORDER BY Symbol COLLATE NOCASE, Time, ID";
  if (!with_time) return select + "Symbol COLLATE NOCASE >= ?1" + order;
  // The rest of the symbol from the time on, then every later symbol.
  return select + "Symbol COLLATE NOCASE = ?1 AND Time >= ?2 UNION ALL " + select +
         "Symbol COLLATE NOCASE > ?1" + order;
}

std::string CountRowsSql(const std::string& table) {
  return "SELECT count(*) FROM (SELECT 1 FROM " + QuoteTableName(table) + " LIMIT ?1)";
}

std::string TickTableDdl(const std::string& table) {
  // The rows are kept in SymbolTime order (WITHOUT ROWID, keyed on it), so a
  // scan from a key reads them one after another with no lookup per row into
  // a table held in load order. ID stays unique through its own index.
  return "CREATE TABLE IF NOT EXISTS " + QuoteTableName(table) +
         " (ID INTEGER NOT NULL UNIQUE, Date DATE, Time TIME NOT NULL, Symbol TEXT NOT NULL,"
         " Bid REAL, Offer REAL, Price REAL, BidSize REAL, Volume REAL, OfferSize REAL,"
         " PRIMARY KEY (Symbol COLLATE NOCASE, Time, ID)) WITHOUT ROWID;";
}

}  // namespace engine::sqlite
