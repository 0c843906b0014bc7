// Day tables: opened by name, positioned through the SymbolTime index.
#include "platform/engine/engine.h"

namespace engine {

namespace {

const std::vector<Column>& TickColumns() {
  static const std::vector<Column> columns = {
      {"ID", FieldType::kInteger}, {"Date", FieldType::kDate},      {"Time", FieldType::kTime},
      {"Symbol", FieldType::kString}, {"Bid", FieldType::kFloat},   {"Offer", FieldType::kFloat},
      {"Price", FieldType::kFloat},   {"BidSize", FieldType::kFloat}, {"Volume", FieldType::kFloat},
      {"OfferSize", FieldType::kFloat}};
  return columns;
}

// The cursor of a table just opened: it walks from the first row in index
// order, but only once something reads it. Most opens are followed at once
// by a nearest-key search, which then costs the only statement.
class FromFirstRowCursor : public Cursor {
 public:
  FromFirstRowCursor(Connection& connection, std::string table)
      : connection_(connection), table_(std::move(table)) {}
  const std::vector<Column>& columns() const override { return TickColumns(); }
  bool Next(std::vector<Value>& row) override {
    if (!rows_) rows_ = connection_.SeekTicks(table_, "", false, 0);
    return rows_->Next(row);
  }

 private:
  Connection& connection_;
  std::string table_;
  std::unique_ptr<Cursor> rows_;
};

}  // namespace

bool TTable::Exists() {
  found_.clear();
  if (TableName.empty()) return false;
  Connection& connection = OpenConnection();
  if (!Counted([&] { return connection.TableExists(TableName); })) return false;
  found_ = TableName;
  return true;
}

std::vector<std::string> TTable::DayTableNames() {
  Connection& connection = OpenConnection();
  return Counted([&] { return connection.ListDayTables(); });
}

std::unique_ptr<Cursor> TTable::OpenCursor(Connection& connection) {
  if (TableName.empty()) throw EDatabaseError("Table name is empty");
  const bool found = found_ == TableName;
  found_.clear();
  if (!found && !connection.TableExists(TableName)) {
    throw EDBEngineError("Table '" + TableName + "' does not exist");
  }
  return std::make_unique<FromFirstRowCursor>(connection, TableName);
}

void TTable::FindNearest(std::string_view symbol) {
  CheckActive();
  Connection& connection = OpenConnection();
  ResetCursor(Counted([&] { return connection.SeekTicks(TableName, symbol, false, 0); }));
}

void TTable::FindNearest(std::string_view symbol, double time) {
  CheckActive();
  Connection& connection = OpenConnection();
  ResetCursor(Counted([&] { return connection.SeekTicks(TableName, symbol, true, time); }));
}

bool TTable::FindLast(std::string_view symbol, bool bounded, double before) {
  CheckActive();
  Connection& connection = OpenConnection();
  std::unique_ptr<Cursor> cursor =
      Counted([&] { return connection.SeekLastTick(TableName, symbol, bounded, before); });
  if (!cursor) return false;
  ResetCursor(std::move(cursor));
  return true;
}

int TTable::FindLastOfTables(std::string_view symbol, const LastTickPlanner& planner) {
  last_tables_.clear();
  last_cursors_.clear();
  Connection& connection = OpenConnection();
  std::vector<std::string> tables;
  const LastTickPlanner recorded = [&](const std::vector<std::string>& day_tables) {
    LastTickPlan plan = planner(day_tables);
    tables.clear();
    for (const LastTickProbe& probe : plan.probes) tables.push_back(probe.table);
    return plan;
  };
  std::vector<std::unique_ptr<Cursor>> cursors;
  if (!Counted([&] { return connection.SeekLastTicks(symbol, recorded, cursors); })) return -1;
  if (cursors.size() != tables.size()) throw EDatabaseError("The store answered another plan");
  last_tables_ = std::move(tables);
  last_cursors_ = std::move(cursors);
  return static_cast<int>(last_tables_.size());
}

bool TTable::OpenFoundLast(size_t probe) {
  if (probe >= last_tables_.size()) throw EDatabaseError("No such table searched");
  Close();
  TableName = last_tables_[probe];
  // Found by the search itself: no presence test before the open.
  found_ = TableName;
  Open();
  std::unique_ptr<Cursor> cursor = std::move(last_cursors_[probe]);
  if (!cursor) return false;
  ResetCursor(std::move(cursor));
  return true;
}

int64_t TTable::RecordCount(int64_t limit) {
  CheckActive();
  Connection& connection = OpenConnection();
  return Counted([&] { return connection.CountRows(TableName, limit); });
}

bool TTable::ReadPack(std::string_view symbol, std::string& bytes) {
  if (TableName.empty()) return false;
  Connection& connection = OpenConnection();
  return Counted([&] { return connection.ReadPack(TableName, symbol, bytes); });
}

}  // namespace engine
