#include "platform/engine/postgres/pg_cursors.h"

#include <charconv>
#include <iterator>
#include <string_view>

#include "platform/engine/errors.h"
#include "platform/engine/postgres/pg_text.h"

namespace engine::pg {
namespace {

std::vector<Column> ColumnsOf(const PGresult* r) {
  std::vector<Column> columns(PQnfields(r));
  for (size_t i = 0; i < columns.size(); ++i) {
    columns[i].name = PQfname(r, static_cast<int>(i));
    columns[i].type = FieldTypeOfOid(PQftype(r, static_cast<int>(i)));
  }
  return columns;
}

void ReadRow(const PGresult* r, int index, const std::vector<Column>& columns, std::vector<Value>& row) {
  row.resize(columns.size());
  for (size_t i = 0; i < columns.size(); ++i) {
    const int c = static_cast<int>(i);
    if (PQgetisnull(r, index, c)) {
      row[i].SetNull();
    } else {
      ParseField(columns[i].type, std::string_view(PQgetvalue(r, index, c), PQgetlength(r, index, c)), row[i]);
    }
  }
}

}  // namespace

std::string TickScanSql(const std::string& table, int limit) {
  // Rows without a time have no place in the key order and are left out.
  return std::string("SELECT id, date, time, symbol, bid, offer, price, bidsize, volume, offersize FROM ") +
         QuoteIdent(table) + " WHERE (" + kTickKey +
         ") >= (lower($1::text) COLLATE \"C\", $2::time, $3::integer) AND time IS NOT NULL ORDER BY " +
         kTickKey + " LIMIT " + std::to_string(limit);
}

ResultCursor::ResultCursor(Result result) : result_(std::move(result)), columns_(ColumnsOf(result_.get())) {}

bool ResultCursor::Next(std::vector<Value>& row) {
  if (next_ >= PQntuples(result_.get())) return false;
  ReadRow(result_.get(), next_++, columns_, row);
  return true;
}

TickCursor::TickCursor(Session& session, const std::string& table, const std::string& symbol,
                       const std::string& time, int64_t id)
    : session_(session), table_(table) {
  Fetch(symbol, time, id);
  if (PQnfields(result_.get()) != static_cast<int>(std::size(kTickColumns))) {
    throw EDBEngineError("Unexpected columns in a tick table");
  }
  columns_ = ColumnsOf(result_.get());
  // The engine finds tick columns by their own names, whatever case the
  // table was created with.
  for (size_t i = 0; i < columns_.size(); ++i) columns_[i].name = kTickColumns[i];
}

void TickCursor::Fetch(const std::string& symbol, const std::string& time, int64_t id) {
  const std::string id_text = std::to_string(id);
  const int limit = result_ ? kTickBatch : kTickFirstBatch;
  result_ = session_.Run(TickScanSql(table_, limit), {symbol.c_str(), time.c_str(), id_text.c_str()});
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
    const char* id_text = PQgetvalue(r, last, 0);
    int64_t id = 0;
    const char* id_end = id_text + PQgetlength(r, last, 0);
    if (std::from_chars(id_text, id_end, id).ptr != id_end) throw EDBEngineError("Unexpected tick row id");
    const std::string symbol = PQgetvalue(r, last, 3);
    const std::string time = PQgetvalue(r, last, 2);
    Fetch(symbol, time, id + 1);
    r = result_.get();
    if (PQntuples(r) == 0) return false;
  }
  ReadRow(r, next_++, columns_, row);
  return true;
}

}  // namespace engine::pg
