#include "tools/derive.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

#include "platform/engine/errors.h"
#include "platform/engine/transaction.h"
#include "platform/rtl/datetime.h"
#include "tools/csv_values.h"
#include "tools/tick_tables.h"

namespace admin {
namespace {

using Driver = engine::AliasTarget::Driver;

constexpr int kIntervalSeconds[] = {60, 180, 300};

std::optional<double> NumberOf(const engine::Value& v) {
  switch (v.kind) {
    case engine::Value::Kind::kFloat: return v.d;
    case engine::Value::Kind::kInteger: return static_cast<double>(v.i);
    default: return std::nullopt;
  }
}

struct Bar {
  int32_t slot;  // start = slot * length
  double open, high, low, close, volume;
};

// Bars of one length for one symbol, fed with its ticks in time order.
class BarBuilder {
 public:
  explicit BarBuilder(int seconds) : length_ms_(seconds * 1000) {}

  void Add(int32_t ms, std::optional<double> price, std::optional<double> volume) {
    if (price) {
      const int32_t slot = ms / length_ms_;
      if (open_ && slot != current_.slot) Finish();
      if (!open_) {
        current_ = {slot, *price, *price, *price, *price, 0};
        open_ = true;
      } else {
        current_.high = std::max(current_.high, *price);
        current_.low = std::min(current_.low, *price);
        current_.close = *price;
      }
    }
    if (volume) last_volume_ = *volume;
  }

  // Ends the day: the bar being built is complete.
  std::vector<Bar>& Done() {
    if (open_) Finish();
    return bars_;
  }
  int length_ms() const { return length_ms_; }

 private:
  void Finish() {
    const double growth = last_volume_ - bar_base_volume_;
    current_.volume = growth < 0 ? last_volume_ : growth;
    bar_base_volume_ = last_volume_;
    bars_.push_back(current_);
    open_ = false;
  }

  int length_ms_;
  bool open_ = false;
  Bar current_{};
  double last_volume_ = 0;
  double bar_base_volume_ = 0;
  std::vector<Bar> bars_;
};

// Everything derived for one symbol on one day.
struct SymbolDay {
  bool has_price = false;
  double high = 0, low = 0, close = 0;
  std::optional<double> shares;
  double turnover = 0;
  double running = 0;  // running volume before the tick being added
  BarBuilder bars[3] = {BarBuilder(60), BarBuilder(180), BarBuilder(300)};

  void Add(int32_t ms, std::optional<double> price, std::optional<double> volume) {
    if (price && *price <= 0) price.reset();
    if (price) {
      high = has_price ? std::max(high, *price) : *price;
      low = has_price ? std::min(low, *price) : *price;
      close = *price;
      has_price = true;
    }
    if (volume) {
      const double growth = *volume - running;
      const double traded = growth < 0 ? *volume : growth;
      if (has_price) turnover += close * traded;
      running = *volume;
      shares = *volume;
    }
    for (BarBuilder& b : bars) b.Add(ms, price, volume);
  }
};

std::string TimeText(int32_t ms) { return rtl::FormatDateTime("hh:nn:ss", ToDateTime(0, ms)); }

// SQL text of "column lies on `day`" for a date-time column.
std::string OnDay(Driver driver, const std::string& column, int32_t day) {
  if (driver == Driver::kPostgres) {
    return column + " >= TIMESTAMP '" + rtl::FormatDateTime("yyyy-mm-dd", day) + "' AND " +
           column + " < TIMESTAMP '" + rtl::FormatDateTime("yyyy-mm-dd", day + 1) + "'";
  }
  return column + " >= " + std::to_string(day) + " AND " + column + " < " +
         std::to_string(day + 1);
}

// The day a table holds: the Date of its rows, or its name read with a
// two-digit year near today.
int32_t DayOfTable(const std::string& table, std::optional<double> first_date) {
  if (first_date && engine::DayTableName(static_cast<int32_t>(*first_date)) == table)
    return static_cast<int32_t>(*first_date);
  return DayOfTableName(table);
}

class Deriver {
 public:
  explicit Deriver(const DeriveOptions& options) : options_(options) {
    InitAllStores(options.zet_alias, options.credentials);
    tick_target_ = engine::ResolveAlias(kTickAlias);
    // Read as the loader's connection, which on a replicated store is the
    // primary's: a replica may not have replayed the ticks just loaded.
    ticks_ = engine::ConnectAlias(kTickAlias, options.credentials, /*writable=*/true);
    historical_ = Open(kHistoricalAlias, historical_driver_);
    ardan_ = Open(kArdanAlias, ardan_driver_);
    zet_ = Open(options.zet_alias, zet_driver_);
    LoadKnownSymbols();
  }

  DeriveResult Run() {
    const std::vector<std::string> tables =
        ListTickTables(tick_target_, *ticks_, options_.first_day, options_.last_day);
    DeriveResult result;
    int64_t done = 0;
    for (const std::string& table : tables) {
      DeriveDay(table, result);
      if (options_.progress) options_.progress(++done, static_cast<int64_t>(tables.size()));
    }
    if (result.days > 0) {
      historical_->PrepareToServe({"datastore"});
      ardan_->PrepareToServe({"minutebars"});
      zet_->PrepareToServe({"intervaltable60", "intervaltable180", "intervaltable300", "symboltable"});
    }
    return result;
  }

 private:
  std::unique_ptr<engine::Connection> Open(const std::string& alias, Driver& driver) {
    driver = engine::ResolveAlias(alias).driver;
    return engine::ConnectAlias(alias, options_.credentials, /*writable=*/true);
  }

  void LoadKnownSymbols() {
    engine::Statement sql;
    sql.pieces.push_back("SELECT symbol FROM symboltable");
    auto cursor = zet_->Query(sql, {});
    std::vector<engine::Value> row;
    while (cursor->Next(row))
      if (!row.empty() && row[0].kind == engine::Value::Kind::kText) known_.insert(row[0].s);
  }

  void DeriveDay(const std::string& table, DeriveResult& result) {
    // Symbols in the index's order; each exact symbol keeps its own state,
    // since "ABC" and "abc" interleave by time.
    std::map<std::string, SymbolDay> symbols;
    std::optional<double> first_date;
    auto cursor = ticks_->SeekTicks(table, "", false, 0);
    std::vector<engine::Value> row;
    while (cursor->Next(row)) {
      if (row.size() < 10 || row[3].kind != engine::Value::Kind::kText) continue;
      const std::optional<double> date = NumberOf(row[1]);
      const std::optional<double> time = NumberOf(row[2]);
      if (!time) continue;
      if (!first_date && date) first_date = std::floor(*date);
      const double fraction = *time - std::floor(*time);
      int32_t ms = static_cast<int32_t>(std::llround(fraction * rtl::kMsPerDay));
      ms = std::min<int32_t>(ms, rtl::kMsPerDay - 1);
      symbols[row[3].s].Add(ms, NumberOf(row[6]), NumberOf(row[8]));
      ++result.ticks;
    }
    const int32_t day = DayOfTable(table, first_date);
    WriteHistorical(day, symbols, result);
    WriteMinuteBars(day, symbols, result);
    WriteZet(day, symbols, result);
    ++result.days;
  }

  void WriteHistorical(int32_t day, std::map<std::string, SymbolDay>& symbols,
                       DeriveResult& result) {
    engine::InTransaction(*historical_, [&] {
      historical_->ExecuteScript("DELETE FROM datastore WHERE " +
                                 OnDay(historical_driver_, "c_date", day));
      auto insert = historical_->PrepareInsert(
          "datastore",
          {"c_date", "stock_code", "high", "low", "closing", "shares_traded", "turnover"});
      for (auto& [symbol, s] : symbols) {
        if (!s.has_price) continue;
        insert->Insert({engine::Value::Float(day), engine::Value::Text(symbol),
                        engine::Value::Float(s.high), engine::Value::Float(s.low),
                        engine::Value::Float(s.close),
                        s.shares ? engine::Value::Float(*s.shares) : engine::Value::Null(),
                        engine::Value::Float(s.turnover)});
        ++result.daily_rows;
      }
    });
  }

  void WriteMinuteBars(int32_t day, std::map<std::string, SymbolDay>& symbols,
                       DeriveResult& result) {
    engine::InTransaction(*ardan_, [&] {
      ardan_->ExecuteScript("DELETE FROM minutebars WHERE " +
                            OnDay(ardan_driver_, "timebegin", day));
      auto insert = ardan_->PrepareInsert(
          "minutebars", {"symbol", "timebegin", "duration", "seqno", "priceopen", "pricehigh",
                         "pricelow", "priceclose", "volume"});
      for (auto& [symbol, s] : symbols) {
        int64_t seq = 0;
        BarBuilder& minutes = s.bars[0];
        for (const Bar& b : minutes.Done()) {
          insert->Insert({engine::Value::Text(symbol),
                          engine::Value::Float(ToDateTime(day, b.slot * minutes.length_ms())),
                          engine::Value::Int(60), engine::Value::Int(++seq),
                          engine::Value::Float(b.open), engine::Value::Float(b.high),
                          engine::Value::Float(b.low), engine::Value::Float(b.close),
                          engine::Value::Float(b.volume)});
          ++result.minute_bars;
        }
      }
    });
  }

  void WriteZet(int32_t day, std::map<std::string, SymbolDay>& symbols, DeriveResult& result) {
    const std::string date = rtl::FormatDateTime("yyyy/mm/dd", day);
    engine::InTransaction(*zet_, [&] {
      for (int k = 0; k < 3; ++k) {
        const std::string table = "intervaltable" + std::to_string(kIntervalSeconds[k]);
        zet_->ExecuteScript("DELETE FROM " + table + " WHERE date = '" + date + "'");
        auto insert = zet_->PrepareInsert(
            table, {"symbol", "date", "time", "open", "high", "low", "close", "volume"});
        for (auto& [symbol, s] : symbols) {
          BarBuilder& bars = s.bars[k];
          for (const Bar& b : bars.Done()) {
            insert->Insert({engine::Value::Text(symbol), engine::Value::Text(date),
                            engine::Value::Text(TimeText(b.slot * bars.length_ms())),
                            engine::Value::Float(b.open), engine::Value::Float(b.high),
                            engine::Value::Float(b.low), engine::Value::Float(b.close),
                            engine::Value::Float(b.volume)});
            ++result.interval_bars;
          }
        }
      }
      std::vector<std::string> added;
      for (const auto& entry : symbols)
        if (known_.count(entry.first) == 0) added.push_back(entry.first);
      if (!added.empty()) {
        auto insert = zet_->PrepareInsert("symboltable", {"symbol", "isvalid"});
        for (const std::string& symbol : added)
          insert->Insert({engine::Value::Text(symbol), engine::Value::Text("1")});
      }
      // Known only once the transaction holds them.
      pending_symbols_ = std::move(added);
    });
    known_.insert(pending_symbols_.begin(), pending_symbols_.end());
    result.symbols_added += static_cast<int64_t>(pending_symbols_.size());
    pending_symbols_.clear();
  }

  const DeriveOptions& options_;
  engine::AliasTarget tick_target_;
  std::unique_ptr<engine::Connection> ticks_, historical_, ardan_, zet_;
  Driver historical_driver_{}, ardan_driver_{}, zet_driver_{};
  std::set<std::string> known_;
  std::vector<std::string> pending_symbols_;
};

}  // namespace

DeriveResult Derive(const DeriveOptions& options) { return Deriver(options).Run(); }

}  // namespace admin
