// The loader killed in the middle of an import: the store is as it was
// before the import, the server serves it so, and the next import of the
// same file succeeds.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/rtl/datetime.h"
#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

std::string ProcText(pid_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process sleeps in the kernel at a place whose name holds `where`.
bool SleepsIn(pid_t pid, const std::string& where) {
  const std::string stat = ProcText(pid, "stat");
  const size_t state = stat.rfind(')');
  return state != std::string::npos && stat.compare(state + 2, 1, "S") == 0 &&
         ProcText(pid, "wchan").find(where) != std::string::npos;
}

class LoaderKillTest : public StoreTest {
 protected:
  std::vector<std::string> AdminCommand(const std::string& kind, const std::string& file) {
    std::vector<std::string> argv = {HISTDATA_ADMIN_BINARY, "import", kind, file, "--data-dir",
                                     stores.DataDir()};
    if (std::filesystem::exists(stores.DataDir() + "/aliases.ini")) {
      argv.insert(argv.end(), {"--aliases", stores.DataDir() + "/aliases.ini"});
    }
    return argv;
  }
  int RunAdmin(const std::string& kind, const std::string& file) {
    faults::Child admin(AdminCommand(kind, file));
    return admin.Wait();
  }
};

std::string DailyRows(int count) {
  std::string text = "c_date,stock_code,high,low,closing,shares_traded,turnover\n";
  for (int i = 0; i < count; ++i) {
    char row[80];
    std::snprintf(row, sizeof row, "2003-07-04,S%05d,2,1,1.5,100,150\n", i);
    text += row;
  }
  return text;
}

TEST_P(LoaderKillTest, DailyLoadKilledWhileRowsAreWrittenLeavesNothingBehind) {
  stores.InitSqlStores();
  stores.AddDaily({{rtl::EncodeDate(2003, 7, 3), "0005", 10.8, 10.2, 10.75, 2000, 21000}});
  const std::string old_request = "/?symbol=0005&mode=1&dateStart=2003/7/1&dateOver=2003/7/10";
  const std::string new_request = "/?symbol=S00001&mode=1&dateStart=2003/7/1&dateOver=2003/7/10";
  std::string old_reply, missing_reply;
  {
    TestServer server;
    old_reply = server.Get(old_request).body;
    missing_reply = server.Get(new_request).body;
  }
  ASSERT_NE(old_reply.find("2003/7/3|10.8|"), std::string::npos);

  // The file comes through a pipe, so the loader is held in the middle of
  // its transaction: it has written every row sent and waits for more.
  const std::string fifo = stores.WorkDir() + "/daily.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  {
    faults::Child admin(AdminCommand("daily", fifo));
    const int fd = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string rows = DailyRows(3000);
    ASSERT_EQ(write(fd, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
    ASSERT_TRUE(faults::WaitFor([&] {
      int unread = -1;
      return ioctl(fd, FIONREAD, &unread) == 0 && unread == 0 && SleepsIn(admin.pid(), "pipe");
    }));
    const int status = admin.Kill(SIGKILL);
    EXPECT_TRUE(WIFSIGNALED(status));
    close(fd);
  }
  {
    TestServer server;
    EXPECT_EQ(server.Get(old_request).body, old_reply);
    EXPECT_EQ(server.Get(new_request).body, missing_reply);
  }

  std::filesystem::remove(fifo);
  std::ofstream(fifo) << DailyRows(3000);
  ASSERT_EQ(RunAdmin("daily", fifo), 0);
  TestServer server;
  EXPECT_EQ(server.Get(old_request).body, old_reply);
  EXPECT_NE(server.Get(new_request).body.find("TICK|0|2003/7/4|2|1|1.5|100|150|"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Stores, LoaderKillTest, ::testing::ValuesIn(Backends()), BackendName);

// Tick loads write one file per day. A load killed while it has begun a new
// day and waits for the next one (another writer holds that day's file)
// leaves no new day behind.
TEST(LoaderKillTicksTest, TickLoadKilledBetweenDaysLeavesNoNewDayFile) {
  StoreFixture stores;
  stores.InitSqlStores();
  stores.AddTicks(rtl::EncodeDate(2003, 7, 4),
                  {{"09:30:00", "0005", 10.0, 10.1, 10.05, 100, 1000, 200}});
  const std::string day3 = "/?symbol=0005&mode=0&dateStart=2003/7/3&dateOver=2003/7/3";
  const std::string day4 = "/?symbol=0005&mode=0&dateStart=2003/7/4&dateOver=2003/7/4";
  // Walks back over the days that have a table.
  const std::string walk =
      "/?symbol=0005&mode=3&dateStart=2003/7/4&dateOver=2003/7/4&DayCount=2"
      "&timeStart=09:00&timeOver=16:00";
  std::string day3_reply, day4_reply, walk_reply;
  {
    TestServer server;
    day3_reply = server.Get(day3).body;
    day4_reply = server.Get(day4).body;
    walk_reply = server.Get(walk).body;
  }
  ASSERT_NE(day4_reply.find("10.05"), std::string::npos);

  std::string csv = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";
  for (int i = 0; i < 2000; ++i) csv += "2003-07-03,10:00:00,0005,1,2,1.5,1,1,1\n";
  csv += "2003-07-04,11:00:00,0005,1,2,1.5,1,1,1\n";
  const std::string file = stores.WorkDir() + "/ticks.csv";
  std::ofstream(file) << csv;

  const std::string held = stores.DataDir() + "/histdata/hist030704.db";
  bool killed = false;
  // The loader gives up on a held file after its busy time-out and cleans
  // up by itself; a machine too slow to see it wait before then tries again.
  for (int attempt = 0; attempt < 3 && !killed; ++attempt) {
    sqlite3* lock = nullptr;
    ASSERT_EQ(sqlite3_open(held.c_str(), &lock), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(lock, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    faults::Child admin({HISTDATA_ADMIN_BINARY, "import", "ticks", file, "--data-dir",
                         stores.DataDir()});
    const bool waiting = faults::WaitFor([&] {
      if (!admin.Running()) return true;
      std::error_code ec;
      bool has_held = false;
      for (const auto& fd : std::filesystem::directory_iterator(
               "/proc/" + std::to_string(admin.pid()) + "/fd", ec)) {
        if (std::filesystem::read_symlink(fd.path(), ec) == held) has_held = true;
      }
      return has_held && SleepsIn(admin.pid(), "sleep");
    });
    ASSERT_TRUE(waiting);
    killed = WIFSIGNALED(admin.Kill(SIGKILL));
    sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(lock);
  }
  ASSERT_TRUE(killed);

  EXPECT_FALSE(std::filesystem::exists(stores.DataDir() + "/histdata/hist030703.db"));
  {
    TestServer server;
    EXPECT_EQ(server.Get(day3).body, day3_reply);
    EXPECT_EQ(server.Get(day4).body, day4_reply);
    EXPECT_EQ(server.Get(walk).body, walk_reply);
  }
  faults::Child again({HISTDATA_ADMIN_BINARY, "import", "ticks", file, "--data-dir",
                       stores.DataDir()});
  ASSERT_EQ(again.Wait(), 0);
  TestServer server;
  EXPECT_NE(server.Get(day3).body.find("1.5"), std::string::npos);
}

}  // namespace
}  // namespace histtest
