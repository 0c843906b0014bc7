// How fresh the tick store is, for alerting on a feed that stopped: the
// time stamp of the tick appended last to today's day table.
#ifndef HISTDATA_SERVICE_OPS_NEWEST_TICK_H_
#define HISTDATA_SERVICE_OPS_NEWEST_TICK_H_

namespace hist::ops {

// Sets histdata_newest_tick_timestamp_seconds{store="HISTDATA"} to the
// Date and Time of the last row (highest ID) of today's table, as seconds
// since 1970 (local time), or 0 when today has no table or no rows yet.
// Reads one row through the ID index; a store that cannot be read leaves
// the gauge as it was and counts in
// histdata_newest_tick_errors_total{store=...}.
void UpdateNewestTickGauges();

}  // namespace hist::ops

#endif  // HISTDATA_SERVICE_OPS_NEWEST_TICK_H_
