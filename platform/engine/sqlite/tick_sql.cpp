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

std::string TickTableDdl(const std::string& table, const std::string& index_name) {
  std::string t = QuoteTableName(table);
  std::string index = "\"" + index_name + "\"";
  return "CREATE TABLE IF NOT EXISTS " + t +
         " (ID INTEGER PRIMARY KEY, Date DATE, Time TIME, Symbol TEXT, Bid REAL, Offer REAL,"
         " Price REAL, BidSize REAL, Volume REAL, OfferSize REAL);"
         "CREATE INDEX IF NOT EXISTS " + index + " ON " + t + " (Symbol COLLATE NOCASE, Time, ID);";
}

}  // namespace engine::sqlite
