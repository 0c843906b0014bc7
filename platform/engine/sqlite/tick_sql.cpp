#include "platform/engine/sqlite/tick_sql.h"

#include "platform/engine/sqlite/sqlite_db.h"

namespace engine::sqlite {

std::string SeekTicksSql(const std::string& table) {
  return "SELECT ID,Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize FROM " + QuoteTableName(table) +
         " WHERE (Symbol COLLATE NOCASE, Time, ID) >= (?1, ?2, ?3)"
         " ORDER BY Symbol COLLATE NOCASE, Time, ID";
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
