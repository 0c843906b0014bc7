// The settings file replaced while the server starts and serves: garbage,
// a file far larger than any settings file, one cut short. Every key then
// takes its default: every reply is the one the default settings give.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

// Every key the server reads, at its default.
constexpr const char* kDefaults =
    "[KORVA]\r\nMaxConnection=10\r\nNominalUpdateTimestamp=16:00:00\r\nExecutionTickOnly=N\r\n"
    "CalcMode=DC\r\nDBMode=PARADOX\r\nCutTimeRange=\r\nDBUSER=sa\r\nDBPASSWORD=\r\n"
    "[ZET_DATABASE]\r\nDSN_source=zetdata\r\nDSN_user=\r\nDSN_password=\r\n";

// Replaces the file's bytes in place, as an editor that truncates and
// writes does, so that readers may meet it half written.
void WriteInPlace(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, std::min<size_t>(4096, bytes.size() - done));
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
  close(fd);
}

TEST(SettingsFaultTest, GarbageOrHugeSettingsFileWhileServingGivesTheDefaults) {
  StoreFixture stores;
  stores.InitSqlStores();
  stores.AddTicks(rtl::EncodeDate(2003, 7, 4),
                  {{"09:30:00", "0005", 10.0, 10.1, 10.05, 100, 1000, 200},
                   {"09:30:01.250", "0005", 10.1, 10.2, 10.1, 0, 1200, 300}});
  const std::vector<std::string> requests = {
      "/?symbol=0005&mode=0&dateStart=2003/7/4&dateOver=2003/7/4",
      "/?symbol=0005&mode=3&dateStart=2003/7/4&dateOver=2003/7/4&timeStart=09:00&timeOver=10:00",
      "/?symbol=0005&mode=6&interval=60&dateStart=2003/7/4&dateOver=2003/7/4"
      "&timeStart=09:30&timeOver=09:32",
  };
  const std::string ini = stores.WorkDir() + "/zet.ini";
  std::vector<std::string> expected;
  stores.WriteSettingsFile(kDefaults);
  {
    TestServer server;
    for (const std::string& r : requests) expected.push_back(server.Get(r).body);
  }
  ASSERT_NE(expected[0].find("10.05"), std::string::npos);

  std::mt19937 random(7);
  auto garbage = [&](size_t size) {
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
  };
  // The server starts over garbage, too.
  WriteInPlace(ini, garbage(5000));
  const size_t log_before = stores.ReadLog().size();
  TestServer server;
  std::atomic<bool> stop{false};
  std::atomic<int> served{0}, wrong{0};
  std::mutex first_wrong_mutex;
  std::string first_wrong;
  std::vector<std::thread> clients;
  for (int c = 0; c < 4; ++c) {
    clients.emplace_back([&, c] {
      for (size_t i = c; !stop; ++i) {
        const size_t k = i % requests.size();
        const HttpReply r = server.Get(requests[k]);
        if (r.status != 200 || r.body != expected[k]) {
          if (wrong++ == 0) {
            std::lock_guard<std::mutex> lock(first_wrong_mutex);
            first_wrong = requests[k] + " -> " + std::to_string(r.status) + " " + r.body;
          }
        }
        ++served;
      }
    });
  }
  auto serve_some = [&] {
    const int target = served + 8;
    EXPECT_TRUE(faults::WaitFor([&] { return served >= target; }));
  };
  for (int round = 0; round < 10; ++round) {
    WriteInPlace(ini, garbage(1 + random() % 20000));
    serve_some();
    // A settings file cut short in the middle of a line (before the keys
    // whose malformed values are errors of their own).
    WriteInPlace(ini, std::string(kDefaults).substr(0, random() % 28));
    serve_some();
  }
  // Far larger than any settings file: the reader looks at a bounded part.
  {
    const int fd = open(ini.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t{100} << 20), 0);
    close(fd);
    std::ofstream(ini, std::ios::app) << "\r\n[KORVA]\r\nCalcMode=UW\r\nDBMode=SQL\r\n";
  }
  serve_some();
  stop = true;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(wrong, 0) << "of " << served << " replies; the first: " << first_wrong;
  const std::string logged = stores.ReadLog().substr(log_before);
  EXPECT_EQ(logged.find("Exception"), std::string::npos) << logged;
}

}  // namespace
}  // namespace histtest
