// Mode 4: interval bars built from the tick tables, aligned to whole
// multiples of the interval counted from the epoch, written as TICK lines.
//
// A bar is written only when the first tick of a later bar arrives, because
// its volume is the growth of the day's running Volume up to that tick; the
// bar in progress when a day's scan stops is therefore never written. A bar
// opens at the previous bar's close, so the first bar of a call (open 0) is
// never written, while the first bar of a later day opens at the last price
// of the day before.
#include <cstdint>
#include <string>
#include <string_view>

#include "data/day_ticks.h"
#include "generators/tick_time.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {

void THistData::GenInterval(const std::string& Symbol, int DayCount, TDateTime TimeStart,
                            TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver,
                            int Interval) {
  TWebResponse& out = *Response;
  GenStockName(Symbol);
  if (!IsValidBarInterval(Interval)) {
    SendInvalidInterval(out);
    return;
  }

  const int64_t IntervalMs = static_cast<int64_t>(Interval) * 1000;
  const int64_t TimeStartMs = rtl::ToMilliseconds(TimeStart);
  const int64_t TimeOverMs = rtl::ToMilliseconds(TimeOver);

  int RecNo = 0;
  double Open = 0, High = 0, Low = 0, Close = 0;
  std::string line;

  // The first day is searched from TimeStart at the millisecond, the one
  // the comparison below takes, so that a tick exactly at it is kept.
  const DayWalk walk{Symbol, SeekDateByCount(DayCount, DateStart, DateOver), DateOver, DateStart,
                     TimeStart};
  WalkDayTicks(HistTable, walk, [&](auto& ticks, TDateTime Day) {
    const bool FirstDay = Day == DateStart;
    const bool LastDay = Day == DateOver;

    // 0 means no bar yet; a tick whose bar starts at the epoch itself is then
    // taken as continuing it, as the comparison with 0 has always done.
    int64_t BarStartMs = 0;
    int64_t BarVolumeBase = 0;
    for (; ticks.More(); ticks.Next()) {
      const int64_t TimeMs = rtl::ToMilliseconds(ticks.Time());
      if (FirstDay && TimeMs < TimeStartMs) break;
      if (LastDay && TimeMs > TimeOverMs) break;

      const double Price = ticks.Price();
      const int64_t Volume = rtl::RoundHalfEven(ticks.Volume());
      const int64_t StampMs = rtl::ToMilliseconds(ticks.Date()) + TimeMs;
      const int64_t TickBarMs = rtl::FloorDiv(StampMs, IntervalMs) * IntervalMs;

      if (TickBarMs != BarStartMs) {
        if (BarStartMs > 0 && Open > 0 && Close > 0 && High > 0 && Low > 0) {
          int64_t BarVolume = Volume - BarVolumeBase;
          if (BarVolume < 0) BarVolume = Volume;
          BeginBarLine(line, "TICK", RecNo, FromMilliseconds(BarStartMs));
          AppendPrices(line, Open, High, Low, Close, 2);
          rtl::AppendInt(line, BarVolume);
          line += "|\r\n";
          out.SendLine(line);
          ++RecNo;
        }
        High = Price;
        Low = Price;
        Open = Close;
        Close = Price;
        BarVolumeBase = Volume;
        BarStartMs = TickBarMs;
      } else {
        if (Price > High) High = Price;
        if (Price < Low) Low = Price;
        Close = Price;
      }
    }
  });

  if (RecNo > 0) {
    SendRecordCount(out, RecNo);
  } else {
    SendRecordNotFound(out);
  }
}

}  // namespace hist
