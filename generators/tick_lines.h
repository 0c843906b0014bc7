// The tick lines of the intraday generators (modes 0 and 3, and mode 3 under
// the UW calculation), read from the days that the day walk opens.
//
// One TickScan lives for one generator call: it carries the record counter
// and the last price written across days, and forms every line in one buffer
// that it reuses, so a reply of any length costs the memory of one line.
//
// Times are compared in whole milliseconds, the resolution the day tables
// store, so that a tick stamped exactly at a window bound is inside it however
// the bound's double was computed.
#ifndef HISTDATA_GENERATORS_TICK_LINES_H_
#define HISTDATA_GENERATORS_TICK_LINES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "data/day_scan.h"
#include "data/day_ticks.h"
#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/web.h"

namespace hist {

// The date and time window of one request: from timeBegin on dateBegin to
// timeEnd on dateEnd, both ends included.
struct TickWindow {
  rtl::TDateTime timeBegin = 0, timeEnd = 0;
  rtl::TDateTime dateBegin = 0, dateEnd = 0;
};

class TickScan {
 public:
  TickScan(TWebResponse& response, std::string_view symbol, bool priceChangeOnly);
  TickScan(const TickScan&) = delete;
  TickScan& operator=(const TickScan&) = delete;

  // The walk over the window's days: FirstDayToRead(first) to dateEnd, each
  // searched from (symbol, timeBegin) on dateBegin.
  DayWalk Walk(rtl::TDateTime first, const TickWindow& window) const;

  // Writes a line per tick of the symbol in the window from `ticks`, the
  // run of `day` (data/day_ticks.h). The scan ends with the run, before
  // timeBegin on dateBegin, or after timeEnd on dateEnd.
  template <class Ticks>
  void ReadDay(Ticks& ticks, rtl::TDateTime day, const TickWindow& window);

  // The record-count line, or the two error lines when no tick was written.
  void Finish();

  bool WroteAny() const { return counter_ != 0; }

 private:
  template <class Ticks>
  void WriteLine(const Ticks& ticks);
  void SendLine();

  TWebResponse& response_;
  std::string_view symbol_;
  bool price_change_only_;
  int counter_ = 0;
  double last_price_ = 0.0;
  std::string line_;
};

template <class Ticks>
void TickScan::ReadDay(Ticks& ticks, rtl::TDateTime day, const TickWindow& window) {
  const bool first_day = day == window.dateBegin;
  const bool last_day = day == window.dateEnd;
  const int64_t begin_ms = rtl::ToMilliseconds(window.timeBegin);
  const int64_t end_ms = rtl::ToMilliseconds(window.timeEnd);
  for (; ticks.More(); ticks.Next()) {
    if (first_day || last_day) {
      const int64_t t = rtl::ToMilliseconds(ticks.Time());
      if (first_day && t < begin_ms) break;
      if (last_day && t > end_ms) break;
    }
    const double price = ticks.Price();
    if (!(price_change_only_ && price == last_price_)) {
      WriteLine(ticks);
      ++counter_;
      last_price_ = price;
    }
  }
}

template <class Ticks>
void TickScan::WriteLine(const Ticks& ticks) {
  line_.assign("TICK|");
  rtl::AppendInt(line_, counter_);
  line_ += '|';
  ticks.AppendLineFields(line_);
  line_ += "\r\n";
  SendLine();
}

// "Enter <name>(Symbol[..],timeBegin[..],timeEnd[..],dateBegin[..],dateEnd[..],DayCount[..])."
// with the log's time prefix: the entry line of both intraday workers.
std::string IntradayEntryLine(std::string_view name, std::string_view symbol,
                              const TickWindow& window, int DayCount);

}  // namespace hist

#endif  // HISTDATA_GENERATORS_TICK_LINES_H_
