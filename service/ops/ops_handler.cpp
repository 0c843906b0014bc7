#include "service/ops/ops_handler.h"

#include <chrono>
#include <fstream>

#include "data/module.h"
#include "platform/engine/store_errors.h"
#include "platform/metrics/metrics.h"
#include "service/ops/newest_tick.h"
#include "service/app.h"
#include "service/ops/health.h"
#include "service/ops/web_files.h"

namespace hist::ops {

namespace {

constexpr size_t kFilePiece = 64 * 1024;

void Reply(host::Host& host, int code, const char* status, const std::string& content_type,
           const std::string& body, const std::string& extra_headers = std::string()) {
  host.SetStatus(code);
  host.SendHead(status, "Content-Type: " + content_type + "\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nCache-Control: no-store\r\n" +
                            extra_headers);
  host.Write(body.data(), body.size());
}

void NotFound(host::Host& host) {
  Reply(host, 404, "404 Not Found", "text/plain; charset=utf-8", "not found\n");
}

void ServeFile(host::Host& host, const OpsOptions& options, const std::string& name) {
  std::optional<WebFile> file = FindWebFile(options.web_folder, name);
  std::ifstream in;
  if (file) in.open(file->path, std::ios::binary | std::ios::ate);
  if (!file || !in) {
    NotFound(host);
    return;
  }
  const std::streamoff size = in.tellg();
  in.seekg(0);
  host.SetStatus(200);
  host.SendHead("200 OK", "Content-Type: " + file->content_type + "\r\nContent-Length: " +
                              std::to_string(size) +
                              "\r\nCache-Control: no-cache\r\nX-Content-Type-Options: nosniff\r\n");
  // Read and sent in pieces: the chart library may be large.
  std::string piece(kFilePiece, '\0');
  std::streamoff left = size;
  while (left > 0 && in.read(piece.data(), std::min<std::streamoff>(left, kFilePiece))) {
    host.Write(piece.data(), static_cast<size_t>(in.gcount()));
    left -= in.gcount();
  }
}

void ServeHealth(host::Host& host) {
  const Health health = CheckHealth();
  if (health.ok) {
    Reply(host, 200, "200 OK", "text/plain; charset=utf-8", "ok\n");
    return;
  }
  std::string body;
  for (const std::string& r : health.reasons) body += r + "\n";
  Reply(host, 503, "503 Service Unavailable", "text/plain; charset=utf-8", body);
}

constexpr const char* kIndex =
    "/metrics        counters, Prometheus text format\n"
    "/health         200 ok, or 503 with the reasons\n"
    "/chart          the chart page\n"
    "/web/<name>     files of the web folder\n"
    "/history?...    history requests, same reply as the history port\n";

}  // namespace

void ServeOps(const OpsOptions& options, host::Host& host) {
  const std::string path = host.PathInfo();
  const std::string method = host.Method();
  const bool read = method == "GET" || method == "HEAD";
  if (path == "/history") {
    if (method != "GET" && method != "POST") {
      Reply(host, 405, "405 Method Not Allowed", "text/plain; charset=utf-8",
            "GET or POST only\n", "Allow: GET, POST\r\n");
      return;
    }
    hist::HttpExtensionProc(host);
    return;
  }
  const bool known = path == "/" || path == "/metrics" || path == "/health" || path == "/chart" ||
                     path.rfind("/web/", 0) == 0;
  if (!known) {
    NotFound(host);
  } else if (!read) {
    Reply(host, 405, "405 Method Not Allowed", "text/plain; charset=utf-8", "GET only\n",
          "Allow: GET, HEAD\r\n");
  } else if (path == "/metrics") {
    if (options.before_metrics) options.before_metrics();
    UpdateNewestTickGauges();
    Reply(host, 200, "200 OK", "text/plain; version=0.0.4; charset=utf-8",
          metrics::Default().Render());
  } else if (path == "/health") {
    ServeHealth(host);
  } else if (path == "/chart") {
    ServeFile(host, options, "chart.html");
  } else if (path == "/") {
    Reply(host, 200, "200 OK", "text/plain; charset=utf-8", kIndex);
  } else {
    ServeFile(host, options, path.substr(5));
  }
}

void StartOpsMetrics(const std::string& version) {
  metrics::Registry& r = metrics::Default();
  const double now = std::chrono::duration<double>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  r.AddGauge("process_start_time_seconds", "Start time of the process since the Unix epoch.")
      .Set(now);
  r.AddGauge("histdata_build_info", "The running build; the value is always 1.",
             {{"version", version}})
      .Set(1);
  try {
    for (const StoreLogin& store : ModuleStores()) {
      engine::StoreErrorCounter(store.alias, engine::ResolveAlias(store.alias).driver);
    }
  } catch (const std::exception&) {
    // Without settings the series appear with their first failure.
  }
}

}  // namespace hist::ops
