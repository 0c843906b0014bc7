// Cursors over PostgreSQL results. Values arrive as text and are converted
// to the field types of their columns as each row is read.
#ifndef HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_CURSORS_H_
#define HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_CURSORS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/engine/driver.h"
#include "platform/engine/postgres/pg_session.h"

namespace engine::pg {

// The key expression of a tick table's SymbolTime index. "C" compares
// bytes, so the order does not depend on the server's locale.
inline constexpr const char* kTickKey = "lower(symbol) COLLATE \"C\", time, id";
// The key of the index that finds every spelling of a symbol at once.
inline constexpr const char* kSpellingKey = "lower(symbol) COLLATE \"C\", symbol COLLATE \"C\"";

// Rows per batch of a tick scan. A scan reads one symbol and stops at the
// first row past it, so whatever the last batch holds beyond the symbol is
// wasted: the first batch is small, for the many symbols with few ticks a
// day, and the later ones larger, for the few with many.
inline constexpr int kTickFirstBatch = 128;
inline constexpr int kTickBatch = 1024;

// The statement of one batch of a tick scan of `table`: at most `limit`
// rows in index order from the key ($1 symbol, $2 time, $3 id).
std::string TickScanSql(const std::string& table, int limit, bool keyed = false);

// The statement of a tick table's last row ($1 symbol; $2 time, when
// `bounded`, which the row's time is before), read from the far end of the
// symbol's group. Its first column tells whether the group holds another
// spelling of $1, in which case no row is read; then come the tick columns.
// No row at all: the group holds no row before $2.
// The time bound is $`before_param` instead of $2.
std::string LastTickSql(const std::string& table, bool bounded, int before_param = 2);

// The statement of a search over several day tables at once
// (Connection::SeekLastTicks). $1 is the symbol; $2 the names of the day
// tables expected within the `ranges` covered name ranges, as a text array
// in byte order; then the two ends of each range; then the time bound of
// each bounded probe, in probe order. The first column tells whether the
// store's day tables within the ranges are those expected; only then do
// rows of the probes follow, one for each probe whose LastTickSql gives a
// row: its number from 0, then LastTickSql's columns. When no probe gives
// a row, or the tables are not those expected, one row whose other columns
// are null.
std::string LastTicksSql(const std::vector<LastTickProbe>& probes, size_t ranges);

// The rows of one result held whole: statements and procedures, whose
// results are a day's bars or a range of daily prices at most.
class ResultCursor : public Cursor {
 public:
  explicit ResultCursor(Result result);
  // The tick columns of a result whose first `skip` columns are something
  // else, named as the engine names them.
  ResultCursor(Result result, int skip);
  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(std::vector<Value>& row) override;

 private:
  Result result_;
  std::vector<Column> columns_;
  int skip_ = 0;
  int next_ = 0;
};

// One row of a result shared with other cursors: the tick columns from
// column `skip` on, named as the engine names them.
class SharedRowCursor : public Cursor {
 public:
  SharedRowCursor(std::shared_ptr<PGresult> result, int row, int skip);
  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(std::vector<Value>& row) override;

 private:
  std::shared_ptr<PGresult> result_;
  std::vector<Column> columns_;
  int row_;  // -1 once read
  int skip_;
};

// The rows of a tick table in SymbolTime order from a key. A day table can
// hold hundreds of thousands of rows while a scan usually stops after one
// symbol's, so rows come in batches, each batch an index walk that resumes
// just past the last row read. No server state stays open between batches:
// other statements may run on the connection meanwhile.
class TickCursor : public Cursor {
 public:
  // Reads the rows of `table` from the key; runs the first batch.
  // With `keyed`, each row starts with its key, lower(symbol), before the
  // tick columns.
  TickCursor(Session& session, const std::string& table, const std::string& symbol, const std::string& time,
             int64_t id, bool keyed = false);
  const std::vector<Column>& columns() const override { return columns_; }
  bool Next(std::vector<Value>& row) override;

 private:
  void Fetch(const std::string& symbol, const std::string& time, int64_t id);

  Session& session_;
  const std::string table_;
  const int keyed_;  // 1 when a key column comes first
  int batch_ = 0;  // the limit of the batch in result_
  Result result_;
  std::vector<Column> columns_;
  int next_ = 0;
};

}  // namespace engine::pg

#endif  // HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_CURSORS_H_
