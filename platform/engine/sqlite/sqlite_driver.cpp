// The two SQLite store layouts behind one Connection interface: a single
// database file, and a folder of day-table files.
#include "platform/engine/sqlite/sqlite_driver.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <list>
#include <map>
#include <set>
#include <unordered_set>

#include "platform/engine/day_tables.h"
#include "platform/engine/errors.h"
#include "platform/engine/pack_cache.h"
#include "platform/engine/sql_text.h"
#include "platform/engine/sqlite/file_look.h"
#include "platform/engine/sqlite/result_cache.h"
#include "platform/engine/sqlite/sqlite_db.h"
#include "platform/engine/sqlite/tick_sql.h"
#include "platform/os/files.h"
#include "platform/rtl/text.h"

namespace engine {

namespace {

using sqlite::Db;

using sqlite::QuoteTableName;
using sqlite::ResultCache;
using sqlite::RowCursor;
using sqlite::Stmt;

// Day-table files kept open by a folder connection; a request reads a few
// days, and every further file costs only an open.
constexpr size_t kOpenTableFiles = 4;

using rtl::LowerAscii;

std::string QuoteIdentifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The nearest-key search: one statement walking the SymbolTime index from
// the key.
std::unique_ptr<Cursor> SeekTicksIn(Db& db, const std::string& table, std::string_view symbol,
                                    bool with_time, double time) {
  std::unique_ptr<Stmt> stmt = db.Prepare(sqlite::SeekTicksSql(table, with_time));
  stmt->Bind(1, Value::Text(symbol));
  if (with_time) stmt->Bind(2, Value::Float(time));
  return std::make_unique<RowCursor>(std::move(stmt));
}

// The far end of the symbol's group, once the table's spellings show that
// no other spelling shares it. A file without spellings (an earlier layout,
// or a store written without this driver) cannot tell.
//
// The row is sought first and the spellings looked at while its statement
// still holds the read transaction: one lock of the file for both, and
// both see the same version of it. A group without a row needs no look at
// its spellings: a walk through it would find nothing either.
std::unique_ptr<Cursor> SeekLastTickIn(Db& db, const std::string& table, std::string_view symbol,
                                       bool bounded, double before) {
  std::unique_ptr<Stmt> other;
  try {
    other = db.Prepare(sqlite::OtherSpellingSql(table));
  } catch (const EDBEngineError&) {
    return nullptr;
  }
  std::unique_ptr<Stmt> stmt = db.Prepare(sqlite::LastTickSql(table, bounded));
  stmt->Bind(1, Value::Text(symbol));
  if (bounded) stmt->Bind(2, Value::Float(before));
  auto last = std::make_unique<RowCursor>(std::move(stmt));
  if (!last->HasRow()) return last;
  other->Bind(1, Value::Text(symbol));
  if (other->Step()) return nullptr;
  return last;
}

// Makes the table when missing, and its spellings when they are.
void CreateTickTableIn(Db& db, const std::string& table) {
  db.Exec(sqlite::TickTableDdl(table));
  std::unique_ptr<Stmt> stmt = db.Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  stmt->Bind(1, Value::Text(table + "_spellings"));
  const bool has_spellings = stmt->Step();
  stmt.reset();
  if (!has_spellings) db.Exec(sqlite::SpellingsDdl(table));
  db.Exec(sqlite::PacksDdl(table));
}

// --- Packs ------------------------------------------------------------------

bool ReadPackIn(Db& db, const std::string& table, std::string_view symbol, std::string& bytes) {
  std::unique_ptr<Stmt> stmt;
  try {
    stmt = db.Prepare(sqlite::ReadPackSql(table));
  } catch (const EDBEngineError&) {
    return false;  // a file written before packs, or by another program
  }
  stmt->Bind(1, Value::Text(symbol));
  if (!stmt->Step()) return false;
  const void* data = sqlite3_column_blob(stmt->get(), 0);
  const int size = sqlite3_column_bytes(stmt->get(), 0);
  bytes.assign(static_cast<const char*>(data), data != nullptr ? static_cast<size_t>(size) : 0);
  return true;
}

// A pack's name in the process's pack cache, within its file: a table's
// packs are found by the symbol with ASCII letters folded, as the key's
// NOCASE collation folds them.
std::string PackName(const std::string& table, std::string_view symbol) {
  std::string name = LowerAscii(table);
  name += '\0';
  name += LowerAscii(symbol);
  return name;
}

// The rows of every key, each with its key first: the symbol with ASCII
// letters folded, as NOCASE folds them.
class KeyedCursor : public Cursor {
 public:
  explicit KeyedCursor(std::unique_ptr<Cursor> rows) : rows_(std::move(rows)) {
    columns_.push_back({"Key", FieldType::kString});
    for (const Column& c : rows_->columns()) columns_.push_back(c);
  }
  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(std::vector<Value>& row) override {
    if (!rows_->Next(row_)) return false;
    row.resize(row_.size() + 1);
    row[0].SetText(row_[3].kind == Value::Kind::kText ? LowerAscii(row_[3].s) : std::string());
    for (size_t i = 0; i < row_.size(); ++i) std::swap(row[i + 1], row_[i]);
    return true;
  }

 private:
  std::unique_ptr<Cursor> rows_;
  std::vector<Column> columns_;
  std::vector<Value> row_;
};

void ClearPacksIn(Db& db, const std::string& table) {
  db.Exec(sqlite::PacksDdl(table));
  db.Exec("DELETE FROM " + QuoteTableName(table + "_packs"));
}

void StorePackIn(Db& db, const std::string& table, const std::string& key, std::string_view bytes) {
  std::unique_ptr<Stmt> stmt =
      db.Prepare("INSERT OR REPLACE INTO " + QuoteTableName(table + "_packs") + " (Key, Data) VALUES (?1, ?2)");
  stmt->Bind(1, Value::Text(key));
  if (sqlite3_bind_blob64(stmt->get(), 2, bytes.data(), bytes.size(), SQLITE_TRANSIENT) != SQLITE_OK) db.Fail();
  stmt->Step();
}

std::vector<std::string> PackKeysIn(Db& db, const std::string& table) {
  std::vector<std::string> keys;
  std::unique_ptr<Stmt> stmt;
  try {
    stmt = db.Prepare("SELECT Key FROM " + QuoteTableName(table + "_packs"));
  } catch (const EDBEngineError&) {
    return keys;
  }
  while (stmt->Step()) {
    const unsigned char* text = sqlite3_column_text(stmt->get(), 0);
    keys.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
  }
  return keys;
}

// Counts no further than `limit`: asking whether a table has more than ten
// rows reads eleven.
int64_t CountRowsIn(Db& db, const std::string& table, int64_t limit) {
  std::unique_ptr<Stmt> stmt = db.Prepare(sqlite::CountRowsSql(table));
  stmt->Bind(1, Value::Int(limit < 0 ? 0 : limit));
  if (!stmt->Step()) return 0;
  return sqlite3_column_int64(stmt->get(), 0);
}

int64_t LastTickIdIn(Db& db, const std::string& table) {
  std::unique_ptr<Stmt> stmt = db.Prepare("SELECT max(ID) FROM " + QuoteTableName(table));
  if (!stmt->Step()) return 0;
  return sqlite3_column_int64(stmt->get(), 0);
}

// A statement split at its placeholders, written with SQLite's ?N.
std::string Render(const Statement& sql) {
  std::string out;
  for (size_t i = 0; i < sql.pieces.size(); ++i) {
    if (i > 0) out += "?" + std::to_string(i);
    out += sql.pieces[i];
  }
  return out;
}

std::unique_ptr<Cursor> QueryIn(Db& db, const Statement& sql, const std::vector<BoundParam>& params) {
  std::unique_ptr<Stmt> stmt = db.Prepare(Render(sql));
  for (size_t i = 0; i < params.size(); ++i) stmt->Bind(static_cast<int>(i + 1), params[i].value, params[i].type);
  return std::make_unique<RowCursor>(std::move(stmt));
}

// The first day table a statement names, alone ("hist030704") or as the
// stem of a table kept in its file ("hist030704_feed"); empty for none.
std::string DayTableNamedIn(std::string_view sql) {
  auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; };
  for (size_t i = 0; i + 10 <= sql.size(); ++i) {
    if ((i > 0 && word(sql[i - 1])) || (i + 10 < sql.size() && std::isalnum(static_cast<unsigned char>(sql[i + 10])))) continue;
    std::string name = LowerAscii(sql.substr(i, 10));
    if (IsDayTableName(name)) return name;
  }
  return "";
}

class SqliteInserter : public Connection::Inserter {
 public:
  explicit SqliteInserter(std::unique_ptr<Stmt> stmt) : stmt_(std::move(stmt)) {}
  void Insert(const std::vector<Value>& row) override {
    sqlite3_reset(stmt_->get());
    for (size_t i = 0; i < row.size(); ++i) stmt_->Bind(static_cast<int>(i + 1), row[i]);
    stmt_->Step();
    sqlite3_reset(stmt_->get());
  }

 private:
  std::unique_ptr<Stmt> stmt_;
};

// --- The writer's tick inserter ---------------------------------------------
//
// A day table's insert triggers (tick_sql.h: the spelling noted, the key's
// pack dropped) cost SQLite a trigger program per row, about a third of a
// loader's time. For a table whose triggers are exactly the ones this driver
// makes, the inserter runs its inserts with the handle's triggers off
// (Db::SuspendTriggers) and runs the triggers' own two statements itself,
// once per spelling for each run of inserts with no other statement of the
// handle in between: after each insert the store holds what the triggers
// would have left. The triggers stay in the file for every other writer,
// and every other statement of this handle runs with them on.

// Whether `db` lets inserts into `table` go without its triggers: the
// triggers on the table are only the known ones, both insert triggers among
// them, and none is on the tables that those two write.
bool TriggersKnownIn(Db& db, const std::string& table) {
  const std::map<std::string, std::string> known = sqlite::KnownTriggers(table);
  std::unique_ptr<Stmt> stmt = db.Prepare(
      "SELECT name, sql FROM sqlite_master WHERE type = 'trigger' AND"
      " (tbl_name = ?1 COLLATE NOCASE OR tbl_name = ?2 COLLATE NOCASE OR tbl_name = ?3 COLLATE NOCASE)");
  stmt->Bind(1, Value::Text(table));
  stmt->Bind(2, Value::Text(table + "_spellings"));
  stmt->Bind(3, Value::Text(table + "_packs"));
  std::set<std::string> found;
  while (stmt->Step()) {
    auto text = [&](int col) {
      const unsigned char* t = sqlite3_column_text(stmt->get(), col);
      return std::string(t != nullptr ? reinterpret_cast<const char*>(t) : "");
    };
    auto it = known.find(text(0));
    if (it == known.end() || it->second != text(1)) return false;
    found.insert(it->first);
  }
  for (const std::string& name : sqlite::InsertTriggerNames(table)) {
    if (found.count(name) == 0) return false;
  }
  return true;
}

class FastTickInserter : public Connection::Inserter {
 public:
  FastTickInserter(Db& db, const std::string& table, const std::string& insert_sql, int symbol_column)
      : db_(db.shared_from_this()), symbol_column_(symbol_column) {
    insert_ = PrepareRaw(insert_sql);
    note_ = PrepareRaw(sqlite::NoteSpellingOfSql(table));
    drop_ = PrepareRaw(sqlite::DropPackOfSql(table));
  }
  ~FastTickInserter() override {
    sqlite3_finalize(insert_);
    sqlite3_finalize(note_);
    sqlite3_finalize(drop_);
  }
  FastTickInserter(const FastTickInserter&) = delete;
  FastTickInserter& operator=(const FastTickInserter&) = delete;

  void Insert(const std::vector<Value>& row) override {
    // Another statement since the last insert may have stored a pack (or
    // ended the transaction): the per-spelling work starts afresh.
    if (db_->uses() != uses_) noted_.clear();
    db_->SuspendTriggers();
    for (size_t i = 0; i < row.size(); ++i) Bind(insert_, static_cast<int>(i + 1), row[i]);
    Run(insert_);
    // What the two insert triggers do for this row, unless done already in
    // this run for the same spelling: nothing since can have stored a pack.
    const Value& symbol = row[static_cast<size_t>(symbol_column_)];
    if (symbol.kind != Value::Kind::kText || noted_.insert(symbol.s).second) {
      Bind(note_, 1, symbol);
      Run(note_);
      Bind(drop_, 1, symbol);
      Run(drop_);
    }
    uses_ = db_->uses();
  }

 private:
  sqlite3_stmt* PrepareRaw(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_->handle(), sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      db_->Fail();
    }
    return stmt;
  }
  void Bind(sqlite3_stmt* stmt, int index, const Value& value) {
    int rc = SQLITE_OK;
    switch (value.kind) {
      case Value::Kind::kNull: rc = sqlite3_bind_null(stmt, index); break;
      case Value::Kind::kInteger: rc = sqlite3_bind_int64(stmt, index, value.i); break;
      case Value::Kind::kFloat: rc = sqlite3_bind_double(stmt, index, value.d); break;
      case Value::Kind::kText:
        // The row outlives the step.
        rc = sqlite3_bind_text(stmt, index, value.s.data(), static_cast<int>(value.s.size()), SQLITE_STATIC);
        break;
    }
    if (rc != SQLITE_OK) db_->Fail();
  }
  void Run(sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) db_->Fail();
  }

  std::shared_ptr<Db> db_;
  int symbol_column_;
  sqlite3_stmt* insert_ = nullptr;
  sqlite3_stmt* note_ = nullptr;  // the spelling trigger's statement
  sqlite3_stmt* drop_ = nullptr;  // the pack trigger's statement
  uint64_t uses_ = 0;
  std::unordered_set<std::string> noted_;  // spellings done in this run
};

std::unique_ptr<Connection::Inserter> PrepareInsertIn(Db& db, const std::string& table,
                                                      const std::vector<std::string>& columns) {
  if (columns.empty()) throw EDBEngineError("No columns to insert into " + table);
  std::string sql = "INSERT INTO " + QuoteTableName(table) + " (";
  std::string values;
  int symbol_column = -1;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) {
      sql += ",";
      values += ",";
    }
    sql += QuoteIdentifier(columns[i]);
    values += "?" + std::to_string(i + 1);
    if (LowerAscii(columns[i]) == "symbol") symbol_column = static_cast<int>(i);
  }
  sql += ") VALUES (" + values + ")";
  if (symbol_column >= 0 && IsDayTableName(LowerAscii(table)) && TriggersKnownIn(db, table)) {
    return std::make_unique<FastTickInserter>(db, table, sql, symbol_column);
  }
  return std::make_unique<SqliteInserter>(db.Prepare(sql));
}

[[noreturn]] void ReadOnlyStore() { throw EDBEngineError("attempt to write a readonly database"); }

// --- One database file ----------------------------------------------------

// The kept results of the file a read-only handle reads, found by the names
// SQLite gives the file and its log, whatever folder the process works in.
std::shared_ptr<ResultCache> ResultsOf(Db& db) {
  const char* file = sqlite3_db_filename(db.handle(), "main");
  if (file == nullptr || *file == '\0') return nullptr;
  return ResultCache::Of(file, sqlite3_filename_wal(file));
}

class FileConnection : public Connection {
 public:
  // `results` null: every statement is run on the file.
  FileConnection(std::shared_ptr<Db> db, std::shared_ptr<ResultCache> results)
      : db_(std::move(db)), results_(std::move(results)) {}

  bool Healthy() override { return true; }

  bool TableExists(const std::string& table) override {
    std::unique_ptr<Stmt> stmt =
        db_->Prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    stmt->Bind(1, Value::Text(table));
    return stmt->Step();
  }

  std::unique_ptr<Cursor> SeekTicks(const std::string& table, std::string_view symbol, bool with_time,
                                    double time) override {
    return SeekTicksIn(*db_, table, symbol, with_time, time);
  }

  std::unique_ptr<Cursor> SeekLastTick(const std::string& table, std::string_view symbol, bool bounded,
                                       double before) override {
    return SeekLastTickIn(*db_, table, symbol, bounded, before);
  }

  int64_t CountRows(const std::string& table, int64_t limit) override {
    return CountRowsIn(*db_, table, limit);
  }

  int64_t LastTickId(const std::string& table) override { return LastTickIdIn(*db_, table); }

  bool ReadPack(const std::string& table, std::string_view symbol, std::string& bytes) override {
    auto read = [&](std::string& out) { return ReadPackIn(*db_, table, symbol, out); };
    if (results_ == nullptr) return read(bytes);  // written, or of a file whose version says nothing
    const char* file = sqlite3_db_filename(db_->handle(), "main");
    return sqlite::ReadFilePack(PackCache::Default(), file, sqlite3_filename_wal(file),
                                PackName(table, symbol), bytes, read);
  }
  std::unique_ptr<Cursor> ScanKeyedTicks(const std::string& table) override {
    return std::make_unique<KeyedCursor>(SeekTicksIn(*db_, table, "", false, 0));
  }
  std::vector<std::string> PackKeys(const std::string& table) override { return PackKeysIn(*db_, table); }
  void ClearPacks(const std::string& table) override { ClearPacksIn(*db_, table); }
  void StorePack(const std::string& table, const std::string& key, std::string_view bytes) override {
    StorePackIn(*db_, table, key, bytes);
  }

  std::vector<std::string> ListDayTables() override {
    std::unique_ptr<Stmt> stmt = db_->Prepare(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'hist______'");
    std::vector<std::string> names;
    while (stmt->Step()) {
      const unsigned char* text = sqlite3_column_text(stmt->get(), 0);
      std::string name = text ? reinterpret_cast<const char*>(text) : "";
      if (IsDayTableName(name, /*any_case=*/true)) names.push_back(std::move(name));
    }
    return names;
  }

  std::unique_ptr<Cursor> Query(const Statement& sql, const std::vector<BoundParam>& params) override {
    if (results_ == nullptr) return QueryIn(*db_, sql, params);
    return results_->Rows(ResultCache::KeyOf(sql, params), [&] { return QueryIn(*db_, sql, params); });
  }

  // The body is SQL text kept in the store's procedures table; every
  // parameter it names that the caller did not give is bound as null.
  std::unique_ptr<Cursor> CallProcedure(const std::string& name, const std::vector<BoundParam>& params) override {
    std::string body;
    {
      std::unique_ptr<Stmt> stmt = db_->Prepare("SELECT body FROM procedures WHERE name = ?1 COLLATE NOCASE");
      stmt->Bind(1, Value::Text(name));
      if (!stmt->Step()) throw EDBEngineError("Stored procedure '" + name + "' not found");
      const unsigned char* text = sqlite3_column_text(stmt->get(), 0);
      body.assign(text != nullptr ? reinterpret_cast<const char*>(text) : "",
                  static_cast<size_t>(sqlite3_column_bytes(stmt->get(), 0)));
    }
    ParsedStatement parsed = ParseNamedParameters(body);
    std::unique_ptr<Stmt> stmt = db_->Prepare(Render(parsed.statement));
    for (size_t i = 0; i < parsed.names.size(); ++i) {
      const BoundParam* given = nullptr;
      for (const BoundParam& p : params) {
        if (rtl::SameText(p.name, parsed.names[i])) given = &p;
      }
      if (given != nullptr) {
        stmt->Bind(static_cast<int>(i + 1), given->value, given->type);
      } else {
        stmt->Bind(static_cast<int>(i + 1), Value::Null());
      }
    }
    return std::make_unique<RowCursor>(std::move(stmt));
  }

  void ExecuteScript(const std::string& sql) override { db_->Exec(sql); }
  void CreateTickTable(const std::string& table) override { CreateTickTableIn(*db_, table); }
  void Begin() override { db_->Exec("BEGIN"); }
  void Commit() override { db_->Exec("COMMIT"); }
  void Rollback() override { db_->Exec("ROLLBACK"); }
  // The statements' shapes choose their plans (checked by tests); statistics
  // would only move them.
  void PrepareToServe(const std::vector<std::string>&) override {}
  std::unique_ptr<Inserter> PrepareInsert(const std::string& table,
                                          const std::vector<std::string>& columns) override {
    return PrepareInsertIn(*db_, table, columns);
  }

 private:
  std::shared_ptr<Db> db_;
  std::shared_ptr<ResultCache> results_;
};

// --- A folder of day-table files --------------------------------------------

class FolderConnection : public Connection {
 public:
  FolderConnection(std::string folder, bool writable) : folder_(std::move(folder)), writable_(writable) {}

  ~FolderConnection() override {
    if (in_transaction_) {
      try {
        Rollback();
      } catch (const EDatabaseError&) {
      }
    }
  }

  bool Healthy() override { return true; }

  // A stat of the table's file: presence opens nothing. The next read of
  // the table takes the file found here rather than looking again.
  bool TableExists(const std::string& table) override {
    if (created_.count(LowerAscii(table)) != 0) return true;
    seen_.table.clear();
    struct stat st;
    if (!IsPlainName(table) || ::stat(PathOf(table).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    seen_ = SeenFile{LowerAscii(table), st};
    return true;
  }

  std::unique_ptr<Cursor> SeekTicks(const std::string& table, std::string_view symbol, bool with_time,
                                    double time) override {
    return SeekTicksIn(*ReadTable(table), table, symbol, with_time, time);
  }

  // A past day's answer is kept while its file is unchanged: the question
  // comes again for every symbol not traded since. Today's bound moves with
  // the clock, so its answers are never asked for twice.
  std::unique_ptr<Cursor> SeekLastTick(const std::string& table, std::string_view symbol, bool bounded,
                                       double before) override {
    ResultCache* results = nullptr;
    std::shared_ptr<Db> db = ReadTable(table, bounded ? nullptr : &results);
    if (results == nullptr) return SeekLastTickIn(*db, table, symbol, bounded, before);
    std::string key = "last tick of ";
    key += symbol;
    return results->Rows(std::move(key), [&] { return SeekLastTickIn(*db, table, symbol, false, 0); });
  }

  int64_t CountRows(const std::string& table, int64_t limit) override {
    return CountRowsIn(*ReadTable(table), table, limit);
  }

  int64_t LastTickId(const std::string& table) override { return LastTickIdIn(*ReadTable(table), table); }

  // A kept pack opens nothing: a day's file is looked at, not read.
  bool ReadPack(const std::string& table, std::string_view symbol, std::string& bytes) override {
    auto read = [&](std::string& out) { return ReadPackIn(*ReadTable(table), table, symbol, out); };
    if (writable_) return read(bytes);
    QuoteTableName(table);
    const std::string path = PathOf(table);
    return sqlite::ReadFilePack(PackCache::Default(), path, path + "-wal", PackName(table, symbol), bytes,
                                read);
  }
  std::unique_ptr<Cursor> ScanKeyedTicks(const std::string& table) override {
    return std::make_unique<KeyedCursor>(SeekTicksIn(*ReadTable(table), table, "", false, 0));
  }
  std::vector<std::string> PackKeys(const std::string& table) override {
    return PackKeysIn(*ReadTable(table), table);
  }
  void ClearPacks(const std::string& table) override {
    if (!writable_) ReadOnlyStore();
    ClearPacksIn(*WriteTable(table), table);
  }
  void StorePack(const std::string& table, const std::string& key, std::string_view bytes) override {
    if (!writable_) ReadOnlyStore();
    StorePackIn(*WriteTable(table), table, key, bytes);
  }

  // The folder is listed again only when it has changed since: its
  // modification time moves whenever a day file comes, goes or is renamed.
  // That time has the grain of the kernel's clock tick, so a listing taken
  // within a second of the folder's last change is not kept: a second
  // change in the same tick would not move it.
  std::vector<std::string> ListDayTables() override {
    os::FileVersion now;
    const bool versioned = os::FolderVersion(folder_, now);
    if (versioned && listing_kept_ && now == listing_version_) return listing_;
    listing_ = ListFolder();
    constexpr int64_t kSecondNs = 1000000000;
    listing_kept_ = versioned && os::FileClockNow() - now.modified_ns > kSecondNs;
    listing_version_ = now;
    return listing_;
  }

  std::vector<std::string> ListFolder() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
      const std::filesystem::path& p = entry.path();
      if (p.extension() != ".db" || !entry.is_regular_file(ec)) continue;
      std::string name = p.stem().string();
      if (IsDayTableName(name, /*any_case=*/true)) names.push_back(std::move(name));
    }
    return names;
  }

  // A statement runs in the file of the day table it names, so that a
  // writer can keep small tables of its own beside a day's rows and commit
  // them with those rows (the live feed keeps its place in its source so).
  std::unique_ptr<Cursor> Query(const Statement& sql, const std::vector<BoundParam>& params) override {
    std::string text;
    for (const std::string& piece : sql.pieces) text += piece;
    return QueryIn(*StatementFile(text), sql, params);
  }
  std::unique_ptr<Cursor> CallProcedure(const std::string& name, const std::vector<BoundParam>&) override {
    throw EDBEngineError("Stored procedure '" + name + "' not found");
  }
  void ExecuteScript(const std::string& sql) override { StatementFile(sql)->Exec(sql); }

  void CreateTickTable(const std::string& table) override {
    if (!writable_) ReadOnlyStore();
    QuoteTableName(table);
    std::string key = LowerAscii(table);
    auto it = writing_.find(key);
    if (it != writing_.end()) {
      CreateTickTableIn(*it->second, table);
      return;
    }
    if (TableExists(table)) {
      std::shared_ptr<Db> db = OpenForWriting(PathOf(table));
      CreateTickTableIn(*db, table);
      if (in_transaction_) db->Exec("BEGIN");
      writing_.emplace(key, db);
      return;
    }
    // A new day is made under a name no reader looks at and takes its own
    // name only once it holds its table (and, in a transaction, its rows):
    // a load that dies on the way leaves no day behind, only a file that
    // the next load of the day replaces.
    const std::string fresh = FreshPathOf(table);
    std::error_code ec;
    std::filesystem::remove(fresh, ec);
    std::filesystem::remove(fresh + "-journal", ec);
    std::shared_ptr<Db> db = OpenForWriting(fresh);
    CreateTickTableIn(*db, table);
    if (in_transaction_) {
      db->Exec("BEGIN");
      created_.insert(key);
      writing_.emplace(key, db);
      return;
    }
    db.reset();
    Publish(table);
    writing_.emplace(key, OpenForWriting(PathOf(table)));
  }

  // A transaction spans every file written while it is open.
  void Begin() override {
    if (!writable_) ReadOnlyStore();
    if (in_transaction_) throw EDBEngineError("cannot start a transaction within a transaction");
    in_transaction_ = true;
    for (auto& [table, db] : writing_) db->Exec("BEGIN");
  }
  void Commit() override { EndTransaction("COMMIT"); }
  void Rollback() override { EndTransaction("ROLLBACK"); }
  void PrepareToServe(const std::vector<std::string>&) override {}

  std::unique_ptr<Inserter> PrepareInsert(const std::string& table,
                                          const std::vector<std::string>& columns) override {
    if (!writable_) ReadOnlyStore();
    return PrepareInsertIn(*WriteTable(table), table, columns);
  }

  // A rollback journal locks readers out of the file from its sync to the
  // end of the commit, and five commits a second at a few milliseconds each
  // make every busy reader wait. A day written live is therefore kept with
  // a write-ahead log: readers read the last commit before theirs while the
  // next one is written, and a commit syncs one file instead of four times.
  // The log stays beside the file until the day closes; it is then copied
  // into the file and emptied. The file keeps that journal mode (leaving it
  // needs every reader gone), which every reader of the file follows.
  void WriteLive(const std::string& table, bool live) override {
    if (!writable_) ReadOnlyStore();
    if (in_transaction_) throw EDBEngineError("cannot change how a day is written within a transaction");
    std::shared_ptr<Db> db = WriteTable(table);
    if (live) {
      db->Exec("PRAGMA journal_mode = WAL");
    } else {
      db->CheckpointAll();
    }
  }

 private:
  struct OpenFile {
    std::string table;
    dev_t dev;
    ino_t ino;
    std::shared_ptr<Db> db;
    std::shared_ptr<ResultCache> results;  // null on a writing connection
  };

  // The file that TableExists found last, for the read that follows it.
  struct SeenFile {
    std::string table;  // empty: none
    struct stat st;
  };

  static bool IsPlainName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
      if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    }
    return true;
  }

  std::string PathOf(const std::string& table) const {
    return (std::filesystem::path(folder_) / (LowerAscii(table) + ".db")).string();
  }

  // The table's file opened for reading (read-only on a reading
  // connection), kept among the last few opened; a file replaced since
  // (another inode) is opened again. `results`, when given, gets the file's
  // kept results, or null where none are kept.
  std::shared_ptr<Db> ReadTable(const std::string& table, ResultCache** results = nullptr) {
    QuoteTableName(table);
    if (results != nullptr) *results = nullptr;
    auto w = writing_.find(LowerAscii(table));
    if (w != writing_.end()) return w->second;
    struct stat st;
    std::string path = PathOf(table);
    if (seen_.table == LowerAscii(table)) {
      st = seen_.st;
      seen_.table.clear();
    } else if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      throw EDBEngineError("Table '" + table + "' does not exist");
    }
    for (auto it = open_.begin(); it != open_.end(); ++it) {
      if (it->table != LowerAscii(table)) continue;
      if (it->dev == st.st_dev && it->ino == st.st_ino) {
        open_.splice(open_.begin(), open_, it);
        if (results != nullptr) *results = open_.front().results.get();
        return open_.front().db;
      }
      open_.erase(it);
      break;
    }
    // A loader's connection reads with write access: a day whose last load
    // was killed keeps a hot journal, which only a writer may roll back.
    std::shared_ptr<Db> db = Db::Open(path, writable_);
    open_.push_front(OpenFile{LowerAscii(table), st.st_dev, st.st_ino, db, writable_ ? nullptr : ResultsOf(*db)});
    if (results != nullptr) *results = open_.front().results.get();
    if (open_.size() > kOpenTableFiles) open_.pop_back();
    return db;
  }

  // The file a statement runs in: written in the open transaction, else
  // only read.
  std::shared_ptr<Db> StatementFile(const std::string& sql) {
    const std::string table = DayTableNamedIn(sql);
    if (table.empty()) throw EDBEngineError("The day-table store " + folder_ + " runs only statements on a day table");
    return writable_ && in_transaction_ ? WriteTable(table) : ReadTable(table);
  }

  // Where a day made in the open transaction lives until it is committed.
  std::string FreshPathOf(const std::string& table) const { return PathOf(table) + ".new"; }

  // The new day's file takes the day's name (a rename: readers see no file
  // or the whole one). A journal or log still lying under that name belongs
  // to a file of the day that was removed: SQLite would take it for the new
  // file's and write the old day's pages into it, so it goes first.
  void Publish(const std::string& table) {
    std::error_code ec;
    const std::string path = PathOf(table);
    if (!std::filesystem::exists(path, ec)) {
      for (const char* suffix : {"-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ec);
    }
    std::filesystem::rename(FreshPathOf(table), path, ec);
    if (ec) throw EDBEngineError("Cannot make " + PathOf(table) + ": " + ec.message());
  }

  std::shared_ptr<Db> OpenForWriting(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    return Db::Open(path, true);
  }

  // The writing handle of an existing table, in the open transaction.
  std::shared_ptr<Db> WriteTable(const std::string& table) {
    auto it = writing_.find(LowerAscii(table));
    if (it != writing_.end()) return it->second;
    QuoteTableName(table);
    if (!TableExists(table)) throw EDBEngineError("Table '" + table + "' does not exist");
    std::shared_ptr<Db> db = OpenForWriting(PathOf(table));
    if (in_transaction_) db->Exec("BEGIN");
    writing_.emplace(LowerAscii(table), db);
    return db;
  }

  void EndTransaction(const char* verb) {
    if (!in_transaction_) throw EDBEngineError("cannot commit - no transaction is active");
    in_transaction_ = false;
    std::string first_error;
    for (auto& [table, db] : writing_) {
      try {
        db->Exec(verb);
      } catch (const EDatabaseError& e) {
        if (first_error.empty()) first_error = e.what();
      }
    }
    // The days made in the transaction take their names when it commits,
    // and go when it is rolled back, so that a day never looks loaded
    // without its rows.
    const bool commit = std::string_view(verb) == "COMMIT" && first_error.empty();
    for (const std::string& table : created_) {
      writing_.erase(table);
      std::error_code ec;
      if (commit) {
        try {
          Publish(table);
        } catch (const EDatabaseError& e) {
          if (first_error.empty()) first_error = e.what();
        }
      } else {
        std::filesystem::remove(FreshPathOf(table), ec);
        std::filesystem::remove(FreshPathOf(table) + "-journal", ec);
      }
    }
    created_.clear();
    // Files no inserter still uses are closed: a load may touch many days.
    for (auto it = writing_.begin(); it != writing_.end();) {
      it = it->second.use_count() == 1 ? writing_.erase(it) : std::next(it);
    }
    if (!first_error.empty()) throw EDBEngineError(first_error);
  }

  std::string folder_;
  bool writable_;
  bool in_transaction_ = false;
  std::list<OpenFile> open_;                          // most recent first
  SeenFile seen_{};
  // The last listing of the folder, kept while the folder is unchanged.
  std::vector<std::string> listing_;
  bool listing_kept_ = false;
  os::FileVersion listing_version_;
  std::map<std::string, std::shared_ptr<Db>> writing_;  // by lower-case table
  std::set<std::string> created_;  // day files made in the open transaction
};

}  // namespace

std::unique_ptr<Connection> ConnectSQLite(const AliasTarget& target, bool writable) {
  if (target.day_tables) {
    if (writable) {
      std::error_code ec;
      std::filesystem::create_directories(target.location, ec);
      if (ec) throw EDBEngineError("Cannot create folder " + target.location + ": " + ec.message());
    } else {
      struct stat st;
      if (::stat(target.location.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        throw EDBEngineError("Day-table folder " + target.location + " does not exist");
      }
    }
    return std::make_unique<FolderConnection>(target.location, writable);
  }
  if (writable) {
    std::filesystem::path parent = std::filesystem::path(target.location).parent_path();
    std::error_code ec;
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  }
  std::shared_ptr<Db> db = Db::Open(target.location, writable);
  std::shared_ptr<ResultCache> results = writable ? nullptr : ResultsOf(*db);
  return std::make_unique<FileConnection>(std::move(db), std::move(results));
}

}  // namespace engine
