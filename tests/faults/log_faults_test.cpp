// A log that cannot take its lines, through the real server: a disk that
// fills while serving, a log folder that cannot be opened, a file size limit
// on the server process. Requests are served as before, and every lost line
// is counted.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "log/zetUtilities.h"
#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"

namespace histtest {
namespace {

// Mode 6 over the interval tables logs two lines per request.
constexpr const char* kLoggingRequest =
    "/?symbol=0005&mode=6&interval=60&timeStart=09:30:00&timeOver=09:33:00"
    "&dateStart=2003/7/4&dateOver=2003/7/4";

class LogFaultTest : public ::testing::Test {
 protected:
  LogFaultTest() {
    stores.SetSetting("KORVA", "DBMode", "SQL");
    stores.AddSymbols({{"0005", "1"}});
    stores.AddIntervals(60, {{"0005", "2003/07/04", "09:31:00", 10, 11, 9, 10.5, 100}});
  }
  StoreFixture stores;
};

// The descriptor this process holds on the log file.
int LogDescriptor() {
  const std::filesystem::path log = std::filesystem::canonical(zetlog::LogPath());
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(entry.path(), ec) == log) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

TEST_F(LogFaultTest, DiskFullWhileServingLosesOnlyLogLinesAndCountsThem) {
  TestServer server;
  const HttpReply before = server.Get(kLoggingRequest);
  ASSERT_EQ(before.status, 200);
  ASSERT_NE(before.body.find("INTERVAL|1|2003/07/04|09:31:00|"), std::string::npos);
  ASSERT_NE(stores.ReadLog().find("Interval Done"), std::string::npos);

  // The log's file now sits on a device that is always full.
  const int fd = LogDescriptor();
  ASSERT_GE(fd, 0);
  const int saved = dup(fd);
  const int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0) << "no /dev/full";
  ASSERT_GE(dup2(full, fd), 0);
  const uint64_t failures = zetlog::LogWriteFailures();
  const std::string log_before = stores.ReadLog();
  for (int i = 0; i < 3; ++i) {
    const HttpReply r = server.Get(kLoggingRequest);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, before.body);
  }
  EXPECT_GE(zetlog::LogWriteFailures(), failures + 6);  // two lines a request

  // Room again: the next line lands.
  ASSERT_GE(dup2(saved, fd), 0);
  close(saved);
  close(full);
  EXPECT_EQ(server.Get(kLoggingRequest).body, before.body);
  const std::string log_after = stores.ReadLog();
  EXPECT_EQ(log_after.rfind("Interval Done\r\n"), log_after.size() - 15);
  EXPECT_GT(log_after.size(), log_before.size());
}

TEST_F(LogFaultTest, LogFolderThatCannotBeOpenedLeavesRequestsAloneAndCountsLines) {
  // Root opens any folder it likes; a file where the folder should be
  // stops everyone.
  const std::string folder = zetlog::LogPath().substr(0, zetlog::LogPath().rfind('/'));
  const std::string not_a_folder = stores.WorkDir() + "/not-a-folder";
  std::ofstream(not_a_folder) << "x";
  zetlog::SetLogFolder(not_a_folder);
  zetlog::InitialLock();
  const uint64_t failures = zetlog::LogWriteFailures();
  {
    TestServer server;
    const HttpReply r = server.Get(kLoggingRequest);
    EXPECT_EQ(r.status, 200);
    EXPECT_NE(r.body.find("INTERVAL|1|2003/07/04|09:31:00|"), std::string::npos);
  }
  EXPECT_GE(zetlog::LogWriteFailures(), failures + 2);
  zetlog::SetLogFolder(folder);
  zetlog::InitialLock();
  const uint64_t reopened = zetlog::LogWriteFailures();
  TestServer server;
  server.Get(kLoggingRequest);
  EXPECT_EQ(zetlog::LogWriteFailures(), reopened);
  EXPECT_NE(stores.ReadLog().find("Interval Done"), std::string::npos);
}

TEST_F(LogFaultTest, FileSizeLimitOnTheServerFailsLogWritesButNotTheServer) {
  std::string expected;
  {
    TestServer server;
    expected = server.Get(kLoggingRequest).body;
  }
  ASSERT_NE(expected.find("INTERVAL|1|"), std::string::npos);
  // A log already at the limit the server runs under (ulimit -f).
  const std::string log_dir = stores.WorkDir() + "/limited-log";
  std::filesystem::create_directory(log_dir);
  constexpr rlim_t kLimit = 4096;
  std::ofstream(log_dir + "/VELD.log") << std::string(kLimit, 'x');
  const uint16_t port = faults::FreePort();
  faults::Child child({HISTDATA_SERVER_BINARY, "--port", std::to_string(port), "--address",
                       "127.0.0.1", "--data-dir", stores.DataDir(), "--log-dir", log_dir,
                       "--workdir", stores.WorkDir()},
                      [] {
                        rlimit limit{kLimit, kLimit};
                        setrlimit(RLIMIT_FSIZE, &limit);
                      });
  ASSERT_TRUE(faults::WaitFor([&] { return faults::PortOpen(port) || !child.Running(); }));
  ASSERT_TRUE(child.Running()) << "the server ended at start, wait status " << child.Wait();
  for (int i = 0; i < 3; ++i) {
    const HttpReply r = Get(port, kLoggingRequest);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, expected);
  }
  EXPECT_TRUE(child.Running()) << "wait status " << child.Wait();
  EXPECT_EQ(std::filesystem::file_size(log_dir + "/VELD.log"), kLimit);
}

}  // namespace
}  // namespace histtest
