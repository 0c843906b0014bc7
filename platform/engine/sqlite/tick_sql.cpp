#include "platform/engine/sqlite/tick_sql.h"

#include <string_view>

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

namespace {

// The triggers of a day table, each as SQLite keeps its text in
// sqlite_master ("CREATE TRIGGER name AFTER event ON table BEGIN body; END").
struct Trigger {
  std::string name, event, body;
  std::string Text(const std::string& table) const {
    return "CREATE TRIGGER " + QuoteTableName(table + name) + " AFTER " + event + " ON " + QuoteTableName(table) +
           " BEGIN " + body + "; END";
  }
};

std::string NoteSpellingSql(const std::string& table) {
  return "INSERT OR IGNORE INTO " + QuoteTableName(table + "_spellings") + " VALUES (NEW.Symbol)";
}

std::string DropPackOf(const std::string& table, const char* keys) {
  return "DELETE FROM " + QuoteTableName(table + "_packs") + " WHERE " + keys;
}

std::vector<Trigger> SpellingTriggers(const std::string& table) {
  return {{"_spelt", "INSERT", NoteSpellingSql(table)}, {"_respelt", "UPDATE OF Symbol", NoteSpellingSql(table)}};
}

std::vector<Trigger> PackTriggers(const std::string& table) {
  return {{"_packs_ins", "INSERT", DropPackOf(table, "Key = NEW.Symbol")},
          {"_packs_del", "DELETE", DropPackOf(table, "Key = OLD.Symbol")},
          {"_packs_upd", "UPDATE", DropPackOf(table, "Key = OLD.Symbol OR Key = NEW.Symbol")}};
}

}  // namespace

std::string SpellingsDdl(const std::string& table) {
  const std::string rows = QuoteTableName(table);
  const std::string spellings = QuoteTableName(table + "_spellings");
  // Keyed on the folded symbol first, so that one search finds every
  // spelling of a symbol.
  std::string ddl = "CREATE TABLE " + spellings +
                    " (Symbol TEXT NOT NULL, PRIMARY KEY (Symbol COLLATE NOCASE, Symbol)) WITHOUT ROWID;"
                    " INSERT OR IGNORE INTO " + spellings + " SELECT DISTINCT Symbol FROM " + rows +
                    " WHERE Symbol IS NOT NULL;";
  for (const Trigger& t : SpellingTriggers(table)) {
    ddl += ' ';
    ddl += t.Text(table);
    ddl += ';';
  }
  return ddl;
}

std::string PacksDdl(const std::string& table) {
  // Key takes the index's collation, so that one search finds a key's pack
  // from any spelling of the symbol.
  std::string ddl = "CREATE TABLE IF NOT EXISTS " + QuoteTableName(table + "_packs") +
                    " (Key TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, Data BLOB NOT NULL) WITHOUT ROWID;";
  for (const Trigger& t : PackTriggers(table)) {
    const std::string text = t.Text(table);
    ddl += " CREATE TRIGGER IF NOT EXISTS";
    ddl.append(text, std::string_view("CREATE TRIGGER").size());
    ddl += ';';
  }
  return ddl;
}

std::map<std::string, std::string> KnownTriggers(const std::string& table) {
  std::map<std::string, std::string> known;
  for (const auto& set : {SpellingTriggers(table), PackTriggers(table)}) {
    for (const Trigger& t : set) known.emplace(table + t.name, t.Text(table));
  }
  return known;
}

std::vector<std::string> InsertTriggerNames(const std::string& table) {
  return {table + "_spelt", table + "_packs_ins"};
}

std::string NoteSpellingOfSql(const std::string& table) {
  return "INSERT OR IGNORE INTO " + QuoteTableName(table + "_spellings") + " VALUES (?1)";
}

std::string DropPackOfSql(const std::string& table) { return DropPackOf(table, "Key = ?1"); }

std::string ReadPackSql(const std::string& table) {
  return "SELECT Data FROM " + QuoteTableName(table + "_packs") + " WHERE Key = ?1";
}

}  // namespace engine::sqlite
