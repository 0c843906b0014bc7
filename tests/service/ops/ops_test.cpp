// The operator's listener through real sockets beside the real history
// port: metrics that move with every outcome and parse as the text format,
// health that follows a store away and back, the page, files and the
// history pass-through, and the history port's own answer to the same paths.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/engine/aliases.h"
#include "platform/http/server.h"
#include "platform/metrics/metrics.h"
#include "platform/rtl/datetime.h"
#include "service/ops/ops_handler.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

namespace fs = std::filesystem;

// Parses the exposition text strictly: every line a HELP, a TYPE or a
// sample of a family typed before it, label values properly quoted, values
// numbers. Fails the test on the first bad line; returns sample -> value,
// the sample written as name{labels} exactly as sent.
std::map<std::string, double> ParseExposition(const std::string& text) {
  static const std::regex kComment(R"(# (HELP|TYPE) ([a-zA-Z_:][a-zA-Z0-9_:]*) (.*))");
  static const std::regex kSample(
      R"(([a-zA-Z_:][a-zA-Z0-9_:]*)(\{([a-zA-Z_][a-zA-Z0-9_]*="([^"\\\n]|\\[\\"n])*",?)*\})? )"
      R"(([-+]?[0-9.eE+-]+|[-+]Inf|NaN))");
  std::map<std::string, std::string> types;
  std::map<std::string, double> samples;
  size_t start = 0;
  EXPECT_TRUE(!text.empty() && text.back() == '\n');
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    start = end == std::string::npos ? text.size() : end + 1;
    std::smatch m;
    if (std::regex_match(line, m, kComment)) {
      if (m[1] == "TYPE") {
        EXPECT_TRUE(m[3] == "counter" || m[3] == "gauge" || m[3] == "histogram") << line;
        EXPECT_EQ(types.count(m[2]), 0u) << "typed twice: " << line;
        types[m[2]] = m[3];
      }
      continue;
    }
    if (!std::regex_match(line, m, kSample)) {
      ADD_FAILURE() << "not a sample line: " << line;
      continue;
    }
    std::string family = m[1];
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
      const std::string s = suffix;
      if (types.count(family) == 0 && family.size() > s.size() &&
          family.compare(family.size() - s.size(), s.size(), s) == 0) {
        family.resize(family.size() - s.size());
      }
    }
    EXPECT_EQ(types.count(family), 1u) << "sample before its TYPE: " << line;
    const std::string key = line.substr(0, line.rfind(' '));
    EXPECT_EQ(samples.count(key), 0u) << "sample twice: " << line;
    const std::string value = m[m.size() - 1];
    char* stop = nullptr;
    samples[key] = value == "+Inf" ? INFINITY : std::strtod(value.c_str(), &stop);
  }
  return samples;
}

// A module whose mode-2 generator waits for the test (symbol HOLD) or
// fails (symbol FAIL); every other symbol runs the real generator.
std::shared_future<void> g_release;

class ControlledModule : public hist::THistData {
 public:
  void GenDelay(const std::string& Symbol, hist::TWebResponse& Response) override {
    if (Symbol == "HOLD") {
      g_release.wait();
      return;
    }
    if (Symbol == "FAIL") throw std::runtime_error("generator failed");
    THistData::GenDelay(Symbol, Response);
  }
};

class OpsTest : public StoreTest {
 protected:
  OpsTest()
      : server_([] { return std::make_unique<ControlledModule>(); }),
        web_(stores.WorkDir() + "/web") {
    stores.InitSqlStores();
    fs::create_directories(web_ + "/lib");
    Write(web_ + "/chart.html", "<html>chart</html>\n");
    Write(web_ + "/lib/chart.js", "var chart = 1;\n");
    Write(web_ + "/notes.txt", "not served\n");
    Write(stores.WorkDir() + "/secret.json", "{}\n");
    fs::create_symlink(stores.WorkDir() + "/secret.json", web_ + "/escape.json");
    httphost::ServerOptions options;
    options.address = "127.0.0.1";
    hist::ops::OpsOptions ops;
    ops.web_folder = web_;
    admin_ = std::make_unique<httphost::HttpServer>(
        options, [ops](host::Host& h) { hist::ops::ServeOps(ops, h); });
    admin_->Start();
  }

  static void Write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  HttpReply Admin(const std::string& target) { return Get(admin_->Port(), target); }
  std::map<std::string, double> Metrics() {
    const HttpReply r = Admin("/metrics");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    return ParseExposition(r.body);
  }

  TestServer server_;
  std::string web_;
  std::unique_ptr<httphost::HttpServer> admin_;  // stops before the service unloads
};

const char* const kDayQuery = "/?symbol=0005&mode=0&dateStart=2003/7/4&dateOver=2003/7/4";

TEST_P(OpsTest, MetricsMoveWithEachOutcome) {
  stores.AddTicks(rtl::EncodeDate(2003, 7, 4),
                  {{"09:30:00", "0005", 10.0, 10.1, 10.05, 100, 1000, 200},
                   {"09:31:00", "0005", 10.0, 10.2, 10.15, 100, 1500, 200}});
  server_.app().SetMaxConnections(1);
  const auto before = Metrics();
  auto delta = [&](const std::map<std::string, double>& after, const std::string& key) {
    EXPECT_EQ(after.count(key), 1u) << key;
    auto it = before.find(key);
    return after.at(key) - (it == before.end() ? 0 : it->second);
  };

  stores.SetSetting("OPS", "Edited", "1");  // a changed settings file is read again
  const HttpReply day = server_.Get(kDayQuery);
  ASSERT_NE(day.body.find("TICK|"), std::string::npos) << day.body;
  const HttpReply bad = server_.Get("/?symbol=0005&timeStart=25:00");
  EXPECT_EQ(bad.body, "ERROR|Invalid time format(yyyy/m/d).|\r\n");
  const HttpReply failed = server_.Get("/?symbol=FAIL&mode=2");
  EXPECT_EQ(failed.body, "");
  // The same request through the operator's port: the same bytes.
  const HttpReply passed = Admin(std::string("/history") + (kDayQuery + 1));
  EXPECT_EQ(passed.body, day.body);
  EXPECT_EQ(passed.Header("Content-Type"), "text/plain");

  // One module: a held request fills the pool, the next is refused.
  std::promise<void> release;
  g_release = release.get_future().share();
  auto held = std::async(std::launch::async, [&] { return server_.Get("/?symbol=HOLD&mode=2"); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Metrics().at("histdata_modules_in_use") < 1) {
    if (std::chrono::steady_clock::now() > deadline) {
      release.set_value();
      FAIL() << "the held request never started";
    }
    std::this_thread::yield();
  }
  const HttpReply full = server_.Get("/?symbol=0005&mode=2");
  EXPECT_EQ(full.status, 500);
  release.set_value();
  EXPECT_EQ(held.get().status, 200);

  // A request's counts are added as its handler returns, which may come
  // just after its client has read the whole reply.
  const std::string pool_full = "histdata_requests_total{mode=\"none\",outcome=\"pool_full\"}";
  const std::string held_done = "histdata_requests_total{mode=\"2\",outcome=\"complete\"}";
  const auto settle_by = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const auto m = Metrics();
    if ((m.count(pool_full) && m.at(pool_full) > (before.count(pool_full) ? before.at(pool_full) : 0) &&
         m.count(held_done) && m.at(held_done) > (before.count(held_done) ? before.at(held_done) : 0) &&
         m.at("histdata_modules_in_use") == 0) ||
        std::chrono::steady_clock::now() > settle_by) {
      break;
    }
    std::this_thread::yield();
  }
  const auto after = Metrics();
  auto requests = [&](const char* mode, const char* outcome) {
    return delta(after, std::string("histdata_requests_total{mode=\"") + mode +
                            "\",outcome=\"" + outcome + "\"}");
  };
  EXPECT_EQ(requests("0", "complete"), 2);
  EXPECT_EQ(requests("0", "error_line"), 1);
  EXPECT_EQ(requests("2", "failed"), 1);
  EXPECT_EQ(requests("2", "complete"), 1);
  EXPECT_EQ(requests("none", "pool_full"), 1);
  EXPECT_EQ(delta(after, "histdata_request_duration_seconds_count{mode=\"0\"}"), 3);
  EXPECT_EQ(delta(after, "histdata_request_duration_seconds_bucket{mode=\"0\",le=\"+Inf\"}"), 3);
  EXPECT_GT(delta(after, "histdata_request_duration_seconds_sum{mode=\"0\"}"), 0);
  // Two day replies, one error line; the refusal's body is bytes, no line.
  size_t day_lines = 0;
  for (size_t p = 0; (p = day.body.find("\r\n", p)) != std::string::npos; p += 2) ++day_lines;
  EXPECT_EQ(delta(after, "histdata_reply_lines_total"), 2 * day_lines + 1);
  EXPECT_EQ(delta(after, "histdata_reply_bytes_total"),
            2 * day.body.size() + bad.body.size() + full.body.size());
  EXPECT_EQ(after.at("histdata_modules_limit"), 1);
  EXPECT_EQ(after.at("histdata_modules_in_use"), 0);
  EXPECT_GE(delta(after, "histdata_settings_reloads_total"), 1);
}

TEST_P(OpsTest, HealthFollowsAStoreAwayAndBack) {
  stores.AddTicks(rtl::EncodeDate(2003, 7, 4), {{"09:30:00", "0005", 10.0, 10.1, 10.05, 100, 1000, 200}});
  HttpReply health = Admin("/health");
  EXPECT_EQ(health.status, 200) << health.body;
  EXPECT_EQ(health.body, "ok\n");

  const engine::AliasTarget historical = engine::ResolveAlias("Historical");
  const bool sqlite = historical.driver == engine::AliasTarget::Driver::kSQLite;
  const std::string driver = sqlite ? "sqlite" : "postgres";
  const std::string errors_key =
      "histdata_store_errors_total{alias=\"Historical\",driver=\"" + driver + "\"}";
  const auto before = Metrics();
  if (sqlite) {
    fs::rename(historical.location, historical.location + ".away");
  } else {
    stores.RouteAlias("Historical", historical.location + " dbname=histdata_store_gone");
  }
  health = Admin("/health");
  EXPECT_EQ(health.status, 503);
  EXPECT_EQ(health.body.rfind("store Historical (" + driver + "): ", 0), 0u) << health.body;
  // A request that needs the store fails, and the store's error is counted.
  server_.Get("/?symbol=0005&mode=1&dateStart=2003/7/1&dateOver=2003/7/4");
  const auto after = Metrics();
  EXPECT_GE(after.at(errors_key) - (before.count(errors_key) ? before.at(errors_key) : 0), 3);
  EXPECT_EQ(after.at("histdata_requests_total{mode=\"1\",outcome=\"failed\"}") -
                before.at("histdata_requests_total{mode=\"1\",outcome=\"failed\"}"),
            1);

  if (sqlite) {
    fs::rename(historical.location + ".away", historical.location);
  } else {
    stores.RouteAlias("Historical", historical.location);
  }
  health = Admin("/health");
  EXPECT_EQ(health.status, 200) << health.body;
}

INSTANTIATE_TEST_SUITE_P(Stores, OpsTest, ::testing::ValuesIn(Backends()), BackendName);

class OpsRoutesTest : public OpsTest {};

TEST_P(OpsRoutesTest, PageFilesPassThroughAndTheHistoryPortUnchanged) {
  HttpReply r = Admin("/chart");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_EQ(r.body, "<html>chart</html>\n");
  r = Admin("/web/lib/chart.js");
  EXPECT_EQ(r.Header("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(r.body, "var chart = 1;\n");
  // Nothing outside the folder, no folder, no kind not served.
  for (const char* target :
       {"/web/../secret.json", "/web/lib/../../secret.json", "/web/%2e%2e/secret.json",
        "/web//etc/passwd", "/web/escape.json", "/web/lib", "/web/notes.txt", "/web/",
        "/web/missing.js", "/nothing"}) {
    r = Admin(target);
    EXPECT_EQ(r.status, 404) << target;
    EXPECT_EQ(r.body, "not found\n") << target;
  }
  r = SendRequest(admin_->Port(), "PUT /history HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n"
                                  "Connection: close\r\n\r\n");
  EXPECT_EQ(r.status, 405);
  r = Post(admin_->Port(), "/metrics", "x=1");
  EXPECT_EQ(r.status, 405);

  // POST through the pass-through: parameters from the body, as on the
  // history port.
  const std::string form = "symbol=0005&timeStart=10:00";
  EXPECT_EQ(Post(admin_->Port(), "/history", form).body, server_.Post("/", form).body);

  // The history port still takes these paths as history requests.
  const HttpReply plain = server_.Get("/");
  for (const char* path : {"/metrics", "/health", "/chart"}) {
    r = server_.Get(path);
    EXPECT_EQ(r.status, 200) << path;
    EXPECT_EQ(r.Header("Content-Type"), "text/plain") << path;
    EXPECT_EQ(r.body, plain.body) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Stores, OpsRoutesTest, ::testing::Values(Backend::kSQLite), BackendName);

}  // namespace
}  // namespace histtest
