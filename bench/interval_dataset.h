// The reproducible tick data set of the interval benchmarks: a fixed number
// of trading days, each with a busy symbol between two quieter neighbours in
// index order, generated from a fixed seed so that every run and every
// machine reads the same rows.
#ifndef HISTDATA_BENCH_INTERVAL_DATASET_H_
#define HISTDATA_BENCH_INTERVAL_DATASET_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"

namespace bench {

struct IntervalDataset {
  std::string symbol = "BENCH";          // the symbol every request asks for
  int ticks_per_day = 100000;            // of `symbol`
  int neighbour_ticks_per_day = 10000;   // of each neighbour ("BENCG", "BENCI")
  int trading_days = 20;                 // weekdays from `first_day` on
  rtl::TDateTime first_day = 0;          // set by the constructor: 2024-01-02
  IntervalDataset();

  // The trading days, in order.
  std::vector<rtl::TDateTime> Days() const;
};

// Makes the day tables under the HISTDATA alias (engine::ConfigureAliases
// must point at the data folder) unless a complete set made from the same
// parameters is already there. Returns the seconds spent making it (0 when
// reused).
double EnsureDataset(const IntervalDataset& set, const std::string& data_dir);

}  // namespace bench

#endif  // HISTDATA_BENCH_INTERVAL_DATASET_H_
