// Ticks are spread evenly over the trading session with a random jitter
// inside each tick's own share of it, so times ascend without a sort; prices
// walk by cents, and about six ticks in ten are trades that add to the
// running volume while the rest are quotes that leave it unchanged.
#include "bench/interval_dataset.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "data/lookups.h"
#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"
#include "platform/engine/value.h"
#include "tools/schema.h"

namespace bench {
namespace {

// splitmix64: small, fast and the same everywhere.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  int64_t Below(int64_t n) { return static_cast<int64_t>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

constexpr int64_t kSessionOpenMs = (9 * 3600 + 30 * 60) * 1000LL;
constexpr int64_t kSessionCloseMs = 16 * 3600 * 1000LL;

struct Tick {
  int64_t ms;
  int symbol;  // index into the day's symbol list
  double bid, offer, price, bid_size, volume, offer_size;
};

// The ticks of one symbol on one day, in time order.
void MakeTicks(Random& rnd, int symbol, int count, double start_price, std::vector<Tick>& out) {
  const int64_t span = kSessionCloseMs - kSessionOpenMs;
  double price = start_price;
  double volume = 0;
  for (int i = 0; i < count; ++i) {
    const int64_t slot = span * i / count;
    const int64_t width = span * (i + 1) / count - slot;
    Tick t;
    t.ms = kSessionOpenMs + slot + (width > 0 ? rnd.Below(width) : 0);
    t.symbol = symbol;
    price += 0.01 * static_cast<double>(rnd.Below(3) - 1);
    if (price < 1) price = 1;
    price = static_cast<double>(static_cast<int64_t>(price * 100 + 0.5)) / 100;
    t.price = price;
    t.bid = price - 0.01 * static_cast<double>(1 + rnd.Below(2));
    t.offer = price + 0.01 * static_cast<double>(1 + rnd.Below(2));
    t.bid_size = static_cast<double>(100 * (1 + rnd.Below(50)));
    t.offer_size = static_cast<double>(100 * (1 + rnd.Below(50)));
    if (rnd.Below(10) < 6) volume += static_cast<double>(100 * (1 + rnd.Below(10)));
    t.volume = volume;
    out.push_back(t);
  }
}

std::string Signature(const IntervalDataset& set) {
  std::ostringstream s;
  s << "interval dataset v2 " << set.symbol << ' ' << set.ticks_per_day << ' '
    << set.neighbour_ticks_per_day << ' ' << set.trading_days << ' ' << set.first_day;
  return s.str();
}

}  // namespace

IntervalDataset::IntervalDataset() : first_day(rtl::EncodeDate(2024, 1, 2)) {}

std::vector<rtl::TDateTime> IntervalDataset::Days() const {
  std::vector<rtl::TDateTime> days;
  for (rtl::TDateTime d = first_day; static_cast<int>(days.size()) < trading_days; d += 1) {
    // Day 0 (1899-12-30) was a Saturday.
    const int64_t weekday = static_cast<int64_t>(d) % 7;  // 0 Saturday, 1 Sunday
    if (weekday != 0 && weekday != 1) days.push_back(d);
  }
  return days;
}

double EnsureDataset(const IntervalDataset& set, const std::string& data_dir) {
  namespace fs = std::filesystem;
  const fs::path marker = fs::path(data_dir) / "interval-dataset.txt";
  {
    std::ifstream in(marker);
    std::string line;
    if (in && std::getline(in, line) && line == Signature(set)) return 0;
  }
  const auto started = std::chrono::steady_clock::now();
  // Start from empty stores: a table or row made from other parameters must
  // not survive under a name this set uses.
  fs::remove_all(fs::path(data_dir) / "histdata");
  for (const fs::directory_entry& e : fs::directory_iterator(data_dir)) {
    if (e.path().extension() == ".db") fs::remove(e.path());
  }
  fs::create_directories(fs::path(data_dir) / "histdata");

  std::unique_ptr<engine::Connection> conn = engine::ConnectAlias("HISTDATA", {}, true);
  const std::vector<std::string> names = {set.symbol.substr(0, set.symbol.size() - 1) + "G",
                                          set.symbol,
                                          set.symbol.substr(0, set.symbol.size() - 1) + "I"};
  const std::vector<std::string> columns(std::begin(engine::kTickColumns),
                                         std::end(engine::kTickColumns));
  Random rnd(20240102);
  std::vector<Tick> ticks;
  std::vector<engine::Value> row(columns.size());
  for (rtl::TDateTime day : set.Days()) {
    const std::string table = hist::GetFileName(day);
    conn->CreateTickTable(table);
    ticks.clear();
    MakeTicks(rnd, 0, set.neighbour_ticks_per_day, 20, ticks);
    MakeTicks(rnd, 1, set.ticks_per_day, 50, ticks);
    MakeTicks(rnd, 2, set.neighbour_ticks_per_day, 80, ticks);
    // Load order is time order across the symbols, as a feed delivers them.
    std::stable_sort(ticks.begin(), ticks.end(),
                     [](const Tick& a, const Tick& b) { return a.ms < b.ms; });
    conn->Begin();
    std::unique_ptr<engine::Connection::Inserter> ins = conn->PrepareInsert(table, columns);
    int64_t id = 0;
    for (const Tick& t : ticks) {
      row[0].SetInt(++id);
      row[1].SetFloat(day);
      row[2].SetFloat(static_cast<double>(t.ms) / static_cast<double>(rtl::kMsPerDay));
      row[3].SetText(names[t.symbol]);
      row[4].SetFloat(t.bid);
      row[5].SetFloat(t.offer);
      row[6].SetFloat(t.price);
      row[7].SetFloat(t.bid_size);
      row[8].SetFloat(t.volume);
      row[9].SetFloat(t.offer_size);
      ins->Insert(row);
    }
    ins.reset();
    conn->Commit();
  }
  conn.reset();

  // The SQL stores every request reaches (names, sessions, symbols), with
  // the symbol's names so that replies carry their name lines.
  admin::InitAllStores();
  std::unique_ptr<engine::Connection> names_db = engine::ConnectAlias("Historical", {}, true);
  names_db->Begin();
  {
    std::unique_ptr<engine::Connection::Inserter> ins =
        names_db->PrepareInsert("DailySymbol", {"Stock_code", "name_e", "name_c"});
    ins->Insert({engine::Value::Text(set.symbol), engine::Value::Text("Bench Holdings"),
                 engine::Value::Text("Bench")});
  }
  names_db->Commit();
  std::ofstream(marker) << Signature(set) << '\n';
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

}  // namespace bench
