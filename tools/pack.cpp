#include "tools/pack.h"

#include "platform/engine/transaction.h"
#include "tools/schema.h"
#include "tools/tick_tables.h"

namespace admin {

PackResult PackStore(const PackOptions& options) {
  const engine::AliasTarget target = engine::ResolveAlias(kTickAlias);
  auto connection = engine::ConnectAlias(kTickAlias, options.credentials, /*writable=*/true);
  const std::vector<std::string> tables =
      ListTickTables(target, *connection, options.first_day, options.last_day);
  PackResult result;
  for (const std::string& table : tables) {
    engine::PackCounts counts;
    if (options.check) {
      engine::PackCheck check = engine::CheckDayTablePacks(*connection, table);
      counts = check.counts;
      for (std::string& problem : check.problems) result.problems.push_back(std::move(problem));
    } else {
      engine::InTransaction(*connection, [&] { counts = engine::PackDayTable(*connection, table); });
    }
    result.counts.keys += counts.keys;
    result.counts.packed += counts.packed;
    result.counts.rows += counts.rows;
    result.counts.bytes += counts.bytes;
    ++result.days;
    if (options.progress) options.progress(result.days, static_cast<int64_t>(tables.size()));
  }
  return result;
}

}  // namespace admin
