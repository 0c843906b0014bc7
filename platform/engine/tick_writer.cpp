#include "platform/engine/tick_writer.h"

#include <algorithm>

#include "platform/engine/day_tables.h"
#include "platform/engine/pacing.h"
#include "platform/rtl/text.h"

namespace engine {
namespace {

// Lower case, so that an unquoted name means the same column to both drivers.
const std::vector<std::string> kInsertColumns = {"id",    "date",  "time",    "symbol", "bid",
                                                 "offer", "price", "bidsize", "volume", "offersize"};

}  // namespace

TickWriter::Day& TickWriter::DayOf(int32_t day) {
  auto it = days_.find(day);
  if (it != days_.end()) return it->second;
  const std::string table = DayTableName(day);
  Day d;
  if (connection_.TableExists(table)) {
    d.last_id = connection_.LastTickId(table);
  } else {
    connection_.CreateTickTable(table);
    d.created = true;
  }
  d.inserter = connection_.PrepareInsert(table, kInsertColumns);
  tables_.push_back(table);
  return days_.emplace(day, std::move(d)).first->second;
}

void TickWriter::Append(const TickRecord& tick) {
  Day& day = DayOf(tick.day);
  Insert(day, day.last_id + 1, tick);
  ++day.last_id;
}

void TickWriter::AppendBatch(const std::vector<TickRecord>& ticks) {
  // Each tick's ID first, in the given order; then the rows by day and key
  // (the symbol with ASCII letters folded, as the index folds it), time, ID.
  struct Keyed {
    int32_t day;
    std::string folded;
    double time;
    int64_t id;
    const TickRecord* tick;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(ticks.size());
  for (const TickRecord& tick : ticks) {
    Day& day = DayOf(tick.day);
    keyed.push_back({tick.day, rtl::LowerAscii(tick.symbol), tick.time, ++day.last_id, &tick});
    Pace();
  }
  // Sorting a feed's batch takes a millisecond or two: a paced writer steps
  // aside within it too.
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    Pace();
    if (a.day != b.day) return a.day < b.day;
    if (int c = a.folded.compare(b.folded); c != 0) return c < 0;
    if (a.time != b.time) return a.time < b.time;
    return a.id < b.id;
  });
  for (const Keyed& k : keyed) Insert(days_.at(k.day), k.id, *k.tick);
}

void TickWriter::Insert(Day& day, int64_t id, const TickRecord& tick) {
  row_.resize(kInsertColumns.size());
  row_[0].SetInt(id);
  row_[1].SetFloat(tick.day);
  row_[2].SetFloat(tick.time);
  row_[3].SetText(tick.symbol);
  for (int k = 0; k < TickRecord::kNumbers; ++k) {
    if (tick.IsNull(k)) {
      row_[4 + k].SetNull();
    } else {
      row_[4 + k].SetFloat(tick.numbers[k]);
    }
  }
  day.inserter->Insert(row_);
  ++rows_;
  Pace();
}

void TickWriter::NextTransaction() {
  for (auto it = days_.begin(); it != days_.end();) {
    const std::string table = DayTableName(it->first);
    const bool written = std::find(tables_.begin(), tables_.end(), table) != tables_.end();
    if (it->second.created || !written) {
      it = days_.erase(it);
      continue;
    }
    it->second.last_id = connection_.LastTickId(table);
    ++it;
  }
  tables_.clear();
  rows_ = 0;
}

}  // namespace engine
