#include "tools/tick_tables.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"

namespace admin {
namespace {

engine::Statement Plain(std::string sql) {
  engine::Statement statement;
  statement.pieces.push_back(std::move(sql));
  return statement;
}

// Whether a table's day lies in [first, last], by its name: a name stands
// for days a century apart, so a closed range lists its names.
bool InRange(const std::string& table, int32_t first, int32_t last, std::set<std::string>& range_names) {
  if (first == 0 && last == 0) return true;
  if (first != 0 && last != 0) {
    if (range_names.empty()) {
      for (int32_t d = first; d <= last && d - first < 36525; ++d) range_names.insert(engine::DayTableName(d));
    }
    return range_names.count(table) != 0;
  }
  const int32_t day = DayOfTableName(table);
  return (first == 0 || day >= first) && (last == 0 || day <= last);
}

}  // namespace

int32_t DayOfTableName(const std::string& table) {
  const std::string text = table.substr(4, 2) + "/" + table.substr(6, 2) + "/" + table.substr(8, 2);
  rtl::TDateTime value = 0;
  if (!rtl::TryStrToDate(text, value)) throw engine::EDatabaseError("bad day table name " + table);
  return static_cast<int32_t>(value);
}

std::vector<std::string> ListTickTables(const engine::AliasTarget& target, engine::Connection& connection,
                                        int32_t first_day, int32_t last_day) {
  std::vector<std::string> names;
  if (target.driver == engine::AliasTarget::Driver::kSQLite) {
    // One file per day table: the folder's listing is the catalogue.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(target.location, ec)) {
      const std::filesystem::path& path = entry.path();
      if (path.extension() != ".db") continue;
      std::string stem = path.stem().string();
      if (engine::IsDayTableName(stem) && connection.TableExists(stem)) names.push_back(stem);
    }
  } else {
    auto cursor = connection.Query(
        Plain("SELECT relname::text FROM pg_catalog.pg_class "
              "WHERE relkind IN ('r', 'p') AND relname ~ '^hist[0-9]{6}$' "
              "AND pg_catalog.pg_table_is_visible(oid)"),
        {});
    std::vector<engine::Value> row;
    while (cursor->Next(row)) {
      if (!row.empty() && row[0].kind == engine::Value::Kind::kText) names.push_back(row[0].s);
    }
  }
  std::set<std::string> range_names;
  std::erase_if(names, [&](const std::string& t) { return !InRange(t, first_day, last_day, range_names); });
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace admin
