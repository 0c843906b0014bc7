#include "tools/feed_position.h"

#include "platform/engine/errors.h"

namespace admin {
namespace {

// Whole numbers as 64-bit integers in both drivers; the file identity is
// kept bit for bit in signed columns.
std::string CreateSql(const std::string& table) {
  return "CREATE TABLE IF NOT EXISTS " + table +
         " (source varchar(1000) PRIMARY KEY, batch bigint NOT NULL, seq bigint NOT NULL,"
         " file_volume bigint NOT NULL, file_id bigint NOT NULL, file_offset bigint NOT NULL,"
         " file_line bigint NOT NULL, ticks bigint NOT NULL, rejects bigint NOT NULL)";
}

engine::BoundParam Int(const char* name, int64_t v) {
  return {name, engine::FieldType::kInteger, engine::Value::Int(v)};
}

}  // namespace

std::string PositionTableOf(const std::string& day_table) { return day_table + "_feed"; }

void WritePosition(engine::Connection& connection, const std::string& day_table,
                   const std::string& source, const CommittedPosition& p) {
  const std::string table = PositionTableOf(day_table);
  connection.ExecuteScript(CreateSql(table));
  engine::Statement sql;
  sql.pieces = {"INSERT INTO " + table +
                    " (source, batch, seq, file_volume, file_id, file_offset, file_line, ticks, rejects)"
                    " VALUES (",
                ", ", ", ", ", ", ", ", ", ", ", ", ", ", ", ",
                ") ON CONFLICT (source) DO UPDATE SET batch = excluded.batch, seq = excluded.seq,"
                " file_volume = excluded.file_volume, file_id = excluded.file_id,"
                " file_offset = excluded.file_offset, file_line = excluded.file_line,"
                " ticks = excluded.ticks, rejects = excluded.rejects"};
  const std::vector<engine::BoundParam> params = {
      {"source", engine::FieldType::kString, engine::Value::Text(source)},
      Int("batch", p.batch),
      Int("seq", p.source.seq),
      Int("file_volume", static_cast<int64_t>(p.source.file.volume)),
      Int("file_id", static_cast<int64_t>(p.source.file.file)),
      Int("file_offset", p.source.offset),
      Int("file_line", p.source.line),
      Int("ticks", p.ticks),
      Int("rejects", p.rejects)};
  auto cursor = connection.Query(sql, params);
  std::vector<engine::Value> row;
  cursor->Next(row);
}

std::optional<CommittedPosition> ReadPosition(engine::Connection& connection,
                                              const std::string& day_table,
                                              const std::string& source) {
  engine::Statement sql;
  sql.pieces = {"SELECT batch, seq, file_volume, file_id, file_offset, file_line, ticks, rejects FROM " +
                    PositionTableOf(day_table) + " WHERE source = ",
                ""};
  std::unique_ptr<engine::Cursor> cursor;
  try {
    cursor = connection.Query(sql, {{"source", engine::FieldType::kString, engine::Value::Text(source)}});
  } catch (const engine::EDatabaseError& e) {
    // A day without the table holds no position (a day no feed wrote, or
    // one whose first commit never took its name). Any other failure is
    // passed on: taking it for "no position" could resume from an older
    // one and load ticks twice.
    if (!connection.TableExists(day_table)) return std::nullopt;
    const std::string message = e.what();
    const bool no_table = message.find(PositionTableOf(day_table)) != std::string::npos &&
                          (message.find("no such table") != std::string::npos ||
                           message.find("does not exist") != std::string::npos);
    if (!no_table) throw;
    return std::nullopt;
  }
  std::vector<engine::Value> row;
  if (!cursor->Next(row)) return std::nullopt;
  auto whole = [&](size_t i) {
    return row[i].kind == engine::Value::Kind::kFloat ? static_cast<int64_t>(row[i].d) : row[i].i;
  };
  CommittedPosition p;
  p.batch = whole(0);
  p.source.seq = whole(1);
  p.source.file.volume = static_cast<uint64_t>(whole(2));
  p.source.file.file = static_cast<uint64_t>(whole(3));
  p.source.offset = whole(4);
  p.source.line = whole(5);
  p.ticks = whole(6);
  p.rejects = whole(7);
  return p;
}

std::optional<CommittedPosition> ReadNewestPosition(engine::Connection& connection,
                                                    const std::string& source, std::string* day_table) {
  std::optional<CommittedPosition> newest;
  for (const std::string& table : connection.ListDayTables()) {
    std::optional<CommittedPosition> p = ReadPosition(connection, table, source);
    if (p && (!newest || p->batch > newest->batch)) {
      newest = p;
      if (day_table != nullptr) *day_table = table;
    }
  }
  return newest;
}

}  // namespace admin
