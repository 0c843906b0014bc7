// A day table's file damaged under the running server (truncated, or
// overwritten with garbage in place or by a new file): the request for that
// day logs the store's error and ends its reply on a whole line; other days
// and other requests are served as before.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string DayRequest(const char* day) {
  return std::string("/?symbol=0005&mode=0&timeStart=09:00:00&timeOver=16:00:00&dateStart=") +
         day + "&dateOver=" + day;
}

TEST(DayTableFaultTest, DamagedDayFileEndsOnlyItsOwnRequest) {
  StoreFixture stores;
  stores.InitSqlStores();
  std::vector<TickRow> rows;
  for (int i = 0; i < 3000; ++i) {
    rows.push_back({rtl::EncodeTime(9, 30, 0, 0) + i * rtl::kOneSecond, "0005", 10.0 + i % 7,
                    10.1, 10.05, 100, 1000.0 + i, 200});
  }
  stores.AddTicks(rtl::EncodeDate(2003, 7, 3), rows);
  stores.AddTicks(rtl::EncodeDate(2003, 7, 4), rows);
  const std::string file = stores.DataDir() + "/histdata/hist030703.db";
  ASSERT_TRUE(std::filesystem::exists(file));
  const std::string original = ReadFile(file);

  TestServer server;
  const HttpReply good3 = server.Get(DayRequest("2003/7/3"));
  const HttpReply good4 = server.Get(DayRequest("2003/7/4"));
  ASSERT_GT(good3.body.size(), 100000u);

  std::mt19937 random(11);
  std::string garbage(original.size(), '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  struct Damage {
    const char* what;
    std::function<void()> apply;
    // Pages changed behind an unchanged header may still be served from the
    // reader's cache: the old rows, whole, are a right answer too.
    bool may_go_unseen = false;
  };
  const std::vector<Damage> damages = {
      {"truncated to half", [&] { std::filesystem::resize_file(file, original.size() / 2); }},
      {"truncated past the header", [&] { std::filesystem::resize_file(file, 50); }},
      {"garbage written in place",
       [&] { std::ofstream(file, std::ios::binary | std::ios::in) << garbage; }},
      {"garbage after the header written in place",
       [&] {
         std::ofstream out(file, std::ios::binary | std::ios::in);
         out.seekp(100);
         out << garbage.substr(100);
       },
       true},
      {"replaced by a garbage file",
       [&] {
         std::ofstream(file + ".tmp", std::ios::binary) << garbage;
         std::filesystem::rename(file + ".tmp", file);
       }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.what);
    // The server has the intact file open from the request before.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << original;
    ASSERT_EQ(server.Get(DayRequest("2003/7/3")).body, good3.body);
    damage.apply();
    const size_t log_before = stores.ReadLog().size();
    const HttpReply damaged = server.Get(DayRequest("2003/7/3"));
    EXPECT_EQ(damaged.status, 200);
    EXPECT_TRUE(faults::WholeLines(damaged.body));
    const std::string logged = stores.ReadLog().substr(log_before);
    if (damaged.body != good3.body || !damage.may_go_unseen) {
      // Lines up to the damage, never a line that is not in the table.
      EXPECT_NE(damaged.body, good3.body);
      EXPECT_EQ(good3.body.compare(0, damaged.body.size(), damaged.body), 0);
      EXPECT_NE(logged.find("Exception: "), std::string::npos) << logged;
      EXPECT_EQ(logged.find("Exception:  when"), std::string::npos) << "no message";
    }
    // The other day and the other requests are untouched.
    EXPECT_EQ(server.Get(DayRequest("2003/7/4")).body, good4.body);
    EXPECT_EQ(server.Get("/?symbol=0005&mode=7").status, 200);
  }
}

}  // namespace
}  // namespace histtest
