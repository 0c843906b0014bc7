// Deriving the SQL stores from the tick tables.
//
// For every day table it writes, per symbol (compared exactly, case and all):
//   - datastore: the day's high, low, closing (last price), shares_traded
//     (the day's last running Volume) and turnover (the sum of price times
//     each growth of the running volume);
//   - MinuteBars: one-minute bars (Duration 60, SeqNo from 1 in time order);
//   - IntervalTable60/180/300: bars labelled by their start time "hh:nn:ss"
//     on multiples of their length from midnight, Date "yyyy/mm/dd";
//   - symbolTable: every symbol not listed yet, with isValid '1'.
// What an earlier run derived for those days is replaced; MarketSession and
// DailySymbol are left alone (they come from the sample or from files).
//
// A tick takes part in prices when its Price is present and positive; a bar
// exists for a slot holding at least one such tick, and its volume is the
// growth of the running volume from the previous bar to its last tick (the
// running volume itself when it went down). A slot boundary belongs to the
// later slot, counted in whole milliseconds.
#ifndef HISTDATA_TOOLS_DERIVE_H_
#define HISTDATA_TOOLS_DERIVE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "tools/progress.h"
#include "tools/schema.h"

namespace admin {

struct DeriveOptions {
  // The days to derive, inclusive, as days since 1899-12-30; 0 leaves that
  // end open. Days without a table are skipped.
  int32_t first_day = 0;
  int32_t last_day = 0;
  std::string zet_alias = kZetAlias;
  engine::Credentials credentials;
  ProgressFn progress;  // called with days done out of days to do
};

struct DeriveResult {
  int days = 0;
  int64_t ticks = 0;
  int64_t daily_rows = 0;
  int64_t minute_bars = 0;
  int64_t interval_bars = 0;  // the three interval tables together
  int64_t symbols_added = 0;
};

DeriveResult Derive(const DeriveOptions& options = {});

}  // namespace admin

#endif  // HISTDATA_TOOLS_DERIVE_H_
