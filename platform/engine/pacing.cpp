#include "platform/engine/pacing.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace engine {
namespace {

using Clock = std::chrono::steady_clock;

// Wall time, not the thread's CPU time: reading the monotonic clock costs
// no system call, and time the thread spent preempted only makes it step
// aside a little sooner.
thread_local int64_t slice_ns = 0;
thread_local Clock::time_point slice_start;

// The clock is read at every this many calls only: a call marks a step of
// a few microseconds at most (a row, a page), and the clock costs some
// 30 ns, more than the cheapest steps themselves.
constexpr int kCallsPerLook = 16;
thread_local int calls_left = 0;

}  // namespace

void PaceThisThread(int slice_us) {
  slice_ns = slice_us > 0 ? int64_t{slice_us} * 1000 : 0;
  slice_start = Clock::now();
}

void Pace() {
  if (slice_ns == 0 || --calls_left > 0) return;
  calls_left = kCallsPerLook;
  const Clock::time_point now = Clock::now();
  if (std::chrono::duration_cast<std::chrono::nanoseconds>(now - slice_start).count() < slice_ns) return;
  // Returns at once when no other thread waits for this core.
  std::this_thread::yield();
  slice_start = Clock::now();
}

}  // namespace engine
