#include "data/session_id.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtl/datetime.h"

namespace hist {
namespace {

// Seeds the identifiers as a process loaded at 11:35:02 would.
void LoadAt1135() {
  rtl::SetClockForTesting([] { return rtl::EncodeDate(2003, 7, 4) + rtl::EncodeTime(11, 35, 2, 0); });
  InitialSessionID();
  rtl::SetClockForTesting({});
}

TEST(SessionIdTest, FirstIdentifiersFollowTheLoadTime) {
  LoadAt1135();
  std::string first, second;
  GenNextSessionID(first);
  GenNextSessionID(second);
  EXPECT_EQ(first, "11350200000065");
  EXPECT_EQ(second, "11350200000066");
}

TEST(SessionIdTest, CounterIsLowerCaseHexadecimal) {
  LoadAt1135();
  std::string id;
  for (int i = 0; i < 155; ++i) GenNextSessionID(id);  // counter 255
  EXPECT_EQ(id, "113502000000ff");
  GenNextSessionID(id);
  EXPECT_EQ(id, "11350200000100");
}

TEST(SessionIdTest, SeedingAgainStartsOver) {
  LoadAt1135();
  std::string id;
  GenNextSessionID(id);
  GenNextSessionID(id);
  LoadAt1135();
  GenNextSessionID(id);
  EXPECT_EQ(id, "11350200000065");
}

TEST(SessionIdTest, ConcurrentCallersNeverShareAnIdentifier) {
  LoadAt1135();
  constexpr int kThreads = 4, kEach = 500;
  std::vector<std::vector<std::string>> ids(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&ids, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string id;
        GenNextSessionID(id);
        ids[t].push_back(id);
      }
    });
  }
  for (auto& t : threads) t.join();
  std::set<std::string> all;
  for (const auto& list : ids) all.insert(list.begin(), list.end());
  EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
  // The counter advanced once per identifier: the last one is 100 + 2000.
  EXPECT_EQ(*all.rbegin(), "11350200000834");
}

}  // namespace
}  // namespace hist
