#include "platform/engine/sqlite/sqlite_db.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/engine/errors.h"
#include "platform/engine/sqlite/paced_vfs.h"
#include "platform/rtl/datetime.h"

namespace engine::sqlite {

namespace {

// Statements kept prepared per handle; beyond this, statements are
// finalized after use (a store seldom runs more distinct statements).
constexpr size_t kMaxCachedStatements = 64;
constexpr int kBusyTimeoutMs = 5000;

bool IsDateType(FieldType t) {
  return t == FieldType::kDate || t == FieldType::kTime || t == FieldType::kDateTime;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

int Digits(const char*& p, const char* end, int count) {
  int v = 0;
  for (int i = 0; i < count; ++i) {
    if (p >= end || *p < '0' || *p > '9') return -1;
    v = v * 10 + (*p++ - '0');
  }
  return v;
}

// Date and time columns hold REAL values; stores filled by other means may
// hold ISO texts ("2003-07-04", "09:30:00.250", or both), read here as the
// same date-time values. Anything else stays text.
bool IsoToDateTime(const char* p, size_t size, double& out) {
  const char* end = p + size;
  double date = 0, time = 0;
  bool any = false;
  if (size >= 10 && p[4] == '-' && p[7] == '-') {
    int y = Digits(p, end, 4);
    ++p;
    int m = Digits(p, end, 2);
    ++p;
    int d = Digits(p, end, 2);
    if (y < 0 || m < 0 || d < 0 || !rtl::TryEncodeDate(y, m, d, date)) return false;
    any = true;
    if (p < end && (*p == ' ' || *p == 'T')) ++p;
  }
  if (p < end) {
    int h = Digits(p, end, 2);
    if (p >= end || *p++ != ':') return false;
    int n = Digits(p, end, 2);
    int s = 0, ms = 0;
    if (p < end && *p == ':') {
      ++p;
      s = Digits(p, end, 2);
      if (p < end && *p == '.') {
        ++p;
        ms = Digits(p, end, 3);
      }
    }
    if (p != end || h < 0 || n < 0 || s < 0 || ms < 0 || !rtl::TryEncodeTime(h, n, s, ms, time)) return false;
    any = true;
  }
  // Before the epoch the whole part counts back and the time of day still
  // counts forward from midnight.
  out = date < 0 ? date - time : date + time;
  return any;
}

}  // namespace

// --- Stmt -------------------------------------------------------------------

Stmt::Stmt(std::shared_ptr<Db> db, sqlite3_stmt* stmt, bool* in_use)
    : db_(std::move(db)), stmt_(stmt), in_use_(in_use) {}

Stmt::~Stmt() {
  if (in_use_ != nullptr) {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    *in_use_ = false;
  } else {
    sqlite3_finalize(stmt_);
  }
}

void Stmt::Bind(int index, const Value& value, FieldType type) {
  int rc = SQLITE_OK;
  switch (value.kind) {
    case Value::Kind::kNull:
      rc = sqlite3_bind_null(stmt_, index);
      break;
    case Value::Kind::kInteger:
      rc = IsDateType(type) ? sqlite3_bind_double(stmt_, index, static_cast<double>(value.i))
                            : sqlite3_bind_int64(stmt_, index, value.i);
      break;
    case Value::Kind::kFloat:
      rc = sqlite3_bind_double(stmt_, index, value.d);
      break;
    case Value::Kind::kText:
      rc = sqlite3_bind_text(stmt_, index, value.s.data(), static_cast<int>(value.s.size()), SQLITE_TRANSIENT);
      break;
  }
  if (rc != SQLITE_OK) db_->Fail();
}

bool Stmt::Step() {
  db_->Used();
  int rc = sqlite3_step(stmt_);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE && db_->RollBackHotJournal()) {
    // It failed taking its lock, before any row: it can start again.
    sqlite3_reset(stmt_);
    rc = sqlite3_step(stmt_);
  }
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_->Fail();
}

// --- Db ---------------------------------------------------------------------

std::shared_ptr<Db> Db::Open(const std::string& path, bool writable) {
  sqlite3* handle = nullptr;
  int flags = SQLITE_OPEN_NOMUTEX | (writable ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY);
  // Writers go through the file layer that lets a paced writer step aside
  // (engine/pacing.h); readers, the server's, have no use for it.
  int rc = sqlite3_open_v2(path.c_str(), &handle, flags, writable ? PacedVfsName() : nullptr);
  if (rc != SQLITE_OK) {
    std::string message = handle != nullptr ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    sqlite3_close(handle);
    throw EDBEngineError(message + ": " + path);
  }
  sqlite3_extended_result_codes(handle, 0);
  // A writer's transaction touches a page of the table per symbol and the
  // index pages above them; with SQLite's default 2 MB cache a batch of
  // many symbols spills and reads the same pages again and again. The
  // cache grows only as pages are used.
  if (writable) sqlite3_exec(handle, "PRAGMA cache_size = -32768", nullptr, nullptr, nullptr);
  // In a file kept with a write-ahead log (a day written live), a commit
  // copies the log into the file once the log holds this many pages. A
  // batch of many symbols touches a leaf page per symbol and more (some
  // 1,500 pages for 10,000 ticks of 200 symbols), and the same pages again
  // at the next batch: copying after every batch, as SQLite's default of
  // 1,000 pages would, writes each page twice per batch. 10,000 pages
  // (40 MB) copy about once in seven batches. No effect on other files.
  if (writable) sqlite3_exec(handle, "PRAGMA wal_autocheckpoint = 10000", nullptr, nullptr, nullptr);
  std::shared_ptr<Db> db(new Db(handle, writable));
  sqlite3_busy_handler(handle, &Db::BusyWait, db.get());
  return db;
}

// A rollback-journal file locks readers out while a writer commits (from
// the journal's sync to the end of the file's), a few milliseconds. SQLite's
// own busy timeout sleeps 1, 2, 5, 10, 15, 20, 25 ms and so on between
// tries, so a reader that meets a 3 ms commit waits 8 ms, and a writer
// waiting for readers to leave holds off new ones while it sleeps. Here
// both try again after 50 us, growing by half up to 2 ms, with the same
// overall limit as before (kBusyTimeoutMs), then give up with SQLITE_BUSY.
int Db::BusyWait(void* arg, int count) {
  Db* db = static_cast<Db*>(arg);
  const int64_t now =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  if (count == 0) db->busy_since_us_ = now;
  if (now - db->busy_since_us_ >= int64_t{kBusyTimeoutMs} * 1000) return 0;
  int64_t wait_us = 50;
  for (int i = 0; i < count && wait_us < 2000; ++i) wait_us += wait_us / 2;
  std::this_thread::sleep_for(std::chrono::microseconds(std::min<int64_t>(wait_us, 2000)));
  return 1;
}

// A writer killed in a transaction leaves a hot journal beside the file:
// the pages as they were before it. The next handle that reads must put
// them back first, which a read-only handle may not do, so it fails and
// keeps failing until a writer comes by. Such a handle opens the file for
// writing once, for as long as SQLite takes to roll the journal back (its
// first read does it, under SQLite's own locks), and then reads as before.
// Where this process may not write the file, the error stands.
bool Db::RollBackHotJournal() {
  if (writable_ || sqlite3_extended_errcode(db_) != SQLITE_READONLY_ROLLBACK) return false;
  const char* path = sqlite3_db_filename(db_, "main");
  if (path == nullptr || *path == '\0') return false;
  sqlite3* writer = nullptr;
  bool rolled_back = false;
  if (sqlite3_open_v2(path, &writer, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(writer, kBusyTimeoutMs);
    rolled_back = sqlite3_exec(writer, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  sqlite3_close(writer);
  return rolled_back;
}

void Db::CheckpointAll() {
  const int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
  if (rc != SQLITE_OK && rc != SQLITE_BUSY) Fail();
}

void Db::SuspendTriggers() {
  if (triggers_suspended_) return;
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  triggers_suspended_ = true;
}

void Db::ResumeTriggers() {
  if (!triggers_suspended_) return;
  sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 1, nullptr);
  triggers_suspended_ = false;
}

Db::~Db() {
  for (auto& [sql, cached] : cache_) sqlite3_finalize(cached->stmt);
  sqlite3_close(db_);
}

void Db::Fail() const { throw EDBEngineError(sqlite3_errmsg(db_)); }

std::unique_ptr<Stmt> Db::Prepare(const std::string& sql) {
  Used();
  auto it = cache_.find(sql);
  if (it != cache_.end() && !it->second->in_use) {
    it->second->in_use = true;
    return std::make_unique<Stmt>(shared_from_this(), it->second->stmt, &it->second->in_use);
  }
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
  if (rc != SQLITE_OK && RollBackHotJournal()) {
    rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr);
  }
  if (rc != SQLITE_OK) Fail();
  if (stmt == nullptr) throw EDBEngineError("No SQL statement in \"" + sql + "\"");
  if (it == cache_.end() && cache_.size() < kMaxCachedStatements) {
    auto cached = std::make_unique<Cached>();
    cached->stmt = stmt;
    cached->in_use = true;
    bool* in_use = &cached->in_use;
    cache_.emplace(sql, std::move(cached));
    return std::make_unique<Stmt>(shared_from_this(), stmt, in_use);
  }
  return std::make_unique<Stmt>(shared_from_this(), stmt, nullptr);
}

void Db::Exec(const std::string& sql) {
  Used();
  char* error = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw EDBEngineError(message);
  }
}

// --- RowCursor -----------------------------------------------------------

FieldType TypeOfDeclared(const char* decltype_text) {
  if (decltype_text == nullptr) return FieldType::kUnknown;
  std::string t;
  for (const char* p = decltype_text; *p != '\0'; ++p) {
    char c = *p;
    t += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (t.find("DATETIME") != std::string::npos || t.find("TIMESTAMP") != std::string::npos) {
    return FieldType::kDateTime;
  }
  if (StartsWith(t, "DATE")) return FieldType::kDate;
  if (StartsWith(t, "TIME")) return FieldType::kTime;
  if (t.find("INT") != std::string::npos) return FieldType::kInteger;
  if (t.find("CHAR") != std::string::npos || t.find("TEXT") != std::string::npos ||
      t.find("CLOB") != std::string::npos) {
    return FieldType::kString;
  }
  if (t.find("REAL") != std::string::npos || t.find("FLOA") != std::string::npos ||
      t.find("DOUB") != std::string::npos || t.find("NUM") != std::string::npos ||
      t.find("DEC") != std::string::npos) {
    return FieldType::kFloat;
  }
  return FieldType::kUnknown;
}

std::string QuoteTableName(const std::string& name) {
  bool plain = !name.empty();
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) plain = false;
  }
  if (!plain) throw EDBEngineError("Invalid table name '" + name + "'");
  return "\"" + name + "\"";
}

RowCursor::RowCursor(std::unique_ptr<Stmt> stmt) : stmt_(std::move(stmt)) {
  has_row_ = stmt_->Step();
  sqlite3_stmt* s = stmt_->get();
  int n = sqlite3_column_count(s);
  columns_.resize(n);
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(s, i);
    columns_[i].name = name != nullptr ? name : "";
    FieldType type = TypeOfDeclared(sqlite3_column_decltype(s, i));
    if (type == FieldType::kUnknown && has_row_) {
      switch (sqlite3_column_type(s, i)) {
        case SQLITE_INTEGER: type = FieldType::kInteger; break;
        case SQLITE_FLOAT: type = FieldType::kFloat; break;
        case SQLITE_TEXT: type = FieldType::kString; break;
        default: break;
      }
    }
    columns_[i].type = type;
  }
}

bool RowCursor::Next(std::vector<Value>& row) {
  if (!has_row_) return false;
  if (!first_) {
    has_row_ = stmt_->Step();
    if (!has_row_) return false;
  }
  first_ = false;
  Read(row);
  return true;
}

void RowCursor::Read(std::vector<Value>& row) const {
  sqlite3_stmt* s = stmt_->get();
  row.resize(columns_.size());
  for (size_t i = 0; i < columns_.size(); ++i) {
    Value& v = row[i];
    int col = static_cast<int>(i);
    bool date = IsDateType(columns_[i].type);
    // One look-up of the column serves its type and its content: each
    // sqlite3_column_* call finds the column and takes the connection's
    // mutex again, and a scan reads ten columns of every row. The value is
    // only read here, on the thread that owns the statement, before the
    // next step.
    sqlite3_value* cell = sqlite3_column_value(s, col);
    switch (sqlite3_value_type(cell)) {
      case SQLITE_NULL:
        v.SetNull();
        break;
      case SQLITE_INTEGER:
        if (date) {
          v.SetFloat(static_cast<double>(sqlite3_value_int64(cell)));
        } else {
          v.SetInt(sqlite3_value_int64(cell));
        }
        break;
      case SQLITE_FLOAT:
        v.SetFloat(sqlite3_value_double(cell));
        break;
      default: {
        const char* text = reinterpret_cast<const char*>(sqlite3_value_text(cell));
        size_t size = static_cast<size_t>(sqlite3_value_bytes(cell));
        double d = 0;
        if (date && IsoToDateTime(text, size, d)) {
          v.SetFloat(d);
        } else {
          v.kind = Value::Kind::kText;
          v.s.assign(text != nullptr ? text : "", size);
        }
        break;
      }
    }
  }
}

}  // namespace engine::sqlite
