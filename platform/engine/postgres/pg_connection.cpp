// The Connection of the PostgreSQL driver. Tables and procedures are named
// as unquoted identifiers would be (lower case); the tick table layout is
// the one CreateTickTable makes: columns id, date, time, symbol, bid, offer,
// price, bidsize, volume, offersize and the index
// (lower(symbol) COLLATE "C", time, id), which orders symbols with ASCII
// letters folded, as the SymbolTime order wants.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "platform/engine/errors.h"
#include "platform/engine/pack_cache.h"
#include "platform/engine/postgres/pg_cursors.h"
#include "platform/engine/day_tables.h"
#include "platform/engine/postgres/pg_inserter.h"
#include "platform/engine/postgres/pg_session.h"
#include "platform/engine/postgres/pg_text.h"
#include "platform/engine/postgres/postgres_driver.h"
#include "platform/rtl/text.h"

namespace engine {
namespace {

using pg::Result;

// The index that finds a symbol's other spellings; made with the table,
// and on a table of an earlier load when it is prepared for serving.
std::string SpellingIndexDdl(const std::string& table) {
  return "CREATE INDEX IF NOT EXISTS " + pg::QuoteIdent(table + "_spellings") + " ON " + pg::QuoteIdent(table) +
         " (" + pg::kSpellingKey + ")";
}

// The packs of every day table live in one table, each under its day
// table's oid: a day table dropped and made again gets another oid, so its
// old packs can never be taken for the new rows'. The triggers drop the
// packs of every key a statement's rows touch, whoever writes.
// A pack is stored as it is, without the server's compression: packs are
// compact already, and every read would otherwise decompress one whole.
constexpr const char* kPacksDdl = R"sql(
CREATE TABLE IF NOT EXISTS tick_packs (rel oid NOT NULL, key text NOT NULL, data bytea NOT NULL,
  PRIMARY KEY (rel, key));
ALTER TABLE tick_packs ALTER COLUMN data SET STORAGE EXTERNAL;
CREATE OR REPLACE FUNCTION tick_packs_drop() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM tick_packs WHERE rel = TG_RELID) THEN
    RETURN NULL;
  END IF;
  IF TG_OP = 'TRUNCATE' THEN
    DELETE FROM tick_packs WHERE rel = TG_RELID;
  ELSIF TG_OP = 'INSERT' THEN
    DELETE FROM tick_packs WHERE rel = TG_RELID AND key IN (SELECT lower(symbol) FROM new_rows);
  ELSIF TG_OP = 'DELETE' THEN
    DELETE FROM tick_packs WHERE rel = TG_RELID AND key IN (SELECT lower(symbol) FROM old_rows);
  ELSE
    DELETE FROM tick_packs WHERE rel = TG_RELID AND key IN
      (SELECT lower(symbol) FROM old_rows UNION SELECT lower(symbol) FROM new_rows);
  END IF;
  RETURN NULL;
END
$f$;
)sql";

std::string PackTriggersDdl(const std::string& table) {
  const std::string t = pg::QuoteIdent(table);
  const std::string run = " FOR EACH STATEMENT EXECUTE FUNCTION tick_packs_drop();";
  return "CREATE OR REPLACE TRIGGER tick_packs_ins AFTER INSERT ON " + t + " REFERENCING NEW TABLE AS new_rows" + run +
         "CREATE OR REPLACE TRIGGER tick_packs_del AFTER DELETE ON " + t + " REFERENCING OLD TABLE AS old_rows" + run +
         "CREATE OR REPLACE TRIGGER tick_packs_upd AFTER UPDATE ON " + t +
         " REFERENCING OLD TABLE AS old_rows NEW TABLE AS new_rows" + run +
         "CREATE OR REPLACE TRIGGER tick_packs_trunc AFTER TRUNCATE ON " + t + run;
}

class PgConnection : public Connection {
 public:
  PgConnection(const std::string& conninfo, const Credentials& credentials, bool writable)
      : session_(conninfo, credentials, !writable), writable_(writable) {}

  bool Healthy() override { return session_.Healthy(); }

  bool TableExists(const std::string& table) override {
    // Quoted, so that any name is looked up as one identifier.
    const std::string name = pg::QuoteIdent(table);
    Result r = session_.Run("SELECT to_regclass($1) IS NOT NULL", {name.c_str()});
    return PQntuples(r.get()) == 1 && PQgetvalue(r.get(), 0, 0)[0] == 't';
  }

  std::vector<std::string> ListDayTables() override {
    Result r = session_.Run(
        "SELECT c.relname FROM pg_catalog.pg_class c "
        "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND c.relname ~ '^hist[0-9]{6}$' "
        "AND n.nspname = ANY (current_schemas(false))",
        {});
    std::vector<std::string> names;
    for (int i = 0; i < PQntuples(r.get()); ++i) names.emplace_back(PQgetvalue(r.get(), i, 0));
    return names;
  }

  std::unique_ptr<Cursor> SeekTicks(const std::string& table, std::string_view symbol, bool with_time,
                                    double time) override {
    std::string time_text;
    pg::AppendIsoTime(time_text, with_time ? time : 0.0);
    // A time past the day's end is after every row of the symbol.
    const bool past_day = with_time && time > 1.0;
    const int64_t id = past_day ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
    // The symbol goes as a parameter like any other text (a zero byte in it
    // is refused).
    std::string symbol_text;
    pg::ParamText(FieldType::kString, Value::Text(symbol), symbol_text);
    return std::make_unique<pg::TickCursor>(session_, table, symbol_text, time_text, id);
  }

  std::unique_ptr<Cursor> SeekLastTick(const std::string& table, std::string_view symbol, bool bounded,
                                       double before) override {
    std::string symbol_text, time_text;
    pg::ParamText(FieldType::kString, Value::Text(symbol), symbol_text);
    std::vector<const char*> values = {symbol_text.c_str()};
    if (bounded) {
      pg::AppendIsoTime(time_text, before);
      values.push_back(time_text.c_str());
    }
    Result r = session_.Run(pg::LastTickSql(table, bounded), values);
    if (PQntuples(r.get()) == 1 && PQgetvalue(r.get(), 0, 0)[0] == 't') return nullptr;
    return std::make_unique<pg::ResultCursor>(std::move(r), 1);
  }

  bool SeekLastTicks(std::string_view symbol, const LastTickPlanner& planner,
                     std::vector<std::unique_ptr<Cursor>>& cursors) override {
    std::string symbol_text;
    pg::ParamText(FieldType::kString, Value::Text(symbol), symbol_text);
    // A listing remembered from an earlier search is tried first: the
    // statement itself checks it over what the plan depends on, and its
    // answer counts only when it holds. Otherwise the store is listed
    // afresh; a store whose tables keep changing under the search is
    // listed a few times at most, and then left to the caller's search a
    // table at a time.
    for (int attempt = 0; attempt < 4; ++attempt) {
      if (!day_tables_known_) {
        day_tables_ = ListDayTables();
        // A name in two schemas of the search path names one table.
        std::sort(day_tables_.begin(), day_tables_.end());
        day_tables_.erase(std::unique(day_tables_.begin(), day_tables_.end()), day_tables_.end());
        day_tables_known_ = true;
      }
      const LastTickPlan plan = planner(day_tables_);
      std::string expected = "{";
      for (const std::string& name : day_tables_) {
        bool within = false;
        for (const auto& [low, high] : plan.covered) within = within || (low <= name && name <= high);
        if (!within) continue;
        if (expected.size() > 1) expected += ',';
        expected += name;
      }
      expected += '}';
      std::vector<std::string> texts;
      texts.reserve(2 * plan.covered.size() + plan.probes.size());
      for (const auto& [low, high] : plan.covered) {
        texts.push_back(low);
        texts.push_back(high);
      }
      for (const LastTickProbe& probe : plan.probes) {
        if (!probe.bounded) continue;
        texts.emplace_back();
        pg::AppendIsoTime(texts.back(), probe.before);
      }
      std::vector<const char*> values = {symbol_text.c_str(), expected.c_str()};
      for (const std::string& text : texts) values.push_back(text.c_str());
      Result r = session_.RunOnce(pg::LastTicksSql(plan.probes, plan.covered.size()), values);
      // A table of the listing is gone, or another is there.
      day_tables_known_ = false;
      if (!r || PQntuples(r.get()) < 1 || PQgetvalue(r.get(), 0, 0)[0] != 't') continue;
      day_tables_known_ = true;
      std::shared_ptr<PGresult> shared(r.release(), PQclear);
      cursors.clear();
      cursors.resize(plan.probes.size());
      std::vector<bool> answered(plan.probes.size());
      for (int row = 0; row < PQntuples(shared.get()); ++row) {
        if (PQgetisnull(shared.get(), row, 1)) continue;
        const size_t probe = std::stoul(PQgetvalue(shared.get(), row, 1));
        if (probe >= plan.probes.size() || answered[probe]) throw EDBEngineError("Unexpected row of a tick search");
        answered[probe] = true;
        // Another spelling shares the symbol's rows: SeekLastTick's null.
        if (PQgetvalue(shared.get(), row, 2)[0] == 't') continue;
        cursors[probe] = std::make_unique<pg::SharedRowCursor>(shared, row, 3);
      }
      for (size_t probe = 0; probe < plan.probes.size(); ++probe) {
        if (!answered[probe]) cursors[probe] = std::make_unique<pg::SharedRowCursor>(shared, -1, 3);
      }
      return true;
    }
    cursors.clear();
    return false;
  }

  int64_t CountRows(const std::string& table, int64_t limit) override {
    if (limit <= 0) return 0;
    const std::string limit_text = std::to_string(limit);
    Result r = session_.Run("SELECT count(*) FROM (SELECT 1 FROM " + pg::QuoteIdent(table) +
                                " LIMIT $1::bigint) AS counted",
                            {limit_text.c_str()});
    return std::stoll(PQgetvalue(r.get(), 0, 0));
  }

  // A pack that the process keeps (engine/pack_cache.h) comes over the
  // connection again only when its row changed: the statement compares the
  // row's version now (the transaction that wrote it, its place in the
  // table and its length) with the kept pack's, and answers null for the
  // data when they are equal.
  bool ReadPack(const std::string& table, std::string_view symbol, std::string& bytes) override {
    std::string symbol_text;
    pg::ParamText(FieldType::kString, Value::Text(symbol), symbol_text);
    const std::string name = pg::QuoteIdent(table);
    PackCache& cache = PackCache::Default();
    const bool keeping = !writable_ && cache.Enabled();
    std::string kept_name;
    PackCache::Kept kept;
    if (keeping) {
      kept_name = KeptPackName(table, symbol);
      if (!cache.Find(kept_name, kept) || kept.bytes == nullptr) kept.version.clear();
    }
    Result r;
    try {
      r = session_.Run(
          "SELECT CASE WHEN version = $3 THEN NULL ELSE data END, version FROM (SELECT data, xmin::text || ':' || "
          "ctid::text || ':' || octet_length(data) AS version FROM tick_packs WHERE rel = $1::regclass AND key = "
          "lower($2::text)) AS pack",
          {name.c_str(), symbol_text.c_str(), kept.version.c_str()}, /*binary=*/true);
    } catch (const EDBEngineError&) {
      if (writable_) throw;  // a writer's transaction is spoilt: say so
      return false;          // a store without packs
    }
    if (PQntuples(r.get()) != 1) {
      if (keeping) cache.Drop(kept_name);
      return false;
    }
    if (PQgetisnull(r.get(), 0, 0)) {
      // A reconnect to another host within the statement compared the kept
      // version with another server's row: only an answer of the server the
      // pack was kept from counts.
      if (KeptPackName(table, symbol) != kept_name) {
        cache.Drop(kept_name);
        return ReadPack(table, symbol, bytes);
      }
      cache.CountHit();
      bytes.assign(*kept.bytes);
      return true;
    }
    bytes.assign(PQgetvalue(r.get(), 0, 0), static_cast<size_t>(PQgetlength(r.get(), 0, 0)));
    if (keeping) {
      std::string version(PQgetvalue(r.get(), 0, 1), static_cast<size_t>(PQgetlength(r.get(), 0, 1)));
      cache.Keep(KeptPackName(table, symbol), {std::move(version), std::make_shared<const std::string>(bytes)});
    }
    return true;
  }

  std::unique_ptr<Cursor> ScanKeyedTicks(const std::string& table) override {
    std::string time_text;
    pg::AppendIsoTime(time_text, 0.0);
    return std::make_unique<pg::TickCursor>(session_, table, "", time_text, std::numeric_limits<int32_t>::min(),
                                            /*keyed=*/true);
  }

  std::vector<std::string> PackKeys(const std::string& table) override {
    const std::string name = pg::QuoteIdent(table);
    std::vector<std::string> keys;
    Result exists = session_.Run("SELECT to_regclass('tick_packs') IS NOT NULL", {});
    if (PQgetvalue(exists.get(), 0, 0)[0] != 't') return keys;
    Result r = session_.Run("SELECT key FROM tick_packs WHERE rel = $1::regclass", {name.c_str()});
    for (int i = 0; i < PQntuples(r.get()); ++i) keys.emplace_back(PQgetvalue(r.get(), i, 0));
    return keys;
  }

  void ClearPacks(const std::string& table) override {
    CheckWritable();
    EnsurePackStore();
    const std::string name = pg::QuoteIdent(table);
    session_.Execute(PackTriggersDdl(table));
    session_.Run("DELETE FROM tick_packs WHERE rel = $1::regclass", {name.c_str()});
  }

  void StorePack(const std::string& table, const std::string& key, std::string_view bytes) override {
    CheckWritable();
    const std::string name = pg::QuoteIdent(table);
    // Hex text: the driver sends text parameters only, and packs are
    // written once per day, read many times.
    static const char kHex[] = "0123456789abcdef";
    std::string hex = "\\x";
    hex.reserve(2 + 2 * bytes.size());
    for (unsigned char c : bytes) {
      hex += kHex[c >> 4];
      hex += kHex[c & 15];
    }
    session_.Run("INSERT INTO tick_packs (rel, key, data) VALUES ($1::regclass, $2, $3::bytea) "
                 "ON CONFLICT (rel, key) DO UPDATE SET data = EXCLUDED.data",
                 {name.c_str(), key.c_str(), hex.c_str()});
  }

  int64_t LastTickId(const std::string& table) override {
    Result r = session_.Run("SELECT coalesce(max(id), 0) FROM " + pg::QuoteIdent(table), {});
    return std::stoll(PQgetvalue(r.get(), 0, 0));
  }

  std::unique_ptr<Cursor> Query(const Statement& sql, const std::vector<BoundParam>& params) override {
    std::string text;
    for (size_t i = 0; i < sql.pieces.size(); ++i) {
      if (i > 0) text += "$" + std::to_string(i);
      text += sql.pieces[i];
    }
    const size_t placeholders = sql.pieces.empty() ? 0 : sql.pieces.size() - 1;
    if (params.size() != placeholders) {
      throw EDBEngineError("Statement has " + std::to_string(placeholders) + " parameters, " +
                           std::to_string(params.size()) + " given");
    }
    return Run(text, params);
  }

  std::unique_ptr<Cursor> CallProcedure(const std::string& name,
                                        const std::vector<BoundParam>& params) override {
    // Arguments go untyped, so the server resolves them against the
    // function's declared parameter types.
    std::string text = "SELECT * FROM " + pg::QuoteIdent(name) + "(";
    for (size_t i = 0; i < params.size(); ++i) {
      if (i > 0) text += ", ";
      text += "$" + std::to_string(i + 1);
    }
    text += ")";
    return Run(text, params);
  }

  void ExecuteScript(const std::string& sql) override {
    CheckWritable();
    session_.Execute(sql);
  }

  void CreateTickTable(const std::string& table) override {
    CheckWritable();
    const std::string name = pg::QuoteIdent(table);
    session_.Execute("CREATE TABLE " + name +
                     " (id integer PRIMARY KEY, date date, time time(3), symbol varchar(15), bid float8, "
                     "offer float8, price float8, bidsize float8, volume float8, offersize float8); "
                     "CREATE INDEX " +
                     pg::QuoteIdent(table + "_symboltime") + " ON " + name + " (" + pg::kTickKey + "); " +
                     SpellingIndexDdl(table));
    EnsurePackStore();
    session_.Execute(PackTriggersDdl(table));
  }

  void Begin() override {
    CheckWritable();
    session_.Execute("BEGIN");
  }

  void Commit() override {
    CheckWritable();
    Result r = session_.Execute("COMMIT");
    // A transaction that failed earlier ends in a rollback, which the server
    // reports as the status of COMMIT rather than as an error.
    if (std::string_view(PQcmdStatus(r.get())) == "ROLLBACK") {
      throw EDBEngineError("The transaction was rolled back after an earlier error");
    }
  }

  void Rollback() override {
    CheckWritable();
    session_.DiscardCopy();
    session_.Execute("ROLLBACK");
  }

  void PrepareToServe(const std::vector<std::string>& tables) override {
    CheckWritable();
    if (tables.empty()) return;
    std::string names;
    for (const std::string& table : tables) {
      // A day table of an earlier load gets the index that finds a
      // symbol's other spellings.
      if (IsDayTableName(table)) session_.Execute(SpellingIndexDdl(table));
      names += (names.empty() ? "" : ", ") + pg::QuoteIdent(table);
    }
    // Without statistics the planner guesses a freshly loaded table's size
    // and spread, and may read a day table whole where its index would do;
    // without a vacuum no page is known all-visible, so every index read
    // also visits the table, and the first reads of each row write hint
    // bits. Both would wait for autovacuum, whenever it comes.
    session_.Execute("VACUUM (ANALYZE) " + names);
  }

  std::unique_ptr<Inserter> PrepareInsert(const std::string& table,
                                          const std::vector<std::string>& columns) override {
    CheckWritable();
    const std::string name = pg::QuoteIdent(table);
    Result r = session_.Run(
        "SELECT attname, atttypid FROM pg_attribute WHERE attrelid = to_regclass($1) AND attnum > 0 AND "
        "NOT attisdropped",
        {name.c_str()});
    if (PQntuples(r.get()) == 0) throw EDBEngineError("Table '" + table + "' does not exist");
    std::string sql = "COPY " + name + " (";
    std::vector<FieldType> types;
    for (const std::string& column : columns) {
      const std::string quoted = pg::QuoteIdent(column);
      const std::string folded = quoted.substr(1, quoted.size() - 2);
      int found = -1;
      for (int i = 0; i < PQntuples(r.get()) && found < 0; ++i) {
        if (folded == PQgetvalue(r.get(), i, 0)) found = i;
      }
      if (found < 0) throw EDBEngineError("Field '" + column + "' not found in table '" + table + "'");
      if (!types.empty()) sql += ", ";
      sql += quoted;
      types.push_back(pg::FieldTypeOfOid(static_cast<unsigned>(std::stoul(PQgetvalue(r.get(), found, 1)))));
    }
    sql += ") FROM STDIN";
    return std::make_unique<pg::CopyInserter>(session_, std::move(sql), std::move(types));
  }

 private:
  // A pack's name in the process's pack cache: the server, the table and
  // the symbol with ASCII letters folded. Spellings that the server folds
  // together beyond ASCII keep a copy each, every one checked against the
  // same row.
  std::string KeptPackName(const std::string& table, std::string_view symbol) const {
    std::string name = session_.ServerName();
    name += '\0';
    name += table;
    name += '\0';
    name += rtl::LowerAscii(symbol);
    return name;
  }

  std::unique_ptr<Cursor> Run(const std::string& text, const std::vector<BoundParam>& params) {
    std::vector<std::string> texts(params.size());
    std::vector<const char*> values(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      values[i] = pg::ParamText(params[i].type, params[i].value, texts[i]) ? texts[i].c_str() : nullptr;
    }
    return std::make_unique<pg::ResultCursor>(session_.Run(text, values));
  }

  void CheckWritable() const {
    if (!writable_) throw EDBEngineError("Cannot modify a read-only database");
  }

  // The pack table and its trigger function, made when missing (or, in a
  // store of an earlier version, the packs' storage set). Looked up each
  // time: a rolled-back transaction may have taken them away again.
  void EnsurePackStore() {
    Result r = session_.Run(
        "SELECT to_regclass('tick_packs') IS NOT NULL AND to_regprocedure('tick_packs_drop()') IS NOT NULL AND "
        "EXISTS (SELECT 1 FROM pg_catalog.pg_attribute WHERE attrelid = to_regclass('tick_packs') AND "
        "attname = 'data' AND attstorage = 'e')",
        {});
    if (PQgetvalue(r.get(), 0, 0)[0] != 't') session_.Execute(kPacksDdl);
  }

  pg::Session session_;
  const bool writable_;
  // The day tables as last listed, in byte order; a hint for the next
  // search, which checks it before relying on it.
  std::vector<std::string> day_tables_;
  bool day_tables_known_ = false;
};

}  // namespace

std::unique_ptr<Connection> ConnectPostgres(const AliasTarget& target, const Credentials& credentials,
                                            bool writable) {
  return std::make_unique<PgConnection>(target.location, credentials, writable);
}

}  // namespace engine
