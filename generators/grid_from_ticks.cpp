// Mode 6 over the tick tables: bars on a fixed grid that starts every day at
// the requested start time, one INTERVAL line per slot, dash lines for slots
// without a tick.
//
// A day's ticks of the symbol are read into a list first and the bars formed
// from it, so the table is closed before any line of the day goes out. Every
// time is held in whole seconds since the epoch: tick time stamps and the
// day's anchors are whole seconds and slots are whole multiples of the
// interval, so comparing them exactly is what comparing the date-time values
// within their 1e-8-day tolerance means, without the drift that adding up
// slot lengths as fractions of a day would bring after many slots.
//
// Three ways of forming a bar, chosen by the settings of the request:
//  - CalcMode other than "UW": high and low follow the bid and offer quotes,
//    the close is the last price;
//  - "UW": high, low and close follow the traded price, and after the last
//    tick the day is filled with dash lines up to the end time;
//  - "UW" with ExecutionTickOnly: as "UW", but before the nominal update time
//    only ticks that add volume count.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "data/day_ticks.h"
#include "generators/tick_time.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/globals.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {
namespace {

// One tick as read from a tick table. The date and time are kept as the
// whole seconds of their text forms ("yyyy/m/d", "hh:nn:ss"), which is all
// that bars are formed from; the volume is rounded half to even, and the
// sizes, which no bar shows, are left at 0.
class THisttableRecord : public TickQuote {
 public:
  int64_t Date = 0;  // day since the epoch
  int64_t Time = 0;  // second of the day

  // The time stamp: date and time combined, to the whole second.
  int64_t Stamp() const { return Date * 86400 + Time; }
};

// The no-price state of a bar: no tick has set its high or low yet.
constexpr double kNoHigh = 0;
constexpr double kNoLow = 999999;
constexpr int64_t kOneSecond = 1;


// The day and second of a tick's stored date and time. A tick without a
// date or time has no place on the grid; the request ends with an error that
// the handler logs rather than with bars placed on a made-up day.
template <class Ticks>
int64_t StoredDay(const Ticks& ticks) {
  if (ticks.DateIsNull()) throw std::runtime_error("Tick without Date in " + ticks.Table());
  return DayOfMs(ticks.DateMs());
}

template <class Ticks>
int64_t StoredSecond(const Ticks& ticks) {
  if (ticks.TimeIsNull()) throw std::runtime_error("Tick without Time in " + ticks.Table());
  return SecondOfDayMs(ticks.TimeMs());
}

// The current tick of `ticks` as bars are formed from it, in two steps: its
// time stamp, which may end the day before anything else of the row is
// read, then its prices and volume. The sizes play no part.
template <class Ticks>
THisttableRecord ReadStamp(const Ticks& ticks) {
  THisttableRecord r;
  r.Date = StoredDay(ticks);
  r.Time = StoredSecond(ticks);
  return r;
}

template <class Ticks>
void ReadPrices(const Ticks& ticks, THisttableRecord& r) {
  r.Bid = ticks.Bid();
  r.Offer = ticks.Offer();
  r.Price = ticks.Price();
  r.Volume = rtl::RoundHalfEven(ticks.Volume());
}

// The ticks of a day's run in a pack whose rows all have a date and a time,
// as ReadStamp and ReadPrices give them, taken a block at a time: the
// values are converted in one loop per block, not through the accessors of
// each row.
class PackDayReader {
 public:
  PackDayReader(PackTicks& ticks, int64_t day_end) : ticks_(ticks), day_end_(day_end) {}

  // The next tick of the day into `r`; false at the run's end or at the
  // first tick past the day's end time.
  bool Next(THisttableRecord& r) {
    if (at_ == count_ && !Fill()) return false;
    const size_t j = place_ + at_;
    if (date_[at_] * 86400 + time_[at_] > day_end_) return false;
    r.Date = date_[at_];
    r.Time = time_[at_];
    r.Bid = bid_->values[j];
    r.Offer = offer_->values[j];
    r.Price = price_->values[j];
    r.Volume = RoundedAt(*volume_, j);
    ++at_;
    return true;
  }

 private:
  bool Fill() {
    ticks_.Skip(count_);
    at_ = 0;
    count_ = ticks_.RunInBlock();
    if (count_ == 0) return false;
    place_ = ticks_.PlaceInBlock();
    const engine::TickPack::Block& date = ticks_.BlockOf(engine::kPackDate);
    const engine::TickPack::Block& time = ticks_.BlockOf(engine::kPackTime);
    for (size_t i = 0; i < count_; ++i) {
      date_[i] = DayOfMs(MillisecondsAt(date, place_ + i));
      time_[i] = SecondOfDayMs(MillisecondsAt(time, place_ + i));
    }
    bid_ = &ticks_.BlockOf(engine::kPackBid);
    offer_ = &ticks_.BlockOf(engine::kPackOffer);
    price_ = &ticks_.BlockOf(engine::kPackPrice);
    volume_ = &ticks_.BlockOf(engine::kPackVolume);
    return true;
  }

  PackTicks& ticks_;
  const int64_t day_end_;
  size_t place_ = 0, count_ = 0, at_ = 0;
  int64_t date_[engine::kPackBlock], time_[engine::kPackBlock];
  const engine::TickPack::Block *bid_ = nullptr, *offer_ = nullptr, *price_ = nullptr, *volume_ = nullptr;
};

// The bar state and the reply lines of one call.
class BarWriter {
 public:
  BarWriter(TWebResponse& out, const ProcessSettings& settings, int interval)
      : out_(out),
        uw_(settings.calc_mode == "UW"),
        tick_only_(uw_ && settings.execution_tick_only),
        interval_(interval) {}

  // Forms the bars of one day from its ticks in read order: `first`, then
  // each tick that `next(r)` puts in r, until it returns false.
  template <class Next>
  void Day(const THisttableRecord& first, Next&& next, int64_t bar_start, int64_t day_end,
           int64_t nominal_time);
  int RecNo() const { return rec_no_; }

 private:
  bool NoPrice() const { return high_ == kNoHigh && low_ == kNoLow; }
  // Writes the slot that starts at bar_start_ and moves to the next slot.
  // `ref` is the time the nominal update time is compared with.
  void WriteBar(int64_t ref);
  void WriteDash();
  void Advance();
  void Take(const THisttableRecord& r, int64_t t);
  void BeginLine();
  void Send();

  TWebResponse& out_;
  const bool uw_;
  const bool tick_only_;
  const int64_t interval_;
  std::string line_;

  int64_t bar_start_ = 0, bar_end_ = 0, nominal_ = 0;
  double open_ = 0, high_ = 0, low_ = 0, close_ = 0;
  int64_t last_volume_ = 0, prev_volume_ = 0;
  int rec_no_ = 0;
  // Kept over the whole call, as the closing bar of a day that placed no
  // tick must not take the place of one from an earlier day.
  int64_t last_seen_ = 0, last_placed_ = 0;
};

template <class Next>
void BarWriter::Day(const THisttableRecord& first, Next&& next, int64_t bar_start, int64_t day_end,
                    int64_t nominal_time) {
  bar_start_ = bar_start;
  bar_end_ = bar_start + interval_;
  nominal_ = nominal_time;
  // Every day starts afresh: nothing of the day before carries over.
  open_ = close_ = first.Price;
  high_ = kNoHigh;
  low_ = kNoLow;
  last_volume_ = 0;
  prev_volume_ = 0;

  THisttableRecord r = first;
  do {
    if (bar_end_ > day_end + kOneSecond) break;
    const int64_t t = r.Stamp();
    last_seen_ = t;
    if (t > day_end) break;
    // A tick exactly at the end of a slot belongs to the next slot.
    if (t >= bar_end_) {
      WriteBar(bar_start_);
      open_ = high_ = low_ = close_ = r.Price;
      if (tick_only_ && r.Volume == last_volume_ && nominal_ > t) {
        high_ = kNoHigh;
        low_ = kNoLow;
        open_ = 0;
        close_ = 0;
      }
      prev_volume_ = last_volume_;
      Advance();
    }
    while (t >= bar_end_ && bar_start_ <= day_end) {
      WriteDash();
      Advance();
    }
    Take(r, t);
    last_volume_ = r.Volume;
    last_placed_ = t;
  } while (next(r));

  // The slot of the day's last placed tick has no later tick to close it.
  if (bar_end_ <= day_end + kOneSecond && bar_start_ <= last_placed_ && last_placed_ < bar_end_) {
    WriteBar(last_seen_);
    Advance();
  }
  if (uw_) {
    while (bar_end_ <= day_end + kOneSecond) {
      WriteDash();
      Advance();
    }
  }
}

void BarWriter::Advance() {
  bar_start_ = bar_end_;
  bar_end_ += interval_;
  ++rec_no_;
}

void BarWriter::Take(const THisttableRecord& r, int64_t t) {
  if (!uw_) {
    // The tick's own price reaches high and low only as the close, once a
    // further tick is taken into the same bar.
    if (high_ < r.Bid) high_ = r.Bid;
    if (high_ < r.Offer) high_ = r.Offer;
    if (open_ > high_) high_ = open_;
    if (open_ < low_) low_ = open_;
    if (close_ > high_) high_ = close_;
    if (close_ < low_) low_ = close_;
    if (low_ > r.Offer) low_ = r.Offer;
    if (low_ > r.Bid) low_ = r.Bid;
    close_ = r.Price;
    return;
  }
  if (tick_only_) {
    // Before the nominal update time only executions (ticks that add to the
    // running volume) move the prices.
    const bool execution = r.Volume != last_volume_;
    if (!execution && t < nominal_) return;
    if (open_ == 0) open_ = r.Price;
  }
  if (r.Price > high_) high_ = r.Price;
  if (r.Price < low_) low_ = r.Price;
  close_ = r.Price;
}

void BarWriter::WriteBar(int64_t ref) {
  const int64_t d = last_volume_ - prev_volume_;
  if (d == 0 && (NoPrice() || (tick_only_ && nominal_ > ref))) {
    WriteDash();
    return;
  }
  BeginLine();
  AppendPrices(line_, open_, high_, low_, close_, 3);
  if (d > 0) {
    rtl::AppendInt(line_, d);
  } else if (d < 0) {
    // The running volume went down (a corrected total): show it whole.
    rtl::AppendInt(line_, last_volume_);
  } else {
    line_ += '-';
  }
  line_ += "|\r\n";
  Send();
}

void BarWriter::WriteDash() {
  BeginLine();
  line_ += "-|-|-|-|-|\r\n";
  Send();
}

// "INTERVAL|RecNo|yyyy/mm/dd|hh:nn:ss|" of the slot at bar_start_.
void BarWriter::BeginLine() { BeginBarLine(line_, "INTERVAL", rec_no_, FromSeconds(bar_start_)); }

void BarWriter::Send() { out_.SendLine(line_); }

}  // namespace

void THistData::GenInterval3(const std::string& Symbol, TDateTime timeBegin, TDateTime timeEnd,
                             TDateTime dateBegin, TDateTime dateEnd, int DayCount, int interval) {
  TWebResponse& out = *Response;
  const ProcessSettings settings = CurrentSettings();
  GenStockName(Symbol);
  if (!IsValidBarInterval(interval)) {
    SendInvalidInterval(out);
    return;
  }

  BarWriter bars(out, settings, interval);
  bool NoDataSent = false;
  // The day's anchors are whole seconds of the time of day, as the times'
  // "hh:nn:ss" texts show them.
  const int64_t BeginSecond = SecondOfDay(timeBegin);
  const int64_t EndSecond = SecondOfDay(timeEnd);
  const int64_t NominalSecond = SecondOfDay(settings.nominal_update_time);

  // The first day is searched from timeBegin, so that a tick exactly at it
  // is read.
  const DayWalk walk{Symbol, SeekDateByCount(DayCount, dateBegin, dateEnd), dateEnd, dateBegin,
                     timeBegin};
  const bool DataExists = PreCheckExistDaysData(dateBegin, dateEnd);
  auto missing = [&](TDateTime) {
    if (!DataExists && !NoDataSent) {
      SendNoDataForDate(out);
      NoDataSent = true;
    }
  };
  // The day list, kept from day to day so that its room is reused.
  std::vector<THisttableRecord> day;
  WalkDayTicks(HistTable, walk, [&](auto& ticks, TDateTime) {
    if (!ticks.More()) {
      HistTable.Close();
      return;
    }
    // Every row of a day table carries the same date; the first row found
    // sets the day's anchors, and the day's ticks end before the first one
    // past its end time.
    THisttableRecord first = ReadStamp(ticks);
    ReadPrices(ticks, first);
    const int64_t DayStart = first.Date * 86400;
    const int64_t DayEnd = DayStart + EndSecond;
    ticks.Next();
    if constexpr (kTicksInMemory<std::decay_t<decltype(ticks)>>) {
      // Ticks held in memory, none without its date or time, cannot fail
      // half-way through the day: its bars are formed as they are read.
      if (ticks.DatesAndTimesComplete()) {
        HistTable.Close();
        PackDayReader reader(ticks, DayEnd);
        bars.Day(first, [&](THisttableRecord& r) { return reader.Next(r); }, DayStart + BeginSecond, DayEnd,
                 DayStart + NominalSecond);
        return;
      }
    }
    // Otherwise the day is read whole first, so that the table is closed,
    // and a tick without a time found, before any line of the day goes out.
    day.clear();
    for (; ticks.More(); ticks.Next()) {
      THisttableRecord r = ReadStamp(ticks);
      if (r.Stamp() > DayEnd) break;
      ReadPrices(ticks, r);
      day.push_back(r);
    }
    HistTable.Close();
    size_t next = 0;
    bars.Day(first, [&](THisttableRecord& r) {
      if (next == day.size()) return false;
      r = day[next++];
      return true;
    }, DayStart + BeginSecond, DayEnd, DayStart + NominalSecond);
  }, missing);

  if (bars.RecNo() > 0) {
    SendRecordCount(out, bars.RecNo());
  } else {
    SendRecordNotFound(out);
  }
}

}  // namespace hist
