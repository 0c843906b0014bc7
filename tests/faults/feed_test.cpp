// The live feed through the real programs: histdata-admin feed as a child
// process, killed and restarted, following a file that rotates, with bad
// lines, and under a running server; over both drivers.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/tick_packer.h"
#include "platform/engine/transaction.h"
#include "platform/engine/day_tables.h"
#include "platform/engine/sqlite/sqlite_driver.h"
#include "platform/metrics/metrics.h"
#include "platform/os/thread_priority.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/unix_time.h"
#include "service/ops/newest_tick.h"
#include "tests/faults/fault_support.h"
#include "tests/support/store_fixture.h"
#include "tests/support/test_server.h"
#include "tools/feed_position.h"

namespace histtest {
namespace {

constexpr const char* kHeader = "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n";

// A tick line whose Volume is `n`, so that each tick of a test is known by it.
std::string TickLine(const std::string& date, int64_t n, const std::string& symbol = "") {
  char line[160];
  const int64_t ms = n % 86400000;
  std::snprintf(line, sizeof line, "%s,%02d:%02d:%02d.%03d,%s,1.5,1.6,%.2f,100,%lld,200\n",
                date.c_str(), static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000),
                symbol.empty() ? ("S" + std::to_string(n % 17)).c_str() : symbol.c_str(),
                10.0 + n % 100, static_cast<long long>(n));
  return line;
}

void Append(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class FeedTest : public StoreTest {
 protected:
  std::vector<std::string> Command(const std::string& source, const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {HISTDATA_ADMIN_BINARY, "feed", source, "--data-dir",
                                     stores.DataDir(), "--rejects", Rejects(), "--status-seconds", "1"};
    if (std::filesystem::exists(stores.DataDir() + "/aliases.ini")) {
      argv.insert(argv.end(), {"--aliases", stores.DataDir() + "/aliases.ini"});
    }
    // How the feed shares the CPU is its own test's business: the others
    // run it at normal priority, so that they wait for their conditions, not
    // for the machine's load to leave the feed some CPU.
    if (std::find(extra.begin(), extra.end(), "--max-yield-ms") == extra.end()) {
      argv.insert(argv.end(), {"--max-yield-ms", "0"});
    }
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }
  // The feeder with its output in feed.log of the working folder, and its
  // standard input from `input` (/dev/null when empty).
  std::unique_ptr<faults::Child> StartFeed(const std::string& source,
                                           const std::vector<std::string>& extra = {},
                                           const std::string& input = "") {
    const std::string log = stores.WorkDir() + "/feed.log";
    return std::make_unique<faults::Child>(Command(source, extra), [log, input] {
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      const int in = ::open(input.empty() ? "/dev/null" : input.c_str(), O_RDONLY);
      ::dup2(in, 0);
    });
  }
  int RunFeed(const std::string& source, const std::vector<std::string>& extra = {},
              const std::string& input = "") {
    auto child = StartFeed(source, extra, input);
    const int status = child->Wait();
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  std::string Rejects() const { return stores.WorkDir() + "/rejects.txt"; }
  std::string FeedLog() const { return ReadAll(stores.WorkDir() + "/feed.log"); }

  // Ticks committed under the source's position, as the store holds it.
  int64_t Committed(const std::string& source_name) {
    try {
      auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/false);
      auto p = admin::ReadNewestPosition(*connection, source_name);
      return p ? p->ticks : 0;
    } catch (const std::exception&) {
      return 0;  // the store is not there yet
    }
  }

  // The Volume of each row of a day table in ID order; IDs must run 1, 2, ...
  std::vector<int64_t> Volumes(double day) {
    const std::string table = engine::DayTableName(day);
    auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/false);
    if (!connection->TableExists(table)) return {};
    engine::Statement sql;
    sql.pieces = {"SELECT id, volume FROM " + table + " ORDER BY id"};
    auto cursor = connection->Query(sql, {});
    std::vector<engine::Value> row;
    std::vector<int64_t> volumes;
    while (cursor->Next(row)) {
      const int64_t id = row[0].kind == engine::Value::Kind::kFloat ? static_cast<int64_t>(row[0].d) : row[0].i;
      EXPECT_EQ(id, static_cast<int64_t>(volumes.size()) + 1) << table << ": IDs must run without gaps";
      volumes.push_back(static_cast<int64_t>(row[1].kind == engine::Value::Kind::kFloat ? row[1].d : row[1].i));
    }
    return volumes;
  }
};

std::vector<int64_t> Range(int64_t from, int64_t to) {
  std::vector<int64_t> out;
  for (int64_t n = from; n < to; ++n) out.push_back(n);
  return out;
}

// A million ticks over two days with bad lines among them, the feeder killed
// with SIGKILL at random moments and restarted each time: in the end every
// tick is in its day's table once, in file order, and every bad line is in
// the reject file once.
TEST_P(FeedTest, KilledAndRestartedFeedLosesAndRepeatsNothing) {
  constexpr int64_t kTicks = 1000000, kFirstDay = 400000, kBadEvery = 50000;
  const std::string source = stores.WorkDir() + "/ticks.csv";
  std::vector<int64_t> bad_lines;
  {
    std::string text = kHeader;
    int64_t line = 1;
    for (int64_t n = 0; n < kTicks; ++n) {
      text += TickLine(n < kFirstDay ? "2003-07-03" : "2003-07-04", n);
      ++line;
      if (n % kBadEvery == kBadEvery - 1) {
        text += "2003-07-04,10:61:00,BAD,1,2,3,4," + std::to_string(n) + ",5\n";
        bad_lines.push_back(++line);
      }
    }
    Append(source, text);
  }
  std::random_device device;
  const unsigned seed = device();
  std::mt19937 random(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  int kills = 0;
  for (int k = 0; k < 6; ++k) {
    // Some point of the next sixth of the file, reached by the commits.
    const int64_t target = kTicks * k / 7 + std::uniform_int_distribution<int64_t>(1, kTicks / 7)(random);
    auto feeder = StartFeed(source, {"--until-end", "--commit-ticks", "5000"});
    ASSERT_TRUE(faults::WaitFor([&] { return !feeder->Running() || Committed(source) >= target; },
                                std::chrono::seconds(300)));
    if (feeder->Running()) {
      feeder->Kill(SIGKILL);
      ++kills;
    }
  }
  EXPECT_GE(kills, 3) << FeedLog();
  ASSERT_EQ(RunFeed(source, {"--until-end"}), 0) << FeedLog();
  EXPECT_EQ(Committed(source), kTicks);
  EXPECT_EQ(Volumes(rtl::EncodeDate(2003, 7, 3)), Range(0, kFirstDay));
  EXPECT_EQ(Volumes(rtl::EncodeDate(2003, 7, 4)), Range(kFirstDay, kTicks));
  // The day closed by the first tick of the next is packed in step with its
  // rows, whatever the kills interrupted.
  {
    auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/true);
    const engine::PackCheck check = engine::CheckDayTablePacks(*connection, "hist030703");
    EXPECT_TRUE(check.problems.empty()) << check.problems.front();
    // A kill between the next day's first commit and the packing leaves the
    // closed day without packs; the restart packs it.
    engine::InTransaction(*connection, [&] { connection->ClearPacks("hist030703"); });
  }
  ASSERT_EQ(RunFeed(source, {"--until-end"}), 0) << FeedLog();
  {
    auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/true);
    const engine::PackCheck check = engine::CheckDayTablePacks(*connection, "hist030703");
    EXPECT_TRUE(check.problems.empty()) << check.problems.front();
    EXPECT_GT(check.counts.keys, 0);
    EXPECT_EQ(check.counts.packed, check.counts.keys);
  }
  // The reject file: each bad line once, by its line number.
  std::istringstream rejects(ReadAll(Rejects()));
  std::vector<int64_t> rejected;
  for (std::string line; std::getline(rejects, line);) {
    rejected.push_back(std::stoll(line));
    EXPECT_NE(line.find(":" + std::to_string(rejected.back()) + ": bad time in column Time: \"10:61:00\""),
              std::string::npos) << line;
  }
  EXPECT_EQ(rejected, bad_lines);
}

// A file rotated under the feeder (renamed, written to a little more, then
// made again), and rotated again while the feeder is down: every line of
// every file once.
TEST_P(FeedTest, FollowsAFileAcrossRotationRunningAndStopped) {
  const std::string path = stores.WorkDir() + "/live.csv";
  const std::string date = "2003-07-04";
  auto lines = [&](int64_t from, int64_t to) {
    std::string text;
    for (int64_t n = from; n < to; ++n) text += TickLine(date, n);
    return text;
  };
  Append(path, kHeader + lines(0, 100));
  auto feeder = StartFeed(path, {"--commit-ms", "20"});
  ASSERT_TRUE(faults::WaitFor([&] { return Committed(path) == 100; })) << FeedLog();
  std::filesystem::rename(path, path + ".1");
  Append(path + ".1", lines(100, 150));  // the writer had it open still
  ASSERT_TRUE(faults::WaitFor([&] { return Committed(path) == 150; })) << FeedLog();
  Append(path, kHeader + lines(150, 200));
  ASSERT_TRUE(faults::WaitFor([&] { return Committed(path) == 200; })) << FeedLog();
  // A last line without its line end waits for the rest of it.
  Append(path, lines(200, 201).substr(0, 20));
  Append(path, lines(200, 201).substr(20) + lines(201, 210));
  ASSERT_TRUE(faults::WaitFor([&] { return Committed(path) == 210; })) << FeedLog();
  feeder->Kill(SIGKILL);

  std::filesystem::rename(path, path + ".2");
  Append(path + ".2", lines(210, 240));
  Append(path, kHeader + lines(240, 270));
  ASSERT_EQ(RunFeed(path, {"--until-end"}), 0) << FeedLog();
  EXPECT_EQ(Volumes(rtl::EncodeDate(2003, 7, 4)), Range(0, 270)) << FeedLog();
  EXPECT_NE(FeedLog().find("rotated"), std::string::npos) << FeedLog();
}

// The feed yields the CPU while it keeps up with its source. A backlog it
// takes longer to read than it may yield has it raised to normal priority
// (counted in /metrics); once it has caught up it yields again.
TEST_P(FeedTest, YieldsTheCpuWhileItKeepsUpAndIsRaisedWhileBehind) {
  if (!os::MayLeaveIdle()) GTEST_SKIP() << "this user may not return a thread from idle priority";
  const std::string path = stores.WorkDir() + "/live.csv";
  std::string text = kHeader;
  for (int64_t n = 0; n < 200000; ++n) text += TickLine("2003-07-04", n);
  Append(path, text);
  auto feeder = StartFeed(path, {"--max-yield-ms", "20", "--metrics-port", "0"});
  ASSERT_TRUE(faults::WaitFor([&] { return Committed(path) == 200000; })) << FeedLog();
  // The feed's thread is the process's first.
  ASSERT_TRUE(faults::WaitFor([&] { return os::IsIdle(feeder->pid()); })) << FeedLog();
  const std::string log = FeedLog();
  EXPECT_NE(log.find("yields the CPU while it keeps up"), std::string::npos) << log;
  const size_t at = log.find("metrics on http://127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << log;
  const int port = std::stoi(log.substr(at + std::strlen("metrics on http://127.0.0.1:")));
  const std::string metrics_text = Get(static_cast<uint16_t>(port), "/metrics").body;
  const std::string name = "\nhistdata_feed_priority_raises_total ";
  const size_t raises = metrics_text.find(name);
  ASSERT_NE(raises, std::string::npos) << metrics_text;
  EXPECT_GE(std::stoll(metrics_text.substr(raises + name.size())), 1) << metrics_text;

  Append(path, TickLine("2003-07-04", 200000));
  ASSERT_TRUE(faults::WaitFor([&] { return Committed(path) == 200001; })) << FeedLog();
  ASSERT_TRUE(faults::WaitFor([&] { return os::IsIdle(feeder->pid()); })) << FeedLog();
  const int status = feeder->Kill(SIGTERM);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << FeedLog();
}

// Bad lines of every kind from standard input: each kept in the reject
// file with its line number and reason, the good ones loaded, the feed
// going on; a replay of the same stream after the commit adds nothing.
TEST_P(FeedTest, RejectsBadLinesWithTheirLineNumbersAndGoesOn) {
  const std::string input = stores.WorkDir() + "/in.csv";
  Append(input, std::string(kHeader) +
                    "2003-07-04,09:30:00,AAA,1,2,3,4,5,6\n"          // 2
                    "2003-07-04,25:00:00,AAA,1,2,3,4,5,6\n"          // 3
                    "2003-07-04,09:30:01,,1,2,3,4,5,6\n"             // 4
                    "2003-07-04,09:30:01,ABCDEFGHIJKLMNOP,1,2,3,4,5,6\n"  // 5
                    "2003-07-04,09:30:01,\"AAA,1,2\n"                 // 6
                    "2003-07-04,09:30:01,AAA,1,2\n"                   // 7
                    "2003-07-04,09:30:01,AAA,x,2,3,4,5,6\n"           // 8
                    "Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,Nope\n"  // 9
                    "2003-07-04,09:30:02,BBB,,,7,,8,\r\n"             // 10
                    "2103-07-04,09:30:03,AAA,1,2,3,4,5,6\n"          // 11
                    "\x01\x02\x03\n"                                 // 12
                    "\n"                                             // 13
                    "Symbol,Date,Time,Bid,Offer,Price,BidSize,Volume,OfferSize\n"  // 14
                    "CCC,2003-07-04,09:30:04,1,2,3,4,9,6\n");        // 15
  ASSERT_EQ(RunFeed("-", {}, input), 0) << FeedLog();
  const std::string expected =
      "3\t-:3: bad time in column Time: \"25:00:00\" (expected hh:nn:ss or hh:nn:ss.zzz)\t"
      "2003-07-04,25:00:00,AAA,1,2,3,4,5,6\n"
      "4\t-:4: missing Symbol\t2003-07-04,09:30:01,,1,2,3,4,5,6\n"
      "5\t-:5: Symbol longer than 15 characters: \"ABCDEFGHIJKLMNOP\"\t"
      "2003-07-04,09:30:01,ABCDEFGHIJKLMNOP,1,2,3,4,5,6\n"
      "6\t-:6: unterminated quoted field\t2003-07-04,09:30:01,\"AAA,1,2\n"
      "7\t-:7: expected 9 fields, found 5\t2003-07-04,09:30:01,AAA,1,2\n"
      "8\t-:8: bad number in column bid: \"x\"\t2003-07-04,09:30:01,AAA,x,2,3,4,5,6\n"
      "9\t-:9: unknown column \"Nope\" for ticks\tDate,Time,Symbol,Bid,Offer,Price,BidSize,Volume,Nope\n"
      "11\t-:11: date 2103-07-04 shares the day table hist030704 with 2003-07-04\t"
      "2103-07-04,09:30:03,AAA,1,2,3,4,5,6\n"
      "12\t-:12: expected 9 fields, found 1\t\\x01\\x02\\x03\n";
  EXPECT_EQ(ReadAll(Rejects()), expected);
  const double day = rtl::EncodeDate(2003, 7, 4);
  EXPECT_EQ(Volumes(day), (std::vector<int64_t>{5, 8, 9}));
  EXPECT_NE(FeedLog().find("3 ticks committed, 9 lines rejected"), std::string::npos) << FeedLog();
  // The same stream again: its committed lines are skipped.
  Append(input, "2003-07-04,09:30:05,DDD,1,2,3,4,10,6\n");
  ASSERT_EQ(RunFeed("-", {}, input), 0) << FeedLog();
  EXPECT_EQ(Volumes(day), (std::vector<int64_t>{5, 8, 9, 10}));
  EXPECT_EQ(ReadAll(Rejects()), expected);
}

void WriteGzip(const std::string& path, const std::string& text) {
  gzFile file = gzopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(gzwrite(file, text.data(), static_cast<unsigned>(text.size())), static_cast<int>(text.size()));
  ASSERT_EQ(gzclose(file), Z_OK);
}

// Vendors' files come compressed: import and feed read them as they are,
// and a damaged one fails the import whole.
TEST_P(FeedTest, ImportAndFeedReadGzipFiles) {
  std::string feed_text = kHeader, import_text = kHeader;
  for (int64_t n = 0; n < 20000; ++n) {
    feed_text += TickLine("2003-07-04", n);
    import_text += TickLine("2003-07-03", n);
  }
  const std::string feed_gz = stores.WorkDir() + "/feed.csv.gz";
  const std::string import_gz = stores.WorkDir() + "/import.csv.gz";
  WriteGzip(feed_gz, feed_text);
  WriteGzip(import_gz, import_text);
  ASSERT_EQ(RunFeed(feed_gz, {"--until-end"}), 0) << FeedLog();
  std::vector<std::string> import = {HISTDATA_ADMIN_BINARY, "import", "ticks", import_gz,
                                     "--data-dir", stores.DataDir()};
  if (std::filesystem::exists(stores.DataDir() + "/aliases.ini")) {
    import.insert(import.end(), {"--aliases", stores.DataDir() + "/aliases.ini"});
  }
  EXPECT_EQ(faults::Child(import).Wait(), 0);
  EXPECT_EQ(Volumes(rtl::EncodeDate(2003, 7, 4)), Range(0, 20000));
  EXPECT_EQ(Volumes(rtl::EncodeDate(2003, 7, 3)), Range(0, 20000));
  // Cut off in the middle: refused, nothing of it kept.
  const std::string whole = ReadAll(import_gz);
  const std::string cut = stores.WorkDir() + "/cut.csv.gz";
  Append(cut, whole.substr(0, whole.size() / 2));
  import[3] = cut;
  EXPECT_NE(faults::Child(import).Wait(), 0);
  EXPECT_EQ(Volumes(rtl::EncodeDate(2003, 7, 3)).size(), 20000u);
}

std::string Date(double day, const char* format) { return rtl::FormatDateTime(format, day); }

// Ticks fed under a running server reach its next request: mode 0, mode 2
// (a tick must be an hour old; one of a minute ago is not served yet) and
// mode 6 from the tick tables; and /metrics shows the newest tick of today.
TEST_P(FeedTest, RunningServerServesFedTicksAtItsNextRequest) {
  stores.InitSqlStores();
  stores.AddSymbols({{"FEED", "1"}});
  TestServer server;
  EXPECT_EQ(server.Get("/?symbol=FEED&mode=2").body, "ERROR|Record not found.|");

  // Whole seconds, so that the lines can be compared.
  const double now = std::floor(rtl::Now() * 86400.0) / 86400.0;
  const double old1 = now - 1.0 / 24 - 120.0 / 86400, old2 = now - 1.0 / 24 - 60.0 / 86400;
  const double recent = now - 30.0 / 86400;
  auto line = [](double at, const char* price, int volume) {
    return Date(at, "yyyy-mm-dd") + "," + Date(at, "hh:nn:ss") + ",FEED,12.5,12.6," + price + ",1000," +
           std::to_string(volume) + ",2000\n";
  };
  const std::string path = stores.WorkDir() + "/live.csv";
  Append(path, "");
  auto feeder = StartFeed(path, {"--commit-ms", "20"});
  Append(path, line(old1, "12.34", 100));
  const std::string tick1 = "|" + Date(old1, "hh:nn:ss") + "|12.50|12.60|12.34|1000|2000|100|";
  ASSERT_TRUE(faults::WaitFor([&] {
    return server.Get("/?symbol=FEED&mode=2").body.find(tick1) != std::string::npos;
  })) << server.Get("/?symbol=FEED&mode=2").body << FeedLog();

  Append(path, line(old2, "12.35", 200) + line(recent, "99.99", 300));
  const std::string window = "&dateStart=" + Date(old1, "yyyy/mm/dd") + "&dateOver=" +
                             Date(recent, "yyyy/mm/dd") + "&timeStart=00:00:00&timeOver=23:59:59";
  ASSERT_TRUE(faults::WaitFor([&] {
    return server.Get("/?symbol=FEED&mode=0" + window).body.find("|99.99|") != std::string::npos;
  })) << FeedLog();
  const std::string mode0 = server.Get("/?symbol=FEED&mode=0" + window).body;
  EXPECT_NE(mode0.find("|12.34|"), std::string::npos) << mode0;
  EXPECT_NE(mode0.find("|12.35|"), std::string::npos) << mode0;
  // The tick of half a minute ago is not an hour old.
  const std::string mode2 = server.Get("/?symbol=FEED&mode=2").body;
  EXPECT_NE(mode2.find("|" + Date(old2, "hh:nn:ss") + "|12.50|12.60|12.35|"), std::string::npos) << mode2;
  EXPECT_EQ(mode2.find("99.99"), std::string::npos) << mode2;
  // One-minute bars over the day of the first tick hold its price.
  const std::string mode6 = server.Get("/?symbol=FEED&mode=6&interval=60&dateStart=" +
                                       Date(old1, "yyyy/mm/dd") + "&dateOver=" + Date(old1, "yyyy/mm/dd") +
                                       "&timeStart=00:00:00&timeOver=23:59:59").body;
  EXPECT_NE(mode6.find("|12.340|"), std::string::npos) << mode6.substr(0, 2000);

  // The newest tick of today's table, for alerts on a stale feed.
  hist::ops::UpdateNewestTickGauges();
  const std::string text = metrics::Default().Render();
  const std::string name = "histdata_newest_tick_timestamp_seconds{store=\"HISTDATA\"} ";
  const size_t at = text.find(name);
  ASSERT_NE(at, std::string::npos) << text;
  const double shown = std::stod(text.substr(at + name.size()));
  if (std::floor(recent) == std::floor(now)) {
    EXPECT_NEAR(shown, rtl::LocalToUnixSeconds(recent), 0.01);
  }
  feeder->Kill(SIGTERM);
  EXPECT_NE(FeedLog().find("3 ticks committed"), std::string::npos) << FeedLog();
}

// Requests served while the feed commits many small batches into today's
// table never answer with an error or without the symbol's ticks (a day
// written live keeps its commits in a log that readers read through); and
// the feeder, stopped, leaves the day whole in its own file.
TEST_P(FeedTest, ServerAnswersEveryRequestWhileTheFeedCommits) {
  stores.InitSqlStores();
  stores.AddSymbols({{"BUSY", "1"}});
  TestServer server;
  const double start = std::floor(rtl::Now() * 86400.0) / 86400.0 - 2.0 / 24;
  auto line = [&](int n) {
    const double at = start + n / 86400.0 / 100;  // 10 ms apart, two hours ago
    return Date(at, "yyyy-mm-dd") + "," + Date(at, "hh:nn:ss.zzz") + ",BUSY,1.5,1.6,2.5,100," +
           std::to_string(n) + ",200\n";
  };
  const std::string path = stores.WorkDir() + "/live.csv";
  Append(path, line(0));
  auto feeder = StartFeed(path, {"--commit-ms", "2"});
  ASSERT_TRUE(faults::WaitFor([&] { return server.Get("/?symbol=BUSY&mode=2").body.find("|0|") != std::string::npos; }))
      << FeedLog();

  constexpr int kTicks = 30000;
  std::thread writer([&] {
    for (int n = 1; n < kTicks; n += 100) {
      std::string chunk;
      for (int k = n; k < std::min(n + 100, kTicks); ++k) chunk += line(k);
      Append(path, chunk);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  int requests = 0, errors = 0;
  std::string first_error;
  auto check = [&](const HttpReply& reply, const std::string& what) {
    ++requests;
    // The fed price: 2.5 in mode 0's lines, 2.50 in mode 2's.
    const bool tick = reply.body.find("|2.5") != std::string::npos;
    if (reply.status == 200 && reply.body.find("ERROR") == std::string::npos && tick) return;
    if (++errors == 1) first_error = what + ": " + std::to_string(reply.status) + " " + reply.body.substr(0, 300);
  };
  const std::string day = Date(start, "yyyy/mm/dd");
  while (Committed(std::filesystem::absolute(path).lexically_normal().string()) < kTicks) {
    check(server.Get("/?symbol=BUSY&mode=2"), "mode 2");
    check(server.Get("/?symbol=BUSY&mode=0&dateStart=" + day + "&dateOver=" + day + "&timeStart=" +
                     Date(start, "hh:nn:ss") + "&timeOver=" + Date(start + 2.0 / 86400, "hh:nn:ss")),
          "mode 0");
    if (requests > 200000) break;
  }
  writer.join();
  ASSERT_TRUE(faults::WaitFor([&] {
    return Committed(std::filesystem::absolute(path).lexically_normal().string()) == kTicks;
  })) << FeedLog();
  EXPECT_EQ(errors, 0) << first_error;
  EXPECT_GT(requests, 20);
  EXPECT_NE(server.Get("/?symbol=BUSY&mode=2").body.find("|" + std::to_string(kTicks - 1) + "|"), std::string::npos);
  feeder->Kill(SIGTERM);
  EXPECT_TRUE(WIFEXITED(feeder->Wait())) << FeedLog();
  if (GetParam() != Backend::kSQLite) return;
  // Stopped while the server still has the day open, the feeder has left
  // the day's file whole by itself: a copy of that file alone, as a backup
  // would take it, holds every tick.
  const std::string table = engine::DayTableName(start);
  const std::string copy = stores.WorkDir() + "/copy";
  std::filesystem::create_directories(copy);
  std::filesystem::copy_file(stores.DataDir() + "/histdata/" + table + ".db", copy + "/" + table + ".db");
  engine::AliasTarget target;
  target.location = copy;
  target.day_tables = true;
  auto connection = engine::ConnectSQLite(target, /*writable=*/false);
  EXPECT_EQ(connection->CountRows(table, kTicks + 1), kTicks);
}

INSTANTIATE_TEST_SUITE_P(Stores, FeedTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
