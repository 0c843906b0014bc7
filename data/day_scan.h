// The day tables of a date range: every tick-table generator
// and day lookup names a day's table here, so that the name, the presence
// test, the nearest-key search and the closing are written once.
#ifndef HISTDATA_DATA_DAY_SCAN_H_
#define HISTDATA_DATA_DAY_SCAN_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"

namespace hist {

// Consecutive days whose table names are all different: a name carries the
// year without its century, and a hundred years hold at least 36,524 days.
inline constexpr int kDaysWithDistinctNames = 36524;

// The first day a walk that ends at `last` reads: `first`, or for a range
// longer than kDaysWithDistinctNames the first day of its last such stretch,
// since the days before it would read the same tables again and repeat
// their ticks.
rtl::TDateTime FirstDayToRead(rtl::TDateTime first, rtl::TDateTime last);

// Closes `table` (when open) and names it for `day`; the name.
const std::string& NameDayTable(engine::TTable& table, rtl::TDateTime day);

// What a walk reads: the days from `first` to `last` (both included, the
// start held to FirstDayToRead), each table searched from `symbol`'s first
// row, except on `timedDay`, where the search starts at (symbol, `time`),
// `time` taken at its millisecond, the form stored times take, so that a
// tick stamped exactly at it is found.
struct DayWalk {
  std::string_view symbol;
  rtl::TDateTime first = 0, last = 0;
  rtl::TDateTime timedDay = 0, time = 0;
};

// The defaults of a day walk (data/day_ticks.h): a day without a table is passed over, and a
// table's name is not looked at.
struct SkipMissingDay {
  void operator()(rtl::TDateTime) const {}
};
struct IgnoreDayName {
  void operator()(const std::string&) const {}
};

// `time` taken at its millisecond: the form stored times take, and the one
// every search of the day tables starts from.
rtl::TDateTime SearchTime(rtl::TDateTime time);

// Opens the table named by NameDayTable, known to exist, positioned at
// `symbol`'s first row (or, with `time`, at its first row at or after
// SearchTime(time)).
void SeekDayTable(engine::TTable& table, std::string_view symbol);
void SeekDayTable(engine::TTable& table, std::string_view symbol, rtl::TDateTime time);

// A tick's quote: prices as stored, sizes and the day's running volume
// rounded half to even.
struct TickQuote {
  double Bid = 0;
  double Offer = 0;
  double Price = 0;
  int32_t BidSize = 0;
  int32_t OfferSize = 0;
  int32_t Volume = 0;
};

// The fields of an open day table, looked up once per open, not per row.
struct TickFields {
  explicit TickFields(engine::TTable& table);
  // The quote of the current row.
  TickQuote Quote() const;
  engine::TField& Date;
  engine::TField& Time;
  engine::TField& Symbol;
  engine::TField& Bid;
  engine::TField& Offer;
  engine::TField& Price;
  engine::TField& BidSize;
  engine::TField& Volume;
  engine::TField& OfferSize;
};

// --- implementation ---------------------------------------------------------

namespace day_scan_detail {
// Closes the table however the walk ends.
class Closer {
 public:
  explicit Closer(engine::TTable& table) : table_(table) {}
  ~Closer() { table_.Close(); }
  Closer(const Closer&) = delete;
  Closer& operator=(const Closer&) = delete;

 private:
  engine::TTable& table_;
};
}  // namespace day_scan_detail

}  // namespace hist

#endif  // HISTDATA_DATA_DAY_SCAN_H_
