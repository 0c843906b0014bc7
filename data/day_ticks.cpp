#include "data/day_ticks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <utility>

#include "log/zetUtilities.h"
#include "platform/engine/pack_cache.h"
#include "platform/metrics/metrics.h"
#include "platform/rtl/numbers.h"
#include "platform/rtl/text.h"

namespace hist {
namespace {

struct PackCounters {
  metrics::Counter& from_packs;
  metrics::Counter& from_rows;
  metrics::Counter& unsound;
  metrics::Gauge& kept_bytes;
};

PackCounters& Counters() {
  static PackCounters* counters = [] {
    metrics::Registry& r = metrics::Default();
    const std::string help = "Day tables read for a symbol, by where the ticks came from.";
    return new PackCounters{
        r.AddCounter("histdata_tick_day_reads_total", help, {{"source", "pack"}}),
        r.AddCounter("histdata_tick_day_reads_total", help, {{"source", "rows"}}),
        r.AddCounter("histdata_tick_packs_unsound_total",
                     "Packs found damaged and passed over for their rows."),
        r.AddGauge("histdata_tick_packs_kept_bytes",
                   "Memory holding the packs of unchanged days last read, for the requests to come.")};
  }();
  return *counters;
}

// A damaged pack is logged once per table and key: every request for it
// would otherwise log it again until someone packs the day anew.
void LogUnsoundOnce(const std::string& table, std::string_view symbol, const std::string& why) {
  static std::mutex mutex;
  static std::set<std::pair<std::string, std::string>>* logged = new std::set<std::pair<std::string, std::string>>;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!logged->emplace(table, rtl::LowerAscii(symbol)).second) return;
  }
  zetlog::Log(zetlog::LogTimePrefix() + "Pack of " + std::string(symbol) + " in " + table + " is damaged (" + why +
              "); reading its rows.");
}

}  // namespace

bool PacksEnabled() {
  static const bool enabled = [] {
    const char* v = std::getenv("HISTDATA_PACKS");
    return v == nullptr || std::strcmp(v, "off") != 0;
  }();
  return enabled;
}

void RowTicks::AppendLineFields(std::string& line) const {
  f_.Date.AppendText(line);
  line += '|';
  rtl::AppendDateTime(line, "hh:nn:ss", f_.Time.AsDateTime());
  line += '|';
  for (engine::TField* field : {&f_.Bid, &f_.Offer, &f_.Price, &f_.BidSize, &f_.OfferSize, &f_.Volume}) {
    field->AppendText(line);
    line += '|';
  }
}

PackTicks::PackTicks(const engine::TickPack& pack, const std::string& table, std::string_view symbol,
                     size_t start)
    : pack_(pack), table_(table), spelling_(pack.SpellingOf(symbol)), rows_(pack.Rows()), row_(start) {
  for (size_t& d : decoded_) d = static_cast<size_t>(-1);
}

size_t PackTicks::RunInBlock() const {
  const size_t end = std::min(rows_, (row_ / engine::kPackBlock + 1) * engine::kPackBlock);
  size_t n = 0;
  while (row_ + n < end && pack_.SpellingAt(row_ + n) == spelling_) ++n;
  return n;
}

void PackTicks::Decode(int column, size_t block) const {
  // A parsed pack has had every block's bounds checked: a failure here is a
  // fault of this program, not of the store.
  if (!pack_.DecodeBlock(column, block, blocks_[column])) throw std::logic_error("Undecodable pack in " + table_);
  decoded_[column] = block;
}

void PackTicks::AppendField(std::string& line, int column, engine::FieldType type) const {
  engine::Value v;
  v.kind = KindOf(column);
  if (v.kind == engine::Value::Kind::kInteger) {
    v.i = static_cast<int64_t>(ValueOf(column));
  } else {
    v.d = ValueOf(column);
  }
  engine::AppendFieldText(line, type, v);
}

void PackTicks::AppendLineFields(std::string& line) const {
  AppendField(line, engine::kPackDate, engine::FieldType::kDate);
  line += '|';
  rtl::AppendDateTime(line, "hh:nn:ss", Time());
  line += '|';
  for (int column : {engine::kPackBid, engine::kPackOffer, engine::kPackPrice, engine::kPackBidSize,
                     engine::kPackOfferSize, engine::kPackVolume}) {
    AppendField(line, column, engine::FieldType::kFloat);
    line += '|';
  }
}

bool DayPack::Load(engine::TTable& table, std::string_view symbol) {
  PackCounters& counters = Counters();
  const bool found = table.ReadPack(symbol, bytes_);
  counters.kept_bytes.Set(static_cast<double>(engine::PackCache::Default().BytesHeld()));
  if (!found) {
    counters.from_rows.Add();
    return false;
  }
  std::string why;
  if (!pack_.Parse(bytes_, &why)) {
    counters.unsound.Add();
    counters.from_rows.Add();
    LogUnsoundOnce(table.TableName, symbol, why);
    return false;
  }
  counters.from_packs.Add();
  return true;
}

size_t DayPack::FirstAt(double time) const {
  // The rows of a key run in time order, those without a time first: the
  // first block whose last row reaches `time` holds the row sought.
  engine::TickPack::Block block;
  const size_t blocks = (pack_.Rows() + engine::kPackBlock - 1) / engine::kPackBlock;
  for (size_t b = 0; b < blocks; ++b) {
    if (!pack_.DecodeBlock(engine::kPackTime, b, block)) throw std::logic_error("Undecodable pack");
    if (block.values[block.count - 1] < time || block.kinds[block.count - 1] == engine::Value::Kind::kNull) continue;
    for (size_t j = 0; j < block.count; ++j) {
      if (block.kinds[j] != engine::Value::Kind::kNull && block.values[j] >= time) return block.first + j;
    }
  }
  return pack_.Rows();
}

}  // namespace hist
