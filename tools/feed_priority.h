// How the feed shares the CPU with the server beside it. On two cores
// under load, every millisecond the feeder runs is one a request waits for
// (docs/feed.md). So while the feed keeps up with its source it runs in the
// idle class, on CPU time nothing else wants. A machine whose cores the
// requests fill leaves it next to nothing, so once it has gone the longest
// time it may yield without catching up, a watcher thread at normal
// priority raises it back; it lowers itself again the next time it has read
// all there is. The feed then falls behind by at most that time while the
// requests keep their speed. At either priority it works in short slices
// (engine/pacing.h), so that a request never waits behind a whole commit.
#ifndef HISTDATA_TOOLS_FEED_PRIORITY_H_
#define HISTDATA_TOOLS_FEED_PRIORITY_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/metrics/metrics.h"

namespace admin {

class FeedPriority {
 public:
  // With `max_yield_ms` above 0, the calling thread (the feed's) is paced
  // and yields from now on, for at most that long without catching up, when
  // it may be raised again (os::MayLeaveIdle); otherwise it keeps its
  // priority.
  // `note` says which, for the log; `raises` counts the raises.
  FeedPriority(int max_yield_ms, metrics::Counter& raises, std::string& note);
  ~FeedPriority();
  FeedPriority(const FeedPriority&) = delete;
  FeedPriority& operator=(const FeedPriority&) = delete;

  // Called by the feed's thread each time it has read all its source has
  // for now, before it waits up to `wait_ms` for more: it keeps up until
  // that wait ends.
  void CaughtUp(int wait_ms);
  // Whether the feed runs raised (at normal priority) because it fell behind.
  bool Raised() const { return raised_.load(); }

 private:
  using Clock = std::chrono::steady_clock;
  void Watch();
  void StopWatcher();

  metrics::Counter& raises_;
  const int max_yield_ms_;
  const int64_t feed_thread_;
  bool yielding_ = false;
  std::atomic<int64_t> caught_up_ns_;  // Clock time up to which the feed kept up
  std::atomic<bool> raised_{false};
  std::mutex mutex_;  // the watcher's wait only; the feed never takes it
  std::condition_variable stop_wake_;
  bool stop_ = false;
  std::thread watcher_;
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_FEED_PRIORITY_H_
