#include "tools/sample.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <queue>
#include <stdexcept>

#include "platform/engine/errors.h"
#include "platform/engine/tick_packer.h"
#include "platform/engine/tick_writer.h"
#include "platform/engine/transaction.h"
#include "platform/rtl/datetime.h"
#include "tools/csv_values.h"
#include "tools/tick_tables.h"

namespace admin {
namespace {

using Driver = engine::AliasTarget::Driver;

// Sessions in milliseconds from midnight.
constexpr int32_t kMorningOpen = (9 * 60 + 30) * 60000;
constexpr int32_t kMorningClose = 12 * 3600000;
constexpr int32_t kAfternoonOpen = 13 * 3600000;
constexpr int32_t kAfternoonClose = 16 * 3600000;
constexpr int32_t kTradingMs = (kMorningClose - kMorningOpen) + (kAfternoonClose - kAfternoonOpen);

// A small generator of our own, so that a seed makes the same market with
// any standard library.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

// Invented words; no combination names a real company on purpose.
struct Word {
  const char* e;
  const char* c;
};
const Word kFirst[] = {
    {"Amber", "琥珀"},  {"Cobalt", "钴蓝"},   {"Juniper", "杜松"}, {"Maple", "枫叶"},
    {"Quartz", "石英"}, {"Saffron", "藏红"},  {"Tidewater", "潮水"}, {"Willow", "柳树"},
    {"Basalt", "玄武"}, {"Cinder", "余烬"},   {"Heron", "苍鹭"},   {"Indigo", "靛青"},
    {"Larch", "落叶松"}, {"Nimbus", "雨云"},  {"Opal", "蛋白石"},  {"Thistle", "蓟花"}};
const Word kSecond[] = {
    {"Lantern", "灯笼"}, {"Orchid", "兰花"}, {"Ferry", "渡轮"},  {"Meadow", "草甸"},
    {"Anvil", "铁砧"},   {"Compass", "罗盘"}, {"Kestrel", "红隼"}, {"Pebble", "卵石"},
    {"Quill", "羽笔"},   {"Rowan", "花楸"},  {"Sextant", "六分仪"}, {"Trellis", "棚架"},
    {"Velvet", "丝绒"},  {"Wicker", "柳编"}, {"Yarrow", "蓍草"}, {"Zephyr", "西风"}};
const Word kSector[] = {
    {"Holdings", "控股"}, {"Logistics", "物流"}, {"Textiles", "纺织"}, {"Foods", "食品"},
    {"Instruments", "仪器"}, {"Properties", "地产"}, {"Energy", "能源"}, {"Telecom", "电讯"}};
constexpr int kFirstCount = sizeof(kFirst) / sizeof(kFirst[0]);
constexpr int kSecondCount = sizeof(kSecond) / sizeof(kSecond[0]);
constexpr int kSectorCount = sizeof(kSector) / sizeof(kSector[0]);

double RoundTo(double value, double step) {
  // Whole steps, then three decimals, so that 12.35 is stored as 12.35.
  return std::round(std::round(value / step) * step * 1000.0) / 1000.0;
}

double TickSize(double price) { return price < 10 ? 0.01 : price < 50 ? 0.05 : 0.1; }

// Trading days (weekdays) ending on `last`, ascending. Day 0, 1899-12-30,
// was a Saturday.
std::vector<int32_t> TradingDays(int count, int32_t last) {
  std::vector<int32_t> days;
  for (int32_t day = last; static_cast<int>(days.size()) < count; --day) {
    const int weekday = ((day % 7) + 7) % 7;  // 0 Saturday, 1 Sunday
    if (weekday >= 2) days.push_back(day);
  }
  std::reverse(days.begin(), days.end());
  return days;
}

// One symbol's market over the days.
struct Walk {
  double price;
  double volume = 0;
  double bid = 0, offer = 0;
  double move_chance = 0;      // of a trade moving the price
  std::vector<int32_t> times;  // the day's tick times, ascending
  size_t next = 0;
};

class SampleMaker {
 public:
  explicit SampleMaker(const SampleOptions& options) : options_(options), random_(options.seed) {
    if (options.days < 1 || options.days > 3660)
      throw std::invalid_argument("days must be from 1 to 3660");
    if (options.symbols < 1 || options.symbols > 99999)
      throw std::invalid_argument("symbols must be from 1 to 99999");
    if (options.ticks_per_symbol < 1 || options.ticks_per_symbol > 10000000)
      throw std::invalid_argument("ticks per symbol must be from 1 to 10000000");
    if (options.heavy_ticks < 0 || options.heavy_ticks > 10000000)
      throw std::invalid_argument("heavy ticks must be from 0 to 10000000");
  }

  SampleResult Run() {
    SampleResult result;
    const int32_t today = static_cast<int32_t>(rtl::Date());
    const int32_t last = options_.last_day > 0 ? options_.last_day : today;
    result.days = TradingDays(options_.days, last);
    result.symbols = SampleSymbols(options_.symbols, options_.seed);
    int32_t cutoff = kAfternoonClose;  // ticks before this time of day
    if (options_.until_now && result.days.back() == today) {
      cutoff = static_cast<int32_t>(std::llround((rtl::Now() - today) * rtl::kMsPerDay));
    }

    InitAllStores(options_.zet_alias, options_.credentials);
    WriteNamesAndSessions(result.symbols);

    walks_.resize(result.symbols.size());
    // Opening prices from 2 to 200, evenly spread on a log scale.
    for (Walk& w : walks_)
      w.price = RoundTo(2.0 * std::exp(random_.Uniform() * std::log(100.0)), 0.01);

    for (size_t s = 0; s < walks_.size(); ++s) per_day_ += TicksOf(s);
    planned_ = per_day_ * static_cast<int64_t>(result.days.size());
    auto ticks = engine::ConnectAlias(kTickAlias, options_.credentials, /*writable=*/true);
    const engine::AliasTarget target = engine::ResolveAlias(kTickAlias);
    for (size_t d = 0; d < result.days.size(); ++d) {
      const bool last_day = d + 1 == result.days.size();
      WriteDay(*ticks, target, result.days[d], last_day ? cutoff : kAfternoonClose, result);
    }
    std::vector<std::string> tables;
    for (int32_t day : result.days) {
      if (ticks->TableExists(engine::DayTableName(day))) tables.push_back(engine::DayTableName(day));
    }
    ticks->PrepareToServe(tables);
    ticks.reset();

    DeriveOptions derive;
    derive.first_day = result.days.front();
    derive.last_day = result.days.back();
    derive.zet_alias = options_.zet_alias;
    derive.credentials = options_.credentials;
    derive.progress = options_.derive_progress;
    result.derived = Derive(derive);
    return result;
  }

 private:
  int TicksOf(size_t symbol) const {
    return symbol == 0 && options_.heavy_ticks > 0 ? options_.heavy_ticks
                                                   : options_.ticks_per_symbol;
  }

  void WriteNamesAndSessions(const std::vector<SampleSymbol>& symbols) {
    {
      auto historical =
          engine::ConnectAlias(kHistoricalAlias, options_.credentials, /*writable=*/true);
      engine::InTransaction(*historical, [&] {
        // The codes are made here ("0001"...), never taken from input.
        std::string list;
        for (const SampleSymbol& s : symbols) list += (list.empty() ? "'" : ",'") + s.code + "'";
        historical->ExecuteScript("DELETE FROM dailysymbol WHERE stock_code IN (" + list + ")");
        auto insert = historical->PrepareInsert("dailysymbol", {"stock_code", "name_e", "name_c"});
        for (const SampleSymbol& s : symbols) {
          insert->Insert({engine::Value::Text(s.code), engine::Value::Text(s.name_e),
                          engine::Value::Text(s.name_c)});
        }
      });
      historical->PrepareToServe({"dailysymbol"});
    }
    auto ardan = engine::ConnectAlias(kArdanAlias, options_.credentials, /*writable=*/true);
    engine::InTransaction(*ardan, [&] {
      ardan->ExecuteScript("DELETE FROM marketsession WHERE symbol = '*'");
      auto insert = ardan->PrepareInsert("marketsession", {"symbol", "timeopen", "timeclose"});
      insert->Insert({engine::Value::Text("*"), engine::Value::Float(ToDateTime(0, kMorningOpen)),
                      engine::Value::Float(ToDateTime(0, kMorningClose))});
      insert->Insert({engine::Value::Text("*"),
                      engine::Value::Float(ToDateTime(0, kAfternoonOpen)),
                      engine::Value::Float(ToDateTime(0, kAfternoonClose))});
    });
    ardan->PrepareToServe({"marketsession"});
  }

  // Removes a day table left by an earlier run, so that the day is the
  // sample's alone.
  void DropDay(engine::Connection& ticks, const engine::AliasTarget& target,
               const std::string& table) {
    if (!ticks.TableExists(table)) return;
    if (target.driver == Driver::kPostgres) {
      ticks.ExecuteScript("DROP TABLE " + table);
      return;
    }
    const std::filesystem::path base = std::filesystem::path(target.location) / table;
    for (const char* suffix : {".db", ".db-journal", ".db-wal", ".db-shm"}) {
      std::error_code ec;
      std::filesystem::remove(base.string() + suffix, ec);
    }
  }

  void WriteDay(engine::Connection& ticks, const engine::AliasTarget& target, int32_t day,
                int32_t cutoff, SampleResult& result) {
    // Each symbol's tick times, spread at random over the sessions; every
    // day opens near the close before.
    for (size_t s = 0; s < walks_.size(); ++s) {
      Walk& w = walks_[s];
      w.times.resize(static_cast<size_t>(TicksOf(s)));
      for (int32_t& t : w.times) {
        int32_t offset = static_cast<int32_t>(random_.Next() % kTradingMs);
        t = offset < kMorningClose - kMorningOpen
                ? kMorningOpen + offset
                : kAfternoonOpen + offset - (kMorningClose - kMorningOpen);
      }
      std::sort(w.times.begin(), w.times.end());
      w.move_chance = std::min(0.5, 100.0 / static_cast<double>(w.times.size()));
      w.next = 0;
      w.volume = 0;
      w.price = RoundTo(std::max(0.05, w.price * (1 + (random_.Uniform() - 0.5) * 0.02)),
                        TickSize(w.price));
      Quote(w, TickSize(w.price));
    }

    const std::string table = engine::DayTableName(day);
    DropDay(ticks, target, table);
    // The day's ticks in time order across symbols: a merge of the symbols'
    // time lists, so that IDs follow the time of arrival.
    using Entry = std::pair<int32_t, size_t>;  // time, symbol
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (size_t s = 0; s < walks_.size(); ++s)
      if (!walks_[s].times.empty() && walks_[s].times[0] < cutoff)
        queue.push({walks_[s].times[0], s});
    if (!queue.empty()) {
      engine::InTransaction(ticks, [&] {
        engine::TickWriter writer(ticks);
        engine::TickRecord tick;
        tick.day = day;
        int64_t written = 0;
        while (!queue.empty()) {
          const auto [time, s] = queue.top();
          queue.pop();
          Walk& w = walks_[s];
          Step(w);
          tick.time = ToDateTime(0, time);
          tick.symbol = result.symbols[s].code;
          tick.numbers[engine::TickRecord::kBid] = w.bid;
          tick.numbers[engine::TickRecord::kOffer] = w.offer;
          tick.numbers[engine::TickRecord::kPrice] = w.price;
          tick.numbers[engine::TickRecord::kBidSize] = 100.0 * (1 + random_.Below(50));
          tick.numbers[engine::TickRecord::kVolume] = w.volume;
          tick.numbers[engine::TickRecord::kOfferSize] = 100.0 * (1 + random_.Below(50));
          writer.Append(tick);
          ++result.ticks;
          if (++w.next < w.times.size() && w.times[w.next] < cutoff)
            queue.push({w.times[w.next], s});
          if (++written % 8192 == 0) Report(written);
        }
        engine::PackDayTable(ticks, table);
      });
    }
    // Ticks past the cutoff count as done.
    done_ += per_day_;
    Report(0);
  }

  void Report(int64_t in_day) {
    if (options_.progress) options_.progress(std::min(done_ + in_day, planned_), planned_);
  }

  // Bid and offer around the price: one or two price steps apart, the price
  // between them.
  void Quote(Walk& w, double tick) {
    w.bid = RoundTo(w.price - tick * random_.Below(2), tick);
    w.offer = RoundTo(w.bid + tick * (1 + random_.Below(2)), tick);
  }

  // The next tick of a symbol: a trade (the running volume grows by a lot,
  // and now and then the price moves a step) or a new quote. The chance of a
  // move falls as a symbol's ticks grow, so that a busy symbol is no wilder
  // than a quiet one: some tens of moves a day.
  void Step(Walk& w) {
    const double tick = TickSize(w.price);
    if (random_.Uniform() < 0.45) {
      if (random_.Uniform() < w.move_chance) {
        const int move = random_.Below(2) == 0 ? -1 : 1;
        w.price = RoundTo(std::max(tick * 10, w.price + move * tick), tick);
      }
      w.volume += 100.0 * (1 + random_.Below(20));
    }
    Quote(w, tick);
  }

  const SampleOptions& options_;
  Random random_;
  std::vector<Walk> walks_;
  int64_t per_day_ = 0;  // ticks of a full day, all symbols
  int64_t planned_ = 0;
  int64_t done_ = 0;     // ticks of the days already written
};

}  // namespace

std::vector<SampleSymbol> SampleSymbols(int count, uint64_t seed) {
  // Every combination of the word lists once, in an order the seed picks.
  const int combinations = kFirstCount * kSecondCount * kSectorCount;
  std::vector<int> order(static_cast<size_t>(combinations));
  for (int i = 0; i < combinations; ++i) order[i] = i;
  Random random(seed ^ 0x5EED5EED5EED5EEDull);
  for (int i = combinations - 1; i > 0; --i) std::swap(order[i], order[random.Below(i + 1)]);

  std::vector<SampleSymbol> out;
  for (int i = 0; i < count; ++i) {
    const int k = order[i % combinations];
    const Word& a = kFirst[k % kFirstCount];
    const Word& b = kSecond[(k / kFirstCount) % kSecondCount];
    const Word& c = kSector[k / (kFirstCount * kSecondCount)];
    SampleSymbol s;
    char code[16];
    std::snprintf(code, sizeof code, "%04d", i + 1);
    s.code = code;
    s.name_e = std::string(a.e) + " " + b.e + " " + c.e;
    s.name_c = std::string(a.c) + b.c + c.c;
    if (i >= combinations) {
      const std::string round = std::to_string(i / combinations + 1);
      s.name_e += " " + round;
      s.name_c += round;
    }
    out.push_back(std::move(s));
  }
  return out;
}

SampleResult MakeSample(const SampleOptions& options) { return SampleMaker(options).Run(); }

}  // namespace admin
