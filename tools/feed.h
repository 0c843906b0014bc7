// The live feed: ticks read from a source that is still being written, and
// committed to the tick store in small transactions, each with the source
// position it reaches, so that the server's next request sees them and a
// restart neither loses nor repeats a committed tick.
#ifndef HISTDATA_TOOLS_FEED_H_
#define HISTDATA_TOOLS_FEED_H_

#include <cstdint>
#include <ostream>
#include <string>

#include "platform/engine/aliases.h"
#include "tools/feed_source.h"

namespace admin {

struct FeedOptions {
  std::string path = "-";  // the source; "-" standard input
  // The name its position is kept under; empty: the file's absolute path,
  // or "stdin".
  std::string source_name;
  SourceOptions source;
  int commit_ms = 200;        // a batch is committed this long after its first tick
  int commit_ticks = 10000;   // or when it holds this many
  std::string rejects_path;   // empty: <data dir>/feed-rejects.txt
  int status_seconds = 5;     // a status line this often; 0: none
  int metrics_port = -1;      // -1: no metrics listener
  std::string metrics_address = "127.0.0.1";
  // How long the feed may run at idle priority without catching up with
  // its source (tools/feed_priority.h); 0: always at normal priority.
  int max_yield_ms = 5000;
  engine::Credentials credentials;
};

struct FeedResult {
  int64_t ticks = 0;    // committed by this run
  int64_t rejects = 0;  // rejected by this run
  bool stopped_uncommitted = false;  // stopped while the store was away
};

// Runs until the source ends (standard input closed; with until_end, the
// end of what is there) or SIGINT/SIGTERM, which commits what was read and
// stops. Notes and the status line go to `err`, the summary to `out`.
// Raises std::runtime_error for a source or reject file that cannot be
// used; a store that fails is retried, never reported as an end.
FeedResult RunFeed(const FeedOptions& options, std::ostream& out, std::ostream& err);

// The --help text of the command.
std::string FeedUsage();

}  // namespace admin

#endif  // HISTDATA_TOOLS_FEED_H_
