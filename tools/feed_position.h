// Where a feed stands in its source, kept in the store beside the ticks it
// covers and committed in their transaction, so that a feed that stops at
// any moment resumes exactly after what it committed.
//
// Each day table written by a feed has a small table of feed positions,
// named after it ("hist030704_feed"): one row per source. In a folder of
// day files it lives in the day's own file, since a transaction over two
// files is not atomic; a batch of a feed therefore never spans two days.
// The source's committed position is the row with the highest batch number
// over every day.
#ifndef HISTDATA_TOOLS_FEED_POSITION_H_
#define HISTDATA_TOOLS_FEED_POSITION_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/engine/driver.h"
#include "tools/feed_source.h"

namespace admin {

struct CommittedPosition {
  int64_t batch = 0;    // batches committed by feeds of this source
  SourcePosition source;
  int64_t ticks = 0;    // ticks committed in all
  int64_t rejects = 0;  // lines rejected up to the position
};

// The position table of a day table.
std::string PositionTableOf(const std::string& day_table);

// Inside the caller's transaction: records `position` as the source's
// position in the table of `day_table` (made when missing).
void WritePosition(engine::Connection& connection, const std::string& day_table,
                   const std::string& source, const CommittedPosition& position);

// The source's row of one day; none when the day has no row of it.
std::optional<CommittedPosition> ReadPosition(engine::Connection& connection,
                                              const std::string& day_table,
                                              const std::string& source);

// The source's committed position: its row with the highest batch over
// every day table of the store; none for a source never fed. `day_table`,
// when given, receives the day table the row was found beside.
std::optional<CommittedPosition> ReadNewestPosition(engine::Connection& connection,
                                                    const std::string& source,
                                                    std::string* day_table = nullptr);

}  // namespace admin

#endif  // HISTDATA_TOOLS_FEED_POSITION_H_
