// histdata-admin pack: the packed copies (engine/tick_pack.h) of a tick
// store's days, made afresh or checked against their rows.
#ifndef HISTDATA_TOOLS_PACK_H_
#define HISTDATA_TOOLS_PACK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/tick_packer.h"
#include "tools/progress.h"

namespace admin {

struct PackOptions {
  int32_t first_day = 0;  // 0: from the first day held
  int32_t last_day = 0;   // 0: to the last
  // Compare every pack with its rows instead of packing.
  bool check = false;
  engine::Credentials credentials;
  ProgressFn progress;  // days done out of days
};

struct PackResult {
  int64_t days = 0;
  engine::PackCounts counts;
  // What a check found wrong, a line each.
  std::vector<std::string> problems;
};

// Packs (or checks) each day table of the range, a transaction a day, so
// that a day is packed whole or left as it was.
PackResult PackStore(const PackOptions& options);

}  // namespace admin

#endif  // HISTDATA_TOOLS_PACK_H_
