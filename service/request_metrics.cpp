// The request and pool series, made once; requests then count through the
// references kept here.
#include "service/request_metrics.h"

#include <string>

#include "platform/metrics/metrics.h"
#include "platform/os/process_lifetime.h"

namespace hist {

namespace {

constexpr int kModeSlots = 9;
constexpr int kOutcomes = 4;
constexpr const char* kModeNames[kModeSlots] = {"0", "1", "2", "3", "4", "5", "6", "other", "none"};
constexpr const char* kOutcomeNames[kOutcomes] = {"complete", "error_line", "pool_full", "failed"};

struct ServiceSeries {
  metrics::Counter* requests[kModeSlots][kOutcomes];
  metrics::Histogram* duration[kModeSlots];
  metrics::Counter* lines;
  metrics::Counter* bytes;
  metrics::Gauge* modules_in_use;
  metrics::Gauge* modules_made;
  metrics::Gauge* modules_limit;

  ServiceSeries() {
    metrics::Registry& r = metrics::Default();
    // From a millisecond to half a minute: small requests take a few
    // milliseconds, a long day of ticks seconds.
    const std::vector<double> bounds = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                        0.25,  0.5,    1,     2.5,  5,     10,   30};
    for (int m = 0; m < kModeSlots; ++m) {
      for (int o = 0; o < kOutcomes; ++o) {
        requests[m][o] = &r.AddCounter("histdata_requests_total",
                                       "History requests served, by mode and outcome.",
                                       {{"mode", kModeNames[m]}, {"outcome", kOutcomeNames[o]}});
      }
    }
    for (int m = 0; m < kModeSlots; ++m) {
      duration[m] = &r.AddHistogram("histdata_request_duration_seconds",
                                    "Time from a history request's start to its reply's end, by mode.",
                                    bounds, {{"mode", kModeNames[m]}});
    }
    lines = &r.AddCounter("histdata_reply_lines_total", "Reply lines written.");
    bytes = &r.AddCounter("histdata_reply_bytes_total", "Reply body bytes written.");
    modules_in_use = &r.AddGauge("histdata_modules_in_use", "Request modules serving a request now.");
    modules_made = &r.AddGauge("histdata_modules", "Request modules made so far (kept for reuse).");
    modules_limit = &r.AddGauge("histdata_modules_limit",
                                "Highest number of requests served at once (MaxConnection; 0 or less: no limit).");
  }
};

ServiceSeries& Series() {
  static ServiceSeries* series = os::KeptForProcess(new ServiceSeries);  // counted into until the process ends
  return *series;
}

}  // namespace

ModeSlot ModeSlotOf(std::string_view mode) {
  if (mode.size() == 1 && mode[0] >= '0' && mode[0] <= '6') {
    return static_cast<ModeSlot>(mode[0] - '0');
  }
  return ModeSlot::kOther;
}

void RecordRequest(const ReplyTally& tally, Outcome outcome,
                   std::chrono::steady_clock::duration elapsed) {
  ServiceSeries& s = Series();
  const int m = static_cast<int>(tally.mode);
  s.requests[m][static_cast<int>(outcome)]->Add();
  s.duration[m]->Observe(std::chrono::duration<double>(elapsed).count());
  if (tally.lines != 0) s.lines->Add(tally.lines);
  if (tally.bytes != 0) s.bytes->Add(tally.bytes);
}

void RecordPool(size_t in_use, size_t made, int limit) {
  ServiceSeries& s = Series();
  s.modules_in_use->Set(static_cast<double>(in_use));
  s.modules_made->Set(static_cast<double>(made));
  s.modules_limit->Set(limit);
}

void RegisterServiceMetrics() { Series(); }

}  // namespace hist
