#include "platform/engine/tick_packer.h"

#include <set>

#include "platform/engine/errors.h"
#include "platform/engine/tick_pack.h"

namespace engine {
namespace {

// Calls `each(key, pack)` for every key of `table` in index order, with the
// key's fresh pack (empty when it cannot be packed).
template <class Each>
void ForEachKey(Connection& connection, const std::string& table, PackCounts& counts, Each&& each) {
  std::unique_ptr<Cursor> rows = connection.ScanKeyedTicks(table);
  TickPackBuilder builder;
  std::vector<Value> row;
  std::string key;
  bool any = false;
  auto finish = [&] {
    if (!any) return;
    ++counts.keys;
    each(key, builder.Finish());
  };
  while (rows->Next(row)) {
    if (row.size() != 11) throw EDBEngineError("Unexpected columns in a tick table");
    if (!any || row[0].s != key) {
      finish();
      key = row[0].s;
      any = true;
    }
    builder.Add(row.data() + 1);
    ++counts.rows;
  }
  finish();
}

}  // namespace

PackCounts PackDayTable(Connection& connection, const std::string& table) {
  PackCounts counts;
  connection.ClearPacks(table);
  ForEachKey(connection, table, counts, [&](const std::string& key, const std::string& pack) {
    if (pack.empty()) return;
    connection.StorePack(table, key, pack);
    ++counts.packed;
    counts.bytes += static_cast<int64_t>(pack.size());
  });
  return counts;
}

PackCheck CheckDayTablePacks(Connection& connection, const std::string& table) {
  PackCheck check;
  std::set<std::string> keys;
  std::string stored;
  ForEachKey(connection, table, check.counts, [&](const std::string& key, const std::string& pack) {
    keys.insert(key);
    if (!connection.ReadPack(table, key, stored)) return;
    ++check.counts.packed;
    check.counts.bytes += static_cast<int64_t>(stored.size());
    if (pack.empty()) {
      check.problems.push_back(table + " " + key + ": a pack for rows that cannot be packed");
    } else if (stored != pack) {
      check.problems.push_back(table + " " + key + ": the pack differs from its rows");
    }
  });
  for (const std::string& key : connection.PackKeys(table)) {
    if (keys.count(key) == 0) check.problems.push_back(table + " " + key + ": a pack without rows");
  }
  return check;
}

}  // namespace engine
