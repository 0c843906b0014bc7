// A made-up market for trying the server and for benchmarks: symbols with
// invented English and Chinese names, trading days (weekdays) ending on a
// given day, two sessions a day (09:30-12:00 and 13:00-16:00, stored as the
// market's default sessions, symbol "*"), random-walk prices with bid and
// offer around them and a running volume per symbol. The same options and
// seed always make the same market. The stores are created, the ticks,
// names and sessions loaded, and the rest derived from the ticks.
#ifndef HISTDATA_TOOLS_SAMPLE_H_
#define HISTDATA_TOOLS_SAMPLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "tools/derive.h"
#include "tools/progress.h"
#include "tools/schema.h"

namespace admin {

struct SampleOptions {
  int days = 15;     // trading days
  int symbols = 36;
  uint64_t seed = 1;
  // Ticks of each symbol on a full trading day.
  int ticks_per_symbol = 3000;
  // When positive, the first symbol's ticks per day instead (a symbol with
  // a long day, for benchmarks).
  int heavy_ticks = 0;
  // The last trading day (days since 1899-12-30); 0 means today. A weekend
  // day steps back to the Friday before.
  int32_t last_day = 0;
  // On today, only ticks up to the current time (the real clock or the
  // one tests set).
  bool until_now = true;
  std::string zet_alias = kZetAlias;
  engine::Credentials credentials;
  ProgressFn progress;         // ticks written out of ticks planned
  ProgressFn derive_progress;  // days derived out of days
};

struct SampleSymbol {
  std::string code;    // "0001", "0002", ...
  std::string name_e;  // "Cobalt Lantern Textiles"
  std::string name_c;  // UTF-8
};

struct SampleResult {
  std::vector<int32_t> days;  // ascending
  std::vector<SampleSymbol> symbols;
  int64_t ticks = 0;
  DeriveResult derived;
};

// The symbols of a sample market, by count and seed.
std::vector<SampleSymbol> SampleSymbols(int count, uint64_t seed);

// Makes the market in the stores the aliases name. Day tables of its days
// that exist already are replaced, and so are the names of its symbols and
// the default sessions. Raises std::invalid_argument for options out of
// range, engine::EDatabaseError when a store refuses.
SampleResult MakeSample(const SampleOptions& options);

}  // namespace admin

#endif  // HISTDATA_TOOLS_SAMPLE_H_
