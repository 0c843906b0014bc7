// The operator's listener: what a second port serves beside the history
// port, so that the history protocol stays untouched.
//
//   GET /metrics        counters in the Prometheus text format
//   GET /health         200 "ok", or 503 with one reason per line
//   GET /chart          the chart page (chart.html of the web folder)
//   GET /web/<name>     a file of the web folder
//   GET /history?...    the history handler itself, same origin as the page:
//   POST /history       the body is byte for byte the history port's reply
//   GET /               the list of these routes
// Anything else is 404; a known path asked with another method is 405.
#ifndef HISTDATA_SERVICE_OPS_OPS_HANDLER_H_
#define HISTDATA_SERVICE_OPS_OPS_HANDLER_H_

#include <functional>
#include <string>

#include "platform/host.h"

namespace hist::ops {

struct OpsOptions {
  std::string web_folder;  // empty: the page and files answer 404
  // Runs before the metrics are rendered, to set gauges read from their
  // source at that moment (the history port's connections).
  std::function<void()> before_metrics;
};

// Serves one request of the operator's port; runs on the host's thread.
void ServeOps(const OpsOptions& options, host::Host& host);

// Process start time and build version for the metrics, and the store
// error series of every store a module reaches (at 0), so that they show
// before the first failure. Called once by the program at start, after the
// aliases are configured and from the working folder.
void StartOpsMetrics(const std::string& version);

}  // namespace hist::ops

#endif  // HISTDATA_SERVICE_OPS_OPS_HANDLER_H_
