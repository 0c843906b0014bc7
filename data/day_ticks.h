// The ticks a generator reads from the days of a walk: on each day, the rows
// spelt exactly as the asked symbol, from the walk's search position up to
// the first row of another spelling, the rule every tick generator stops by.
//
// A day is read from its pack (engine/tick_pack.h) when it has a sound one,
// and from its rows otherwise; both give the same values, kinds and nulls,
// so a generator writes its day once, as a generic lambda over either source
// (RowTicks or PackTicks), and its reply is the same bytes either way.
//
// HISTDATA_PACKS=off in the environment reads rows only.
#ifndef HISTDATA_DATA_DAY_TICKS_H_
#define HISTDATA_DATA_DAY_TICKS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "data/day_scan.h"
#include "platform/engine/engine.h"
#include "platform/engine/tick_pack.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"

namespace hist {

// The current row of a day's run, read from the open table.
class RowTicks {
 public:
  RowTicks(engine::TTable& table, std::string_view symbol) : table_(table), f_(table), symbol_(symbol) {}

  const std::string& Table() const { return table_.TableName; }
  // A row of the run is current.
  bool More() { return !table_.Eof() && f_.Symbol.AsStringView() == symbol_; }
  void Next() { table_.Next(); }

  bool DateIsNull() const { return f_.Date.IsNull(); }
  bool TimeIsNull() const { return f_.Time.IsNull(); }
  double Date() const { return f_.Date.AsDateTime(); }
  double Time() const { return f_.Time.AsDateTime(); }
  // rtl::ToMilliseconds of Date() and Time().
  int64_t DateMs() const { return rtl::ToMilliseconds(Date()); }
  int64_t TimeMs() const { return rtl::ToMilliseconds(Time()); }
  double Bid() const { return f_.Bid.AsFloat(); }
  double Offer() const { return f_.Offer.AsFloat(); }
  double Price() const { return f_.Price.AsFloat(); }
  double Volume() const { return f_.Volume.AsFloat(); }
  // "date|hh:nn:ss|bid|offer|price|bidsize|offersize|volume|": the fields of
  // a TICK line, sizes in that order, not the stored one.
  void AppendLineFields(std::string& line) const;

 private:
  engine::TTable& table_;
  const TickFields f_;
  std::string_view symbol_;
};

// The current row of a day's run, read from the day's pack; each column is
// decoded a block at a time, when first read.
class PackTicks {
 public:
  // The run of `symbol` from row `start` of `pack`.
  PackTicks(const engine::TickPack& pack, const std::string& table, std::string_view symbol, size_t start);

  const std::string& Table() const { return table_; }
  bool More() const { return row_ < rows_ && pack_.SpellingAt(row_) == spelling_; }
  void Next() { ++row_; }

  // Whether every row of the pack has a date and a time: a generator may
  // then take the run as it goes rather than check it whole first.
  bool DatesAndTimesComplete() const {
    return !pack_.HasNulls(engine::kPackDate) && !pack_.HasNulls(engine::kPackTime);
  }
  // For readers that take a run's rows in a loop of their own: how many rows
  // of the run there are from the current one to the end of its block (0 at
  // the run's end), the decoded block of `column` that holds them, where the
  // current row is in it, and a move `n` rows on.
  size_t RunInBlock() const;
  const engine::TickPack::Block& BlockOf(int column) const { return Current(column); }
  size_t PlaceInBlock() const { return row_ % engine::kPackBlock; }
  void Skip(size_t n) { row_ += n; }

  bool DateIsNull() const { return KindOf(engine::kPackDate) == engine::Value::Kind::kNull; }
  bool TimeIsNull() const { return KindOf(engine::kPackTime) == engine::Value::Kind::kNull; }
  double Date() const { return ValueOf(engine::kPackDate); }
  double Time() const { return ValueOf(engine::kPackTime); }
  int64_t DateMs() const;
  int64_t TimeMs() const;
  double Bid() const { return ValueOf(engine::kPackBid); }
  double Offer() const { return ValueOf(engine::kPackOffer); }
  double Price() const { return ValueOf(engine::kPackPrice); }
  double Volume() const { return ValueOf(engine::kPackVolume); }
  void AppendLineFields(std::string& line) const;

 private:
  // Null rows hold 0, as a null field reads.
  double ValueOf(int column) const { return Current(column).values[row_ % engine::kPackBlock]; }
  engine::Value::Kind KindOf(int column) const {
    return static_cast<engine::Value::Kind>(Current(column).kinds[row_ % engine::kPackBlock]);
  }
  const engine::TickPack::Block& Current(int column) const {
    const size_t block = row_ / engine::kPackBlock;
    if (decoded_[column] != block) Decode(column, block);
    return blocks_[column];
  }
  void Decode(int column, size_t block) const;
  void AppendField(std::string& line, int column, engine::FieldType type) const;

  const engine::TickPack& pack_;
  const std::string& table_;
  const int spelling_;
  const size_t rows_;
  size_t row_;
  mutable size_t decoded_[engine::kPackColumns];
  mutable engine::TickPack::Block blocks_[engine::kPackColumns];
};

// rtl::ToMilliseconds and rtl::RoundHalfEven of row `j` of a decoded block,
// straight from the whole number the row was stored as where that gives the
// same: a millisecond of the day below 2^50 divides and multiplies back
// exactly, a whole day below 10^8 gives its milliseconds exactly, and a
// whole number within 32 bits is its own rounding.
inline int64_t MillisecondsAt(const engine::TickPack::Block& b, size_t j) {
  using Units = engine::TickPack::Block::Units;
  if (b.units == Units::kDayMillis) {
    const int64_t n = b.whole[j];
    if (n < (int64_t{1} << 50) && n > -(int64_t{1} << 50)) return n;
  } else if (b.units == Units::kWhole) {
    const int64_t v = b.whole[j] * b.multiple;
    if (v < 100000000 && v > -100000000) return v * rtl::kMsPerDay;
  }
  return rtl::ToMilliseconds(b.values[j]);
}
inline int32_t RoundedAt(const engine::TickPack::Block& b, size_t j) {
  if (b.units == engine::TickPack::Block::Units::kWhole) {
    const int64_t v = b.whole[j] * b.multiple;
    if (v < 2147483648 && v > -2147483648) return static_cast<int32_t>(v);
  }
  return rtl::RoundHalfEven(b.values[j]);
}

inline int64_t PackTicks::DateMs() const {
  return MillisecondsAt(BlockOf(engine::kPackDate), PlaceInBlock());
}
inline int64_t PackTicks::TimeMs() const {
  return MillisecondsAt(BlockOf(engine::kPackTime), PlaceInBlock());
}

// The pack of one day of a walk: its bytes and their parse, reused from day
// to day.
class DayPack {
 public:
  // Reads and checks the pack of `symbol`'s key in the table named by
  // `table`; false (the day then read from its rows) when there is none or
  // it is unsound, which is counted and logged.
  bool Load(engine::TTable& table, std::string_view symbol);
  const engine::TickPack& pack() const { return pack_; }
  // The first row of the run that a search from (symbol, `time`) reaches:
  // the first with a time at or after `time`.
  size_t FirstAt(double time) const;

 private:
  std::string bytes_;
  engine::TickPack pack_;
};

// Whether a source holds its day's ticks in memory, so that a generator may
// write lines while it reads them without holding the table open.
template <class Ticks>
inline constexpr bool kTicksInMemory = std::is_same_v<Ticks, PackTicks>;

// Whether days are read from their packs (HISTDATA_PACKS is not "off").
bool PacksEnabled();

// Walks the days of `walk` over the ticks of each day: names each day's table, calls
// `named(name)`, then for a day with a table calls `read(ticks, day)` with
// a PackTicks or a RowTicks positioned at the run's first row, for a day
// without one `missing(day)`. The table is closed after each day and
// whenever the walk ends.
template <class Read, class Missing = SkipMissingDay, class Named = IgnoreDayName>
void WalkDayTicks(engine::TTable& table, const DayWalk& walk, Read&& read, Missing&& missing = {},
                  Named&& named = {}) {
  day_scan_detail::Closer closer(table);
  DayPack pack;
  const bool packs = PacksEnabled();
  for (rtl::TDateTime day = FirstDayToRead(walk.first, walk.last); day <= walk.last; day += 1) {
    named(NameDayTable(table, day));
    if (!table.Exists()) {
      missing(day);
      continue;
    }
    const bool timed = day == walk.timedDay;
    if (packs && pack.Load(table, walk.symbol)) {
      PackTicks ticks(pack.pack(), table.TableName, walk.symbol,
                      timed ? pack.FirstAt(SearchTime(walk.time)) : 0);
      read(ticks, day);
      continue;
    }
    if (timed) {
      SeekDayTable(table, walk.symbol, walk.time);
    } else {
      SeekDayTable(table, walk.symbol);
    }
    RowTicks ticks(table, walk.symbol);
    read(ticks, day);
    table.Close();
  }
}

}  // namespace hist

#endif  // HISTDATA_DATA_DAY_TICKS_H_
