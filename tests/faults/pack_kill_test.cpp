// The loader killed while it packs: packing runs in the transaction of a
// day, so whatever the moment, every pack left equals its rows, the server's
// replies are those of the rows, and packing again completes.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

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

  // Kills at moments spread over a pack's run; at least some must land
  // before it ends, or the test proves nothing.
  std::mt19937 random(std::random_device{}());
  int landed = 0;
  for (int attempt = 0; attempt < 6; ++attempt) {
    faults::Child pack(Admin({"pack"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 400));  // the moment, not a wait
    if (!pack.Running()) continue;
    if (WIFSIGNALED(pack.Kill(SIGKILL))) ++landed;
    EXPECT_EQ(Run({"pack", "--check"}), 0) << "after a kill " << attempt;
  }
  EXPECT_GT(landed, 0);

  // A tick import of past days killed while it writes or packs: the days
  // it held are whole, or as they were.
  std::string csv = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  for (int day = 1; day <= 3; ++day)
    for (int i = 0; i < 20000; ++i)
      csv += "2003-06-0" + std::to_string(day) + ",10:" + std::to_string(10 + i % 50) + ":00,S" +
             std::to_string(i % 7) + ",1,2,1.5,1," + std::to_string(i) + ",1\n";
  const std::string file = stores.WorkDir() + "/ticks.csv";
  std::ofstream(file) << csv;
  landed = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    faults::Child import(Admin({"import", "ticks", file}));
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1500));
    if (import.Running() && WIFSIGNALED(import.Kill(SIGKILL))) ++landed;
    EXPECT_EQ(Run({"pack", "--check"}), 0) << "after an import killed " << attempt;
  }
  EXPECT_GT(landed, 0);
  EXPECT_EQ(Run({"pack"}), 0);
  EXPECT_EQ(Run({"pack", "--check"}), 0);
}

INSTANTIATE_TEST_SUITE_P(Stores, PackKillTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
