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

std::string LastTickSql(const std::string& table, bool bounded) {
  return "SELECT ID,Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize FROM " + QuoteTableName(table) +
         " WHERE Symbol COLLATE NOCASE = ?1" + (bounded ? " AND Time < ?2" : "") +
         " ORDER BY Symbol COLLATE NOCASE DESC, Time DESC, ID DESC LIMIT 1";
}

std::string OtherSpellingSql(const std::string& table) {
  return "SELECT 1 FROM " + QuoteTableName(table + "_spellings") +
         " WHERE Symbol COLLATE NOCASE = ?1 AND Symbol <> ?1 LIMIT 1";
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

std::string SpellingsDdl(const std::string& table) {
  const std::string rows = QuoteTableName(table);
  const std::string spellings = QuoteTableName(table + "_spellings");
  const std::string note = " BEGIN INSERT OR IGNORE INTO " + spellings + " VALUES (NEW.Symbol); END;";
  // Keyed on the folded symbol first, so that one search finds every
  // spelling of a symbol.
  return "CREATE TABLE " + spellings +
         " (Symbol TEXT NOT NULL, PRIMARY KEY (Symbol COLLATE NOCASE, Symbol)) WITHOUT ROWID;"
         " INSERT OR IGNORE INTO " + spellings + " SELECT DISTINCT Symbol FROM " + rows + " WHERE Symbol IS NOT NULL;"
         " CREATE TRIGGER " + QuoteTableName(table + "_spelt") + " AFTER INSERT ON " + rows + note +
         " CREATE TRIGGER " + QuoteTableName(table + "_respelt") + " AFTER UPDATE OF Symbol ON " + rows + note;
}

std::string PacksDdl(const std::string& table) {
  const std::string rows = QuoteTableName(table);
  const std::string packs = QuoteTableName(table + "_packs");
  auto trigger = [&](const char* suffix, const char* event, const char* keys) {
    return " CREATE TRIGGER IF NOT EXISTS " + QuoteTableName(table + suffix) + " AFTER " + event + " ON " + rows +
           " BEGIN DELETE FROM " + packs + " WHERE " + keys + "; END;";
  };
  // Key takes the index's collation, so that one search finds a key's pack
  // from any spelling of the symbol.
  return "CREATE TABLE IF NOT EXISTS " + packs +
         " (Key TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, Data BLOB NOT NULL) WITHOUT ROWID;" +
         trigger("_packs_ins", "INSERT", "Key = NEW.Symbol") + trigger("_packs_del", "DELETE", "Key = OLD.Symbol") +
         trigger("_packs_upd", "UPDATE", "Key = OLD.Symbol OR Key = NEW.Symbol");
}

std::string ReadPackSql(const std::string& table) {
  return "SELECT Data FROM " + QuoteTableName(table + "_packs") + " WHERE Key = ?1";
}

}  // namespace engine::sqlite
