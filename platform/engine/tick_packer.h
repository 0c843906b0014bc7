// Making and checking the packs (engine/tick_pack.h) of a day table: what
// the loaders call once a day's rows are in, inside the same transaction.
#ifndef HISTDATA_PLATFORM_ENGINE_TICK_PACKER_H_
#define HISTDATA_PLATFORM_ENGINE_TICK_PACKER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/driver.h"

namespace engine {

struct PackCounts {
  int64_t keys = 0;    // keys with rows
  int64_t packed = 0;  // keys with a pack
  int64_t rows = 0;    // rows read
  int64_t bytes = 0;   // bytes of the packs
};

// Drops every pack of `table` and packs each of its keys afresh from the
// rows as the store holds them now (uncommitted rows of the caller's
// transaction included). A key whose values cannot be kept exactly is left
// without a pack and read from its rows.
PackCounts PackDayTable(Connection& connection, const std::string& table);

// Compares each pack of `table` with a pack made afresh from its rows. The
// problems found, a line each ("<table> <key>: <what>"); a key without a
// pack is none (its rows changed since, or it was never packed).
struct PackCheck {
  PackCounts counts;
  std::vector<std::string> problems;
};
PackCheck CheckDayTablePacks(Connection& connection, const std::string& table);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_TICK_PACKER_H_
