#include "tools/feed_priority.h"

#include <algorithm>

#include "platform/engine/pacing.h"
#include "platform/os/thread_priority.h"

namespace admin {
namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// How often the watcher looks at most: often enough that a feed is raised
// soon after the time it may yield, rare enough to cost nothing.
constexpr int kWatchEveryMs = 100;

// The feed's slices of work between steps aside. At normal priority a
// request that finds both cores busy waits for the feed at most this long,
// rather than the rest of a commit; stepping aside costs a system call of
// a microsecond or two, under 1 % at this length.
constexpr int kSliceUs = 250;

}  // namespace

FeedPriority::FeedPriority(int max_yield_ms, metrics::Counter& raises, std::string& note)
    : raises_(raises), max_yield_ms_(max_yield_ms), feed_thread_(os::ThisThreadId()), caught_up_ns_(NowNs()) {
  if (max_yield_ms <= 0) {
    note = "runs at normal priority (--max-yield-ms 0)";
    return;
  }
  // Pacing needs no right, and spares the requests behind a raised feed
  // as much as behind one that may not yield at all.
  engine::PaceThisThread(kSliceUs);
  if (!os::MayLeaveIdle()) {
    // An idle-class feed that could not be raised again would fall behind
    // for good on a busy machine: fresh ticks come first.
    note = "runs at normal priority, stepping aside between slices of its work: it could not "
           "return to it from idle priority (needs CAP_SYS_NICE or RLIMIT_NICE, LimitNICE=+0 in a unit)";
    return;
  }
  // The watcher is made first: a thread starts in its maker's class, and
  // the watcher must run whenever it has to.
  watcher_ = std::thread([this] { Watch(); });
  if (!os::SetIdle(feed_thread_, true)) {
    StopWatcher();
    note = "runs at normal priority, stepping aside between slices of its work: idle priority refused";
    return;
  }
  yielding_ = true;
  note = "yields the CPU while it keeps up (idle priority; normal once " + std::to_string(max_yield_ms) +
         " ms behind, then stepping aside between slices of its work)";
}

FeedPriority::~FeedPriority() {
  StopWatcher();
  if (max_yield_ms_ > 0) engine::PaceThisThread(0);
}

void FeedPriority::StopWatcher() {
  if (!watcher_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  stop_wake_.notify_all();
  watcher_.join();
}

void FeedPriority::CaughtUp(int wait_ms) {
  if (!yielding_) return;
  caught_up_ns_.store(NowNs() + int64_t{wait_ms} * 1000000);
  // Lowering one's own priority needs no right; a failure only leaves the
  // feed at normal priority until the next time.
  if (raised_.exchange(false)) os::SetIdle(feed_thread_, true);
}

void FeedPriority::Watch() {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto every = std::chrono::milliseconds(std::min(kWatchEveryMs, max_yield_ms_));
  while (!stop_wake_.wait_for(lock, every, [this] { return stop_; })) {
    if (raised_.load()) continue;
    if (NowNs() - caught_up_ns_.load() < int64_t{max_yield_ms_} * 1000000) continue;
    // Raise first, then say so: a CaughtUp in between leaves the feed
    // raised until its next one, never idle while marked raised.
    if (os::SetIdle(feed_thread_, false)) {
      raised_.store(true);
      raises_.Add();
    }
  }
}

}  // namespace admin
