// Replies read from packs are the bytes of replies read from rows: every
// tick mode (0, 3 under both calculations, 4, 6 under its three bar rules)
// over random markets, through the real server, answered from the rows,
// then with the days packed, then after rows were appended to packed days,
// with packs damaged or cut short, and with today's table growing under the
// running server. The server keeps the packs it read (over SQLite, from
// files that stood unchanged for a second, so the story waits for that):
// a kept pack must never outlive a change to its rows or to itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/engine/aliases.h"
#include "platform/engine/pack_cache.h"
#include "platform/engine/tick_packer.h"
#include "platform/engine/transaction.h"
#include "platform/metrics/metrics.h"
#include "platform/os/files.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/text.h"
#include "tests/generators/tick_service_test.h"

namespace histtest {
namespace {

using rtl::EncodeDate;

const double kDays[] = {EncodeDate(2003, 7, 2), EncodeDate(2003, 7, 3), EncodeDate(2003, 7, 4)};
const char* const kTables[] = {"hist030702", "hist030703", "hist030704"};

// Random ticks of one day: three spellings of one key that interleave and
// tie on times, a symbol long enough to fill several blocks of a pack, one
// with missing fields and uneven prices, one whose times fall between
// milliseconds and whose volumes have halves and pass 32 bits, and a small
// one.
class MarketMaker {
 public:
  explicit MarketMaker(unsigned seed) : rng_(seed) {}

  std::vector<TickRow> Day(int heavy) {
    std::vector<TickRow> rows;
    Symbol(rows, "ABC", 60, false);
    Symbol(rows, "abc", 60, false);
    Symbol(rows, "Abc", 20, false);
    Symbol(rows, "HVY", heavy, false);
    Symbol(rows, "NUL", 80, true);
    Symbol(rows, "X1", 15, false);
    Odd(rows);
    // IDs follow the order given: shuffled, so that ties on time between
    // spellings are broken by arrival, not by symbol.
    std::shuffle(rows.begin(), rows.end(), rng_);
    return rows;
  }

 private:
  int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  void Symbol(std::vector<TickRow>& rows, const std::string& symbol, int count, bool gaps) {
    double price = 10 + Below(90);
    double volume = 0;
    int ms = (9 * 3600 + 30 * 60) * 1000 + Below(600000);
    for (int i = 0; i < count; ++i) {
      // Some ticks share the time of the one before.
      if (Below(5) != 0) ms += Below(60000);
      if (ms >= 86400000) ms = 86399999;
      price = std::max(0.01, price + (Below(7) - 3) * (gaps && Below(2) ? 0.005 : 0.01));
      volume += 100 * Below(20);
      if (Below(40) == 0) volume = std::max(0.0, volume - 1000);  // a corrected total
      TickRow r{rtl::EncodeTime(0, 0, 0, 0) + ms / 86400000.0, symbol};
      r.price = price;
      r.bid = price - 0.01;
      r.offer = price + 0.01;
      r.bidsize = 100.0 * (1 + Below(30));
      r.offersize = gaps ? 37.5 * Below(9) : 100.0 * (1 + Below(30));
      r.volume = volume;
      if (gaps) {
        if (Below(6) == 0) r.bid.reset();
        if (Below(6) == 0) r.price.reset();
        if (Below(6) == 0) r.volume.reset();
        if (Below(8) == 0) r.offersize.reset();
      }
      rows.push_back(r);
    }
  }

  void Odd(std::vector<TickRow>& rows) {
    double seconds = 9 * 3600 + 29 * 60 + Below(120);
    double volume = 2147483000.0;
    for (int i = 0; i < 200; ++i) {
      seconds += Below(40) + Below(1000) / 1e4;
      volume += 100 * Below(3) + (Below(2) ? 0.5 : 0);
      TickRow r{seconds / 86400.0, "ODD"};
      r.price = 20 + Below(50) / 100.0;
      r.bid = 19.99;
      r.offer = 20.51;
      r.volume = volume;
      rows.push_back(r);
    }
  }

  std::mt19937 rng_;
};

uint64_t PackReads(const char* source) {
  return metrics::Default()
      .AddCounter("histdata_tick_day_reads_total", "", {{"source", source}})
      .Value();
}

uint64_t UnsoundPacks() {
  return metrics::Default().AddCounter("histdata_tick_packs_unsound_total", "").Value();
}

class PacksTest : public TickServiceTest {
 protected:
  PacksTest() {
    SetClock(kDays[2] + rtl::EncodeTime(16, 30, 0, 0));
    stores.AddSymbols({{"ABC", "1"}, {"abc", "1"}, {"Abc", "1"}, {"HVY", "1"}, {"NUL", "1"}, {"X1", "1"}});
  }

  void ForEachTable(void (*action)(engine::Connection&, const std::string&)) {
    auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/true);
    for (const char* table : kTables) {
      engine::InTransaction(*connection, [&] { action(*connection, table); });
    }
  }
  void PackAll() {
    ForEachTable([](engine::Connection& c, const std::string& t) { engine::PackDayTable(c, t); });
  }
  void DropPacks() {
    ForEachTable([](engine::Connection& c, const std::string& t) { c.ClearPacks(t); });
  }
  bool HasPack(const std::string& table, const std::string& symbol) {
    auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/true);
    std::string bytes;
    return connection->ReadPack(table, symbol, bytes);
  }
  // Replaces the pack of `symbol`'s key with `damage(bytes)`.
  template <class Damage>
  void DamagePack(const std::string& table, const std::string& symbol, Damage damage) {
    auto connection = engine::ConnectAlias("HISTDATA", {}, /*writable=*/true);
    std::string bytes;
    ASSERT_TRUE(connection->ReadPack(table, symbol, bytes));
    damage(bytes);
    engine::InTransaction(*connection, [&] { connection->StorePack(table, rtl::LowerAscii(symbol), bytes); });
  }

  // Over SQLite, waits until no day file or log has changed for over a
  // second, the age from which the server keeps what it reads of a file.
  void SettleDays() {
    if (GetParam() != Backend::kSQLite) return;
    auto settled = [](const std::string& path) {
      os::FileVersion v;
      return !os::RegularFileVersion(path, v) || os::LeftAloneFor(v, 1'100'000'000);
    };
    for (const char* table : kTables) {
      const std::string file = stores.DataDir() + "/histdata/" + table + ".db";
      while (!settled(file) || !settled(file + "-wal")) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  // Every request of the suite under every settings case; the bodies in
  // order.
  std::vector<std::string> Replies() {
    struct Case {
      const char* calc;
      const char* tick_only;
    };
    const std::vector<std::string> symbols = {"ABC", "abc", "Abc", "aBC", "HVY", "hvy", "NUL", "X1", "ODD", "ZZZ"};
    const std::vector<std::string> requests = {
        "&mode=0&dateStart=2003/07/02&dateOver=2003/07/04",
        "&mode=0&dateStart=2003/07/02&dateOver=2003/07/04&timeStart=10:15:30&timeOver=15:00:00",
        "&mode=0&dateStart=2003/07/03&dateOver=2003/07/03&timeStart=11:00:00&timeOver=11:30:00",
        "&mode=3&DayCount=2&dateStart=2003/07/02&dateOver=2003/07/04",
        "&mode=3&dateStart=2003/07/03&dateOver=2003/07/04&timeStart=09:45:00&timeOver=14:00:00",
        "&mode=3",
        "&mode=4&interval=60&dateStart=2003/07/02&dateOver=2003/07/04",
        "&mode=4&interval=300&dateStart=2003/07/03&dateOver=2003/07/04&timeStart=10:00:00&timeOver=15:30:00",
        "&mode=6&interval=60&dateStart=2003/07/02&dateOver=2003/07/04&timeStart=09:30:00&timeOver=16:00:00",
        "&mode=6&interval=300&DayCount=2&dateStart=2003/07/02&dateOver=2003/07/04",
        "&mode=6&interval=120"};
    std::vector<std::string> bodies;
    for (const Case& c : {Case{"DC", "N"}, Case{"UW", "N"}, Case{"UW", "Y"}}) {
      stores.SetSetting("KORVA", "CalcMode", c.calc);
      stores.SetSetting("KORVA", "ExecutionTickOnly", c.tick_only);
      stores.SetSetting("KORVA", "NominalUpdateTimestamp", "12:00:00");
      stores.SetSetting("KORVA", "DBMode", "PARADOX");
      for (const std::string& symbol : symbols) {
        for (const std::string& request : requests) {
          const HttpReply reply = Get("/?symbol=" + symbol + request);
          EXPECT_EQ(reply.status, 200) << symbol << request;
          bodies.push_back(symbol + request + "\n" + reply.body);
        }
      }
    }
    // ExecutionTickOnly, once raised, stays raised for the life of the
    // service: the next pass starts with a service loaded afresh.
    StopServer();
    return bodies;
  }

  // Expects the same bodies; a difference is shown as the request and the
  // first line that differs.
  static void ExpectSame(const std::vector<std::string>& rows, const std::vector<std::string>& packs,
                         const char* what) {
    ASSERT_EQ(rows.size(), packs.size());
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i] == packs[i]) continue;
      size_t at = 0;
      while (at < rows[i].size() && at < packs[i].size() && rows[i][at] == packs[i][at]) ++at;
      const size_t line = rows[i].rfind('\n', at) + 1;
      FAIL() << what << ": " << rows[i].substr(0, rows[i].find('\n')) << "\n  rows:  "
             << rows[i].substr(line, rows[i].find('\n', at) - line) << "\n  packs: "
             << packs[i].substr(line, packs[i].find('\n', at) - line);
    }
  }

  // The whole story on one market: rows, packed, appended to, damaged.
  void Run(unsigned seed, int heavy) {
    MarketMaker market(seed);
    for (int d = 0; d < 3; ++d) stores.AddTicks(kDays[d], market.Day(heavy));

    const std::vector<std::string> rows = Replies();
    size_t with_data = 0;
    for (const std::string& body : rows) with_data += body.find("|0|") != std::string::npos ? 1 : 0;
    ASSERT_GT(with_data, rows.size() / 3) << "the market should answer the requests of its symbols with data";

    PackAll();
    const uint64_t pack_reads = PackReads("pack");
    ExpectSame(rows, Replies(), "packed");
    EXPECT_GT(PackReads("pack"), pack_reads + 100) << "the packed days should have been read from their packs";
    SettleDays();
    const uint64_t kept = engine::PackCache::Default().Hits();
    ExpectSame(rows, Replies(), "packed, settled");
    EXPECT_GT(engine::PackCache::Default().Hits(), kept + 100) << "unchanged packs should have been kept";

    // Rows appended to packed days, one of them today's under the running
    // server: the packs of the keys they touch go, the others stay, and
    // none that the server kept is read again.
    MarketMaker more(seed + 100);
    stores.SetSetting("KORVA", "ExecutionTickOnly", "N");
    ASSERT_EQ(Get("/?symbol=HVY&mode=2").status, 200);  // the server runs while rows arrive
    stores.AddTicks(kDays[0], {TickRow{"12:00:00", "abc", 1, 2, 3, 4, 5, 6}, TickRow{"12:00:00", "ABC", 7, 8, 9, 1, 2, 3}});
    stores.AddTicks(kDays[2], more.Day(40));
    EXPECT_FALSE(HasPack(kTables[0], "ABC"));
    EXPECT_TRUE(HasPack(kTables[0], "hvy"));
    EXPECT_FALSE(HasPack(kTables[2], "HVY"));
    SettleDays();
    const std::vector<std::string> appended = Replies();
    DropPacks();
    const std::vector<std::string> appended_rows = Replies();
    ExpectSame(appended_rows, appended, "appended to packed days");
    EXPECT_NE(appended_rows, rows) << "the appended ticks should show in the replies";

    // Damaged and truncated packs are passed over for their rows and
    // counted each time; each is logged once, not at every read.
    PackAll();
    // A pack read, and so kept, then rewritten is read again.
    const std::string abc_day = "/?symbol=abc&mode=0&dateStart=2003/07/03&dateOver=2003/07/03";
    stores.SetSetting("KORVA", "ExecutionTickOnly", "N");
    SettleDays();
    ASSERT_EQ(Get(abc_day).body, Get(abc_day).body);
    DamagePack(kTables[1], "abc", [](std::string& b) { b[b.size() / 2] ^= 0x20; });
    SettleDays();
    const uint64_t before_abc = UnsoundPacks();
    Get(abc_day);
    EXPECT_GT(UnsoundPacks(), before_abc) << "the kept pack should have given way to the damaged one";
    StopServer();
    DamagePack(kTables[0], "HVY", [](std::string& b) { b.resize(b.size() / 2); });
    DamagePack(kTables[2], "NUL", [](std::string& b) { b.resize(3); });
    SettleDays();
    const uint64_t unsound = UnsoundPacks();
    ExpectSame(appended_rows, Replies(), "damaged packs");
    EXPECT_GT(UnsoundPacks(), unsound + 30);
    size_t damaged_lines = 0;
    for (const std::string& line : LogLines()) damaged_lines += line.find(" is damaged (") != std::string::npos ? 1 : 0;
    EXPECT_LE(damaged_lines, 3u);
  }
};

TEST_P(PacksTest, SmallMarketGivesTheSameBytesFromPacksAsFromRows) { Run(1, 300); }

TEST_P(PacksTest, LongerMarketGivesTheSameBytesFromPacksAsFromRows) { Run(2, 900); }

INSTANTIATE_TEST_SUITE_P(Stores, PacksTest, ::testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace histtest
