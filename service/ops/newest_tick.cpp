#include "service/ops/newest_tick.h"

#include <memory>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/day_tables.h"
#include "platform/engine/errors.h"
#include "platform/metrics/metrics.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/unix_time.h"

namespace hist::ops {
namespace {

// The tick store; the one alias whose tables are days.
constexpr const char* kTickStore = "HISTDATA";

}  // namespace

void UpdateNewestTickGauges() {
  metrics::Gauge& newest = metrics::Default().AddGauge(
      "histdata_newest_tick_timestamp_seconds",
      "Date and Time of the tick appended last to today's table (local time), 0 for none.",
      {{"store", kTickStore}});
  metrics::Counter& errors = metrics::Default().AddCounter(
      "histdata_newest_tick_errors_total", "Failed reads of the newest tick.", {{"store", kTickStore}});
  try {
    // A connection of its own per scrape (scrapes come seconds apart):
    // nothing held between them goes stale when the store restarts.
    auto connection = engine::ConnectAlias(kTickStore, {}, /*writable=*/false);
    const rtl::TDateTime today = rtl::Date();
    const std::string table = engine::DayTableName(today);
    double value = 0;
    if (connection->TableExists(table)) {
      engine::Statement sql;
      // The highest ID is the row appended last: one step down the index.
      sql.pieces = {"SELECT time FROM " + table + " ORDER BY id DESC LIMIT 1"};
      auto cursor = connection->Query(sql, {});
      std::vector<engine::Value> row;
      if (cursor->Next(row) && !row.empty() && !row[0].is_null()) {
        const double time = row[0].kind == engine::Value::Kind::kInteger ? row[0].i : row[0].d;
        value = rtl::LocalToUnixSeconds(today + time);
      }
    }
    newest.Set(value);
  } catch (const std::exception&) {
    errors.Add();
  }
}

}  // namespace hist::ops
