// One SQLite database handle with its cache of prepared statements, and the
// cursor over a statement's rows. Shared by the single-file store and the
// folder of day-table files.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_SQLITE_DB_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_SQLITE_DB_H_

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/engine/driver.h"

namespace engine::sqlite {

class Db;

// A prepared statement borrowed from a Db: reset and given back to the
// cache (or finalized) when the lease ends. Holds the Db alive.
class Stmt {
 public:
  Stmt(std::shared_ptr<Db> db, sqlite3_stmt* stmt, bool* in_use);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  sqlite3_stmt* get() const { return stmt_; }
  Db& db() const { return *db_; }
  // Binds `value` to placeholder `index` (from 1); a date-time parameter
  // goes as REAL.
  void Bind(int index, const Value& value, FieldType type = FieldType::kUnknown);
  // One step: true for a row, false when done; raises on failure.
  bool Step();

 private:
  std::shared_ptr<Db> db_;
  sqlite3_stmt* stmt_;
  bool* in_use_;  // the cache slot, or null for a statement of its own
};

class Db : public std::enable_shared_from_this<Db> {
 public:
  // Opens `path`: read-only, or read-write creating it when missing.
  static std::shared_ptr<Db> Open(const std::string& path, bool writable);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  sqlite3* handle() const { return db_; }
  bool writable() const { return writable_; }
  // The cached statement for `sql`, or a new one when it is in use.
  std::unique_ptr<Stmt> Prepare(const std::string& sql);
  void Exec(const std::string& sql);
  [[noreturn]] void Fail() const;
  // A file kept with a write-ahead log: copies every commit in the log into
  // the file and empties the log. Gives up quietly when readers still read
  // from the log after the busy wait (nothing is lost: they and later
  // readers read the log).
  void CheckpointAll();
  // After a read-only handle's statement failed on a hot journal: rolls the
  // journal back through a writing handle of its own; true when it did, and
  // the statement may be tried again.
  bool RollBackHotJournal();

  // --- Writer side: the tick inserter's window without triggers -----------
  // A writer that does exactly what a table's triggers would do itself, once
  // per batch instead of once per row (FastTickInserter, sqlite_driver.cpp),
  // runs its own statements with the handle's triggers off. Every other
  // statement of the handle (Prepare, Exec, Step) first turns them on
  // again, so nothing else ever runs without them. Each switch expires the
  // handle's prepared statements, which SQLite prepares again at their next
  // step.
  void SuspendTriggers();
  void ResumeTriggers();
  // Counts the statements run through Prepare, Exec and Step: a writer that
  // keeps state about the store between its own statements (what it has
  // already done for a batch) drops it when another statement ran since.
  uint64_t uses() const { return uses_; }
  void Used() {
    ++uses_;
    if (triggers_suspended_) ResumeTriggers();
  }

 private:
  Db(sqlite3* db, bool writable) : db_(db), writable_(writable) {}
  bool triggers_suspended_ = false;
  uint64_t uses_ = 0;
  // When the handle's current wait for a lock began (BusyWait).
  int64_t busy_since_us_ = 0;
  static int BusyWait(void* db, int count);
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool in_use = false;
  };
  sqlite3* db_;
  bool writable_;
  std::unordered_map<std::string, std::unique_ptr<Cached>> cache_;
};

// Rows of a statement. The first row is read at once, so that a failing
// statement fails when it is run and the columns of expressions get their
// type from their first value.
class RowCursor : public Cursor {
 public:
  explicit RowCursor(std::unique_ptr<Stmt> stmt);
  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(std::vector<Value>& row) override;
  // Whether the statement gave a row not yet taken by Next. While it has,
  // the statement holds its read transaction open.
  bool HasRow() const { return has_row_; }

 private:
  void Read(std::vector<Value>& row) const;
  std::unique_ptr<Stmt> stmt_;
  std::vector<Column> columns_;
  bool has_row_ = false;  // a row is waiting on the statement
  bool first_ = true;     // it is the first row, already stepped to
};

// The declared column type as the engine's field type; kUnknown when the
// declaration names none it knows.
FieldType TypeOfDeclared(const char* decltype_text);

// `name` quoted as an SQL identifier. Raises for names that are not plain
// identifiers (letters, digits, "_").
std::string QuoteTableName(const std::string& name);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_SQLITE_DB_H_
