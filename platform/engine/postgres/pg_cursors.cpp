#include "platform/engine/postgres/pg_cursors.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <string_view>

#include "platform/engine/errors.h"
#include "platform/engine/postgres/pg_text.h"

namespace engine::pg {
namespace {

std::vector<Column> ColumnsOf(const PGresult* r, int skip = 0) {
  std::vector<Column> columns(std::max(PQnfields(r) - skip, 0));
  for (size_t i = 0; i < columns.size(); ++i) {
    columns[i].name = PQfname(r, static_cast<int>(i) + skip);
    columns[i].type = FieldTypeOfOid(PQftype(r, static_cast<int>(i) + skip));
  }
  return columns;
}

void ReadRow(const PGresult* r, int index, const std::vector<Column>& columns, std::vector<Value>& row,
             int skip = 0) {
  row.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const int c = static_cast<int>(i) + skip;
    if (PQgetisnull(r, index, c)) {
      row[i].SetNull();
    } else {
      ParseField(columns[i].type, std::string_view(PQgetvalue(r, index, c), PQgetlength(r, index, c)), row[i]);
    }
  }
}

}  // namespace

std::string TickScanSql(const std::string& table, int limit, bool keyed) {
  // Rows without a time have no place in the key order and are left out.
  return std::string(keyed ? "SELECT lower(symbol), " : "SELECT ") +
         "id, date, time, symbol, bid, offer, price, bidsize, volume, offersize FROM " +
         QuoteIdent(table) + " WHERE (" + kTickKey +
         ") >= (lower($1::text) COLLATE \"C\", $2::time, $3::integer) AND time IS NOT NULL ORDER BY " +
         kTickKey + " LIMIT " + std::to_string(limit);
}

std::string LastTickSql(const std::string& table, bool bounded, int before_param) {
  const std::string from = " FROM " + QuoteIdent(table) + " WHERE lower(symbol) COLLATE \"C\" = lower($1::text) COLLATE \"C\"";
  // Two searches of the spelling index, one each side of $1's own spelling,
  // made once (OFFSET 0 keeps the planner from copying them into each use).
  const std::string other = "SELECT 1" + from + " AND symbol COLLATE \"C\" ";
  std::string bound = " AND time IS NOT NULL";
  if (bounded) bound = " AND time < $" + std::to_string(before_param) + "::time";
  return "SELECT o.other, r.* FROM (SELECT EXISTS (" + other + "< $1::text) OR EXISTS (" + other +
         "> $1::text) AS other OFFSET 0) AS o LEFT JOIN LATERAL (SELECT id, date, time, symbol, bid, offer, price, "
         "bidsize, volume, offersize" + from + bound +
         " ORDER BY lower(symbol) COLLATE \"C\" DESC, time DESC, id DESC LIMIT 1) AS r ON NOT o.other WHERE o.other OR r.id IS NOT NULL";
}

std::string LastTicksSql(const std::vector<LastTickProbe>& probes, size_t ranges) {
  // The catalogue is read through the index on relname: only the names
  // within the ranges are visited, however many day tables the store holds.
  std::string sql =
      "SELECT v.fresh, r.* FROM (SELECT coalesce(array_agg(DISTINCT c.relname::text COLLATE \"C\" ORDER BY "
      "c.relname::text COLLATE \"C\"), '{}') = $2::text[] AS fresh FROM pg_catalog.pg_class c "
      "JOIN pg_catalog.pg_namespace n ON n.oid = c.relnamespace "
      "WHERE c.relkind IN ('r', 'p', 'v', 'm', 'f') AND c.relname ~ '^hist[0-9]{6}$' "
      "AND n.nspname = ANY (current_schemas(false)) AND (";
  int param = 3;
  for (size_t i = 0; i < ranges; ++i) {
    if (i > 0) sql += " OR ";
    sql += "c.relname BETWEEN $" + std::to_string(param) + "::name AND $" + std::to_string(param + 1) + "::name";
    param += 2;
  }
  if (ranges == 0) sql += "false";
  sql += ")) AS v";
  if (probes.empty()) return sql;
  // Every probe's row comes back, in probe order, so that which one counts
  // never depends on the order in which the server runs the branches.
  sql += " LEFT JOIN LATERAL (";
  for (size_t i = 0; i < probes.size(); ++i) {
    if (i > 0) sql += " UNION ALL ";
    sql += "SELECT " + std::to_string(i) + " AS probe, q.* FROM (" +
           LastTickSql(probes[i].table, probes[i].bounded, probes[i].bounded ? param++ : 0) + ") AS q";
  }
  sql += ") AS r ON v.fresh ORDER BY r.probe";
  return sql;
}

SharedRowCursor::SharedRowCursor(std::shared_ptr<PGresult> result, int row, int skip)
    : result_(std::move(result)), columns_(ColumnsOf(result_.get(), skip)), row_(row), skip_(skip) {
  if (columns_.size() != std::size(kTickColumns)) throw EDBEngineError("Unexpected columns in a tick table");
  for (size_t i = 0; i < columns_.size(); ++i) columns_[i].name = kTickColumns[i];
}

bool SharedRowCursor::Next(std::vector<Value>& row) {
  if (row_ < 0) return false;
  ReadRow(result_.get(), row_, columns_, row, skip_);
  row_ = -1;
  return true;
}

ResultCursor::ResultCursor(Result result) : result_(std::move(result)), columns_(ColumnsOf(result_.get())) {}

ResultCursor::ResultCursor(Result result, int skip)
    : result_(std::move(result)), columns_(ColumnsOf(result_.get(), skip)), skip_(skip) {
  if (columns_.size() != std::size(kTickColumns)) throw EDBEngineError("Unexpected columns in a tick table");
  for (size_t i = 0; i < columns_.size(); ++i) columns_[i].name = kTickColumns[i];
}

bool ResultCursor::Next(std::vector<Value>& row) {
  if (next_ >= PQntuples(result_.get())) return false;
  ReadRow(result_.get(), next_++, columns_, row, skip_);
  return true;
}

TickCursor::TickCursor(Session& session, const std::string& table, const std::string& symbol,
                       const std::string& time, int64_t id, bool keyed)
    : session_(session), table_(table), keyed_(keyed ? 1 : 0) {
  Fetch(symbol, time, id);
  if (PQnfields(result_.get()) != static_cast<int>(std::size(kTickColumns)) + keyed_) {
    throw EDBEngineError("Unexpected columns in a tick table");
  }
  columns_ = ColumnsOf(result_.get());
  // The engine finds tick columns by their own names, whatever case the
  // table was created with.
  if (keyed_) columns_[0].name = "Key";
  for (size_t i = 0; i < std::size(kTickColumns); ++i) columns_[i + keyed_].name = kTickColumns[i];
}

void TickCursor::Fetch(const std::string& symbol, const std::string& time, int64_t id) {
  const std::string id_text = std::to_string(id);
  const int limit = result_ ? kTickBatch : kTickFirstBatch;
  result_ = session_.Run(TickScanSql(table_, limit, keyed_ != 0), {symbol.c_str(), time.c_str(), id_text.c_str()});
  batch_ = limit;
  next_ = 0;
}

bool TickCursor::Next(std::vector<Value>& row) {
  const PGresult* r = result_.get();
  const int rows = PQntuples(r);
  if (next_ >= rows) {
    if (rows < batch_) return false;
    // Resume just past the last row: same symbol and time, the next id.
    // Symbol and time are the server's own texts, so the key compares
    // exactly as the rows do.
    const int last = rows - 1;
    const char* id_text = PQgetvalue(r, last, keyed_);
    int64_t id = 0;
    const char* id_end = id_text + PQgetlength(r, last, keyed_);
    if (std::from_chars(id_text, id_end, id).ptr != id_end) throw EDBEngineError("Unexpected tick row id");
    const std::string symbol = PQgetvalue(r, last, 3 + keyed_);
    const std::string time = PQgetvalue(r, last, 2 + keyed_);
    Fetch(symbol, time, id + 1);
    r = result_.get();
    if (PQntuples(r) == 0) return false;
  }
  ReadRow(r, next_++, columns_, row);
  return true;
}

}  // namespace engine::pg
