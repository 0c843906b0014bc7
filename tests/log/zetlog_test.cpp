#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/ProgVersionInfo.h"
#include "log/zetLog.h"
#include "log/zetUtilities.h"

namespace zetlog {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

void SetModified(const std::string& path, time_t when) {
  struct timeval times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    char tmpl[] = "/tmp/zetlog_test_XXXXXX";
    dir_ = mkdtemp(tmpl);
    log_ = dir_ + "/VELD.log";
  }
  ~LogTest() override {
    // Back to a process with no log and none lost, as the next test expects
    // when the tests share one process: an opening that found no folder
    // would otherwise drop every line written after it.
    SetLogFolder("");
    InitialLock();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string dir_;
  std::string log_;
};

// Test programs carry no version values: banner line 1 is a single blank.
const char kBanner[] = " \r\n";

TEST_F(LogTest, InitialLockOpensTheLogInTheFolder) {
  SetLogFolder(dir_);
  EXPECT_EQ(LogPath(), log_);
  InitialLock();
  DumpToFile(kLogFileName, "first", 1);
  DumpToFile("other.log", "", 7);  // name and flag do not matter
  DumpToFile(kLogFileName, "a\r\nb", 1);
  EXPECT_EQ(ReadFile(log_), std::string(kBanner) + "first\r\n\r\na\r\nb\r\n");
}

TEST_F(LogTest, FolderFromTheEnvironment) {
  SetLogFolder("");
  setenv("HISTDATA_LOG_DIR", (dir_ + "/").c_str(), 1);
  EXPECT_EQ(LogPath(), log_);
  unsetenv("HISTDATA_LOG_DIR");
  EXPECT_EQ(LogPath(), "");
  // No folder at all: no log, and appends are harmless.
  InitialLock();
  DumpToFile(kLogFileName, "dropped", 1);
}

TEST_F(LogTest, MissingFolderMeansNoLogAndNothingCreated) {
  SetLogFolder(dir_ + "/missing");
  InitialLock();
  DumpToFile(kLogFileName, "dropped", 1);
  EXPECT_FALSE(Exists(dir_ + "/missing"));
  EXPECT_FALSE(Exists(dir_ + "/missing/VELD.log"));
}

TEST_F(LogTest, FileLastWrittenYesterdayStartsOver) {
  std::ofstream(log_) << "old line\r\n";
  SetModified(log_, time(nullptr) - 86400);
  zetLogOpen(log_, "");
  DumpToFile(kLogFileName, "new", 1);
  EXPECT_EQ(ReadFile(log_), std::string(kBanner) + "new\r\n");
}

TEST_F(LogTest, FileWrittenTodayIsAppendedTo) {
  std::ofstream(log_) << "earlier today\r\n";
  // Midday today is today whatever the time now.
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  local.tm_hour = 12;
  local.tm_min = 0;
  local.tm_sec = 0;
  SetModified(log_, mktime(&local));
  zetLogOpen(log_, "");
  DumpToFile(kLogFileName, "again", 1);
  EXPECT_EQ(ReadFile(log_), std::string("earlier today\r\n") + kBanner + "again\r\n");
}

TEST_F(LogTest, MessageKinds) {
  zetLogOpen(log_, "");
  zetLogMsg("e", 0);
  zetLogMsg("w", 1);
  zetLogMsg("plain", 2);
  zetLogMsg("second", 3);  // no second log: dropped
  zetLogMsg("other", 200);
  EXPECT_EQ(ReadFile(log_), std::string(kBanner) + "Error: e\r\nWarning: w\r\nplain\r\nother\r\n");
}

TEST_F(LogTest, SecondLogTakesKindThree) {
  const std::string second = dir_ + "/second.log";
  zetLogOpen(log_, second);
  zetLogMsg("to second", 3);
  zetLogMsg("to first", 2);
  EXPECT_EQ(ReadFile(second), "to second\r\n");
  EXPECT_EQ(ReadFile(log_), std::string(kBanner) + "to first\r\n");
}

TEST_F(LogTest, CloseTurnsLoggingOff) {
  zetLogOpen(log_, "");
  zetLogClose();
  DumpToFile(kLogFileName, "after close", 1);
  EXPECT_NO_THROW(zetLogMsg("after close", 2));
  EXPECT_EQ(ReadFile(log_), kBanner);
}

TEST_F(LogTest, UnopenableFileLeavesLoggingOff) {
  // A folder where the file should be cannot be opened as the log.
  mkdir(log_.c_str(), 0755);
  zetLogOpen(log_, "");
  EXPECT_NO_THROW(zetLogMsg("x", 2));
  DumpToFile(kLogFileName, "x", 1);
  TLogFile file;
  EXPECT_THROW(zetLogOpenFile(file, log_), std::system_error);
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(LogTest, ManyThreadsWriteWholeLines) {
  zetLogOpen(log_, "");
  constexpr int kThreads = 8;
  constexpr int kLines = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        DumpToFile(kLogFileName, "thread " + std::to_string(t) + " line " + std::to_string(i) +
                                     " " + std::string(100 + (i % 50), 'x'), 1);
      }
    });
  }
  for (auto& t : threads) t.join();
  const std::string text = ReadFile(log_);
  ASSERT_EQ(text.compare(0, 3, kBanner), 0);
  std::set<std::string> seen;
  size_t pos = 3;
  const std::regex line_re("thread [0-9] line [0-9]+ x+");
  while (pos < text.size()) {
    const size_t end = text.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string line = text.substr(pos, end - pos);
    EXPECT_TRUE(std::regex_match(line, line_re)) << line;
    seen.insert(line.substr(0, line.find(" x")));
    pos = end + 2;
  }
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

TEST_F(LogTest, ExceptionIconOnlyWhenTheFileExists) {
  char cwd[4096];
  const std::string old = getcwd(cwd, sizeof cwd);
  ASSERT_EQ(chdir(dir_.c_str()), 0);
  zetLogSetExceptionIcon();
  const char* before = zetLogExceptionIcon();
  std::ofstream("except.ico") << "icon";
  zetLogSetExceptionIcon();
  ASSERT_NE(zetLogExceptionIcon(), nullptr);
  EXPECT_STREQ(zetLogExceptionIcon(), "except.ico");
  ASSERT_EQ(chdir(old.c_str()), 0);
  // Nothing was recorded before the file existed (unless an earlier run of
  // this program found one in its own working folder).
  if (before != nullptr) {
    EXPECT_STREQ(before, "except.ico");
  }
}

TEST(LogTimePrefix, Shape) {
  EXPECT_TRUE(std::regex_match(LogTimePrefix(),
                               std::regex("[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} =>")))
      << LogTimePrefix();
}

os::VersionValues Values() {
  return os::VersionValues{"Company", "Desc", "1.0.0", "histdata-server", "(c) 2026", "TM",
                           "histdata-server.orig", "HistData Server", "1.0.0p", "Comments"};
}

TEST(Banner, FromVersionValues) {
  const os::VersionValues v = Values();
  std::string line1, line2;
  zetLogBanner(TProgramVersionInfo(&v), line1, line2);
  EXPECT_EQ(line1, "HistData Server(histdata-server) 1.0.0");
  EXPECT_EQ(line2, "Company (c) 2026");
}

TEST(Banner, FallsBackAndLeavesOutEmptyParts) {
  os::VersionValues v = Values();
  v.product_name = "";
  v.internal_name = "";
  v.company = "";
  std::string line1, line2;
  zetLogBanner(TProgramVersionInfo(&v), line1, line2);
  EXPECT_EQ(line1, "histdata-server.orig 1.0.0");
  EXPECT_EQ(line2, "(c) 2026");
  v.copyright = nullptr;
  v.company = "Co";
  zetLogBanner(TProgramVersionInfo(&v), line1, line2);
  EXPECT_EQ(line2, "Co ");
}

TEST(Banner, NoVersionInformation) {
  std::string line1, line2;
  zetLogBanner(TProgramVersionInfo(nullptr), line1, line2);
  EXPECT_EQ(line1, " ");
  EXPECT_EQ(line2, "");
}

TEST(ProgramVersionInfo, IndicesAndCap) {
  os::VersionValues v = Values();
  const std::string long_value(300, 'v');
  v.file_version = long_value.c_str();
  TProgramVersionInfo info(&v);
  EXPECT_EQ(info.GetVersionString(1), "Company");
  EXPECT_EQ(info.GetVersionString(2), "Desc");
  EXPECT_EQ(info.GetVersionString(3), std::string(254, 'v'));
  EXPECT_EQ(info.GetVersionString(4), "histdata-server");
  EXPECT_EQ(info.GetVersionString(5), "(c) 2026");
  EXPECT_EQ(info.GetVersionString(6), "TM");
  EXPECT_EQ(info.GetVersionString(7), "histdata-server.orig");
  EXPECT_EQ(info.GetVersionString(8), "HistData Server");
  EXPECT_EQ(info.GetVersionString(9), "1.0.0p");
  EXPECT_EQ(info.GetVersionString(10), "Comments");
  EXPECT_EQ(info.GetVersionString(11), "");
  EXPECT_EQ(info.GetVersionString(-1), "");
  EXPECT_FALSE(info.GetVersionString(0).empty());
}

TEST(ProgramVersionInfo, ProgramWithoutValues) {
  TProgramVersionInfo info;  // this test program defines none
  for (int i = -1; i <= 11; ++i) EXPECT_EQ(info.GetVersionString(i), "") << i;
}

TEST(ProgramVersionInfo, MissingValuesReportedOnStandardError) {
  testing::internal::CaptureStderr();
  { TProgramVersionInfo info(nullptr); }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "GetFileVersionInfoSize error #:1813\n");
  const os::VersionValues v = Values();
  testing::internal::CaptureStderr();
  { TProgramVersionInfo info(&v); }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
}  // namespace zetlog
