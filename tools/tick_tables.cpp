#include "tools/tick_tables.h"

#include <algorithm>
#include <filesystem>

#include "platform/rtl/datetime.h"

namespace admin {
namespace {

engine::Statement Plain(std::string sql) {
  engine::Statement statement;
  statement.pieces.push_back(std::move(sql));
  return statement;
}

}  // namespace

std::vector<std::string> ListTickTables(const engine::AliasTarget& target,
                                        engine::Connection& connection) {
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
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace admin
