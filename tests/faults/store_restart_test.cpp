// PostgreSQL stopped and started again while ten clients send mixed
// requests, through the real server, on a cluster of the test's own. Every
// reply is whole: the full reply, the lines before the failure (whole
// lines, perhaps followed by error lines), or the server's exact 500 reply;
// nothing hangs; and once the store is back every kind of request is served
// in full again, mode 1 within its own tries.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

const std::string kCluster = std::string(HISTDATA_SOURCE_DIR) + "/scripts/pg-cluster.sh";
constexpr const char* kPort = "54346";

// Runs a command; its standard output.
std::string Run(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buf[256];
  while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
  pclose(p);
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

bool IsServerErrorReply(const HttpReply& r) {
  return r.status == 500 &&
         r.body.rfind("<html><title>Internal Server Error 500</title>\r\n"
                      "<h1>Internal Server Error 500</h1><hr>\r\nException: ",
                      0) == 0 &&
         r.body.size() >= 13 && r.body.compare(r.body.size() - 13, 13, "<br></html>\r\n") == 0 &&
         r.Header("Content-Length") == std::to_string(r.body.size());
}

// The full reply, or its first lines followed by nothing but error lines.
bool IsWholeOrCutShort(const std::string& body, const std::string& full) {
  if (!faults::WholeLines(body)) return false;
  size_t keep = 0;
  while (keep < body.size() && keep < full.size()) {
    const size_t end = body.find("\r\n", keep);
    if (body.compare(keep, end + 2 - keep, full, keep, end + 2 - keep) != 0) break;
    keep = end + 2;
  }
  for (size_t at = keep; at < body.size(); at = body.find("\r\n", at) + 2) {
    if (body.compare(at, 6, "ERROR|") != 0) return false;
  }
  return true;
}

// A cluster of this test's own, so that stopping it disturbs no other test.
class OwnCluster {
 public:
  OwnCluster() {
    char dir[] = "/tmp/histtest-pg.XXXXXX";
    dir_ = mkdtemp(dir);
    chmod(dir_.c_str(), 0755);
    conninfo_ = Start();
  }
  ~OwnCluster() {
    Stop();
    std::filesystem::remove_all(dir_);
  }
  std::string Start() { return Run("cd / && " + kCluster + " start " + dir_ + " " + kPort); }
  void Stop() { Run("cd / && " + kCluster + " stop " + dir_); }
  const std::string& conninfo() const { return conninfo_; }

 private:
  std::string dir_, conninfo_;
};

TEST(StoreRestartTest, PostgresStoppedAndStartedUnderTenClients) {
  if (!std::filesystem::exists("/usr/lib/postgresql")) GTEST_SKIP() << "no PostgreSQL server";
  OwnCluster cluster;
  ASSERT_NE(cluster.conninfo().find("port="), std::string::npos);
  const char* shared = std::getenv("HISTDATA_TEST_PG");
  const std::string saved = shared ? shared : "";
  setenv("HISTDATA_TEST_PG", cluster.conninfo().c_str(), 1);
  {
    StoreFixture stores(Backend::kPostgres);
    stores.InitSqlStores();
    const double day = rtl::EncodeDate(2003, 7, 4);
    std::vector<TickRow> ticks;
    for (int i = 0; i < 300; ++i) {
      ticks.push_back({rtl::EncodeTime(9, 30, 0, 0) + i * 10 * rtl::kOneSecond, "0005",
                       10.0 + i % 5, 10.1, 10.05 + i % 3, 100, 1000.0 + i, 200});
    }
    stores.AddTicks(day, ticks);
    stores.AddNames({{"0005", "Harbour Bank", "HB"}});
    stores.AddDaily({{day - 1, "0005", 10.8, 10.2, 10.75, 2000, 21000},
                     {day, "0005", 11, 10.6, 10.9, 1500, 16000}});
    const std::vector<std::string> requests = {
        "/?symbol=0005&mode=0&dateStart=2003/7/4&dateOver=2003/7/4",
        "/?symbol=0005&mode=1&dateStart=2003/7/1&dateOver=2003/7/4",
        "/?symbol=0005&mode=3&dateStart=2003/7/4&dateOver=2003/7/4&timeStart=09:00"
        "&timeOver=16:00",
        "/?symbol=0005&mode=6&interval=300&dateStart=2003/7/4&dateOver=2003/7/4"
        "&timeStart=09:30&timeOver=10:30",
    };
    TestServer server;
    std::vector<std::string> full;
    for (const std::string& r : requests) {
      full.push_back(server.Get(r).body);
      ASSERT_GT(full.back().size(), 100u) << r << ": " << full.back();
    }

    std::atomic<bool> stop{false};
    std::atomic<int> replies{0}, cut_short{0}, server_errors{0}, bad{0};
    std::mutex mutex;
    std::string first_bad;
    // The time of the latest full reply of each kind.
    std::map<size_t, std::chrono::steady_clock::time_point> last_full;
    std::vector<std::thread> clients;
    for (int c = 0; c < 10; ++c) {
      clients.emplace_back([&, c] {
        for (size_t i = c; !stop; ++i) {
          const size_t k = i % requests.size();
          const HttpReply r = server.Get(requests[k]);
          ++replies;
          std::lock_guard<std::mutex> lock(mutex);
          if (r.status == 200 && r.body == full[k]) {
            last_full[k] = std::chrono::steady_clock::now();
          } else if (r.status == 200 && IsWholeOrCutShort(r.body, full[k])) {
            ++cut_short;
          } else if (IsServerErrorReply(r)) {
            ++server_errors;
          } else if (bad++ == 0) {
            first_bad = requests[k] + " -> " + r.status_line + "\n" + r.body;
          }
        }
      });
    }
    auto wait_replies = [&](int more) {
      const int target = replies + more;
      return faults::WaitFor([&] { return replies >= target; });
    };
    EXPECT_TRUE(wait_replies(40));
    cluster.Stop();
    EXPECT_TRUE(wait_replies(40));
    cluster.Start();
    const auto back = std::chrono::steady_clock::now();
    // Served in full again: a full reply of every kind, sent after the
    // store came back.
    const bool recovered = faults::WaitFor([&] {
      std::lock_guard<std::mutex> lock(mutex);
      for (size_t k = 0; k < requests.size(); ++k) {
        auto it = last_full.find(k);
        if (it == last_full.end() || it->second < back + std::chrono::milliseconds(1)) return false;
      }
      return true;
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - back).count();
    stop = true;
    for (std::thread& t : clients) t.join();
    EXPECT_TRUE(recovered);
    RecordProperty("seconds_to_full_replies", std::to_string(seconds));
    std::printf("store back: every kind served in full after %.2f s; %d replies, %d cut short, "
                "%d server errors\n",
                seconds, replies.load(), cut_short.load(), server_errors.load());
    EXPECT_EQ(bad, 0) << first_bad;
    // Mode 1 reconnects within its own tries: a request alone gets it all.
    EXPECT_EQ(server.Get(requests[1]).body, full[1]);
  }
  if (shared) {
    setenv("HISTDATA_TEST_PG", saved.c_str(), 1);
  } else {
    unsetenv("HISTDATA_TEST_PG");
  }
}

}  // namespace
}  // namespace histtest
