// What the operator's metrics count of every history request: its mode,
// how it ended, how long it took, and the reply lines and bytes it wrote.
// A request keeps its own tally in plain fields (one thread serves it) and
// adds it to the process's counters once, at its end, with a few relaxed
// atomic adds: no lock and no allocation on the request path.
#ifndef HISTDATA_SERVICE_REQUEST_METRICS_H_
#define HISTDATA_SERVICE_REQUEST_METRICS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hist {

// The request's mode as a metrics label: "0" to "6", "other" for any other
// text (answered with an empty body), "none" when the request ended before
// its parameters were read (pool full, settings failure).
enum class ModeSlot : uint8_t { k0, k1, k2, k3, k4, k5, k6, kOther, kNone };
ModeSlot ModeSlotOf(std::string_view mode);

// How a request ended: its reply complete; complete but holding an ERROR
// line; refused with the 500 reply because every module was busy; failed
// (an error logged or a 500 reply for any other reason, the reply ending
// where it stood).
enum class Outcome : uint8_t { kComplete, kErrorLine, kPoolFull, kFailed };

struct ReplyTally {
  ModeSlot mode = ModeSlot::kNone;
  bool error_line = false;
  bool failed = false;
  uint64_t lines = 0;
  uint64_t bytes = 0;
};

// Adds one finished request to the process's counters.
void RecordRequest(const ReplyTally& tally, Outcome outcome,
                   std::chrono::steady_clock::duration elapsed);

// The pool's state, recorded by the pool under its own lock at every change.
void RecordPool(size_t in_use, size_t made, int limit);

// Makes every series of the request and pool metrics, so that they show
// (at 0) before the first request. Idempotent.
void RegisterServiceMetrics();

}  // namespace hist

#endif  // HISTDATA_SERVICE_REQUEST_METRICS_H_
