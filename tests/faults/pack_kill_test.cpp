// The loader killed while it packs: packing runs in the transaction of a
// day, so whatever the moment, every pack left equals its rows, the server's
// replies are those of the rows, and packing again completes.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"

namespace histtest {
namespace {

class PackKillTest : public StoreTest {
 protected:
  std::vector<std::string> Admin(std::vector<std::string> args) {
    args.insert(args.begin(), HISTDATA_ADMIN_BINARY);
    args.insert(args.end(), {"--data-dir", stores.DataDir()});
    if (std::filesystem::exists(stores.DataDir() + "/aliases.ini"))
      args.insert(args.end(), {"--aliases", stores.DataDir() + "/aliases.ini"});
    return args;
  }
  int Run(const std::vector<std::string>& args) {
    faults::Child child(Admin(args));
    return child.Wait();
  }
};

TEST_P(PackKillTest, KilledWhilePackingLeavesEveryPackEqualToItsRows) {
  ASSERT_EQ(Run({"sample", "--days", "8", "--symbols", "6", "--ticks", "2000", "--end", "2003-07-04"}), 0);
  ASSERT_EQ(Run({"pack", "--check"}), 0);

  // Kills at random moments of a pack's run; a run that ends before its
  // moment halves the span the next moment is drawn from, so that kills
  // land whatever the machine's speed.
  std::mt19937 random(std::random_device{}());
  auto kill_at_random = [&](const std::vector<std::string>& args, const char* what) {
    int landed = 0, span_ms = 400;
    for (int attempt = 0; attempt < 12 && landed < 3; ++attempt) {
      faults::Child child(Admin(args));
      std::this_thread::sleep_for(std::chrono::milliseconds(random() % span_ms));  // the moment, not a wait
      if (child.Running() && WIFSIGNALED(child.Kill(SIGKILL))) {
        ++landed;
      } else {
        span_ms = std::max(span_ms / 2, 10);
      }
      EXPECT_EQ(Run({"pack", "--check"}), 0) << what << ", attempt " << attempt;
    }
    EXPECT_EQ(landed, 3) << what;
  };
  kill_at_random({"pack"}, "pack killed");

  // A tick import of past days killed while it writes or packs: the days
  // it held are whole, or as they were.
  std::string csv = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  for (int day = 1; day <= 3; ++day)
    for (int i = 0; i < 20000; ++i)
      csv += "2003-06-0" + std::to_string(day) + ",10:" + std::to_string(10 + i % 50) + ":00,S" +
             std::to_string(i % 7) + ",1,2,1.5,1," + std::to_string(i) + ",1\n";
  const std::string file = stores.WorkDir() + "/ticks.csv";
  std::ofstream(file) << csv;
  kill_at_random({"import", "ticks", file}, "import killed");
  EXPECT_EQ(Run({"pack"}), 0);
  EXPECT_EQ(Run({"pack", "--check"}), 0);
}

INSTANTIATE_TEST_SUITE_P(Stores, PackKillTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
