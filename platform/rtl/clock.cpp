// The local clock, replaceable by tests.
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>

#include "platform/rtl/datetime.h"

namespace rtl {

namespace {

// The replacement clock is read on every call of Now() while it is set; the
// flag keeps the real clock free of the mutex.
std::atomic<bool> g_replaced{false};
std::mutex g_mutex;
std::function<TDateTime()>& Replacement() {
  static auto* clock = new std::function<TDateTime()>;  // outlives every thread
  return *clock;
}

TDateTime RealNow() {
  using std::chrono::system_clock;
  const int64_t ms_since_1970 = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    system_clock::now().time_since_epoch())
                                    .count();
  const time_t seconds = static_cast<time_t>(ms_since_1970 / 1000);
  struct tm local;
  localtime_r(&seconds, &local);
  TDateTime date = 0;
  TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date);
  // A leap second shows as 59.
  const int sec = local.tm_sec > 59 ? 59 : local.tm_sec;
  const int64_t ms = ((local.tm_hour * 60LL + local.tm_min) * 60 + sec) * 1000 + ms_since_1970 % 1000;
  return date + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

}  // namespace

TDateTime Now() {
  if (g_replaced.load(std::memory_order_acquire)) {
    std::function<TDateTime()> clock;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      clock = Replacement();
    }
    if (clock) return clock();
  }
  return RealNow();
}

TDateTime Date() { return std::trunc(Now()); }

TDateTime Time() {
  const TDateTime now = Now();
  return now - std::trunc(now);
}

void SetClockForTesting(std::function<TDateTime()> clock) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_replaced.store(static_cast<bool>(clock), std::memory_order_release);
  Replacement() = std::move(clock);
}

}  // namespace rtl
