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

#include "data/lookups.h"
#include "generators/table_closer.h"
#include "generators/tick_scan.h"
#include "generators/tick_time.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/globals.h"
#include "service/hist.h"

namespace hist {

void THistData::GenInterval(const std::string& Symbol, int DayCount, TDateTime TimeStart,
                            TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver,
                            int Interval) {
  TWebResponse& out = *Response;
  GenStockName(Symbol);
  if (!IsValidBarInterval(Interval)) {
    SendErrorMsg(kInvalidIntervalMsg, out);
    return;
  }

  const int64_t IntervalMs = static_cast<int64_t>(Interval) * 1000;
  const int64_t TimeStartMs = MillisecondsOf(TimeStart);
  const int64_t TimeOverMs = MillisecondsOf(TimeOver);
  // The search key at the same millisecond as the comparison below, so that
  // a tick exactly at TimeStart is found and kept.
  const TDateTime SearchTime = FromMilliseconds(TimeStartMs);

  int RecNo = 0;
  double Open = 0, High = 0, Low = 0, Close = 0;
  std::string line;

  TableCloser closer(HistTable);
  // A range longer than a century would read the same tables again (their
  // names carry no century) and repeat their bars.
  const TDateTime ReadFrom =
      FirstDayToRead(SeekDateByCount(DayCount, DateStart, DateOver), DateOver);
  for (TDateTime Day = ReadFrom; Day <= DateOver; Day = Day + 1) {
    HistTable.Close();
    HistTable.TableName = GetFileName(Day);
    HistTable.ReadOnly = true;
    if (!HistTable.Exists()) continue;

    HistTable.Open();
    const bool FirstDay = Day == DateStart;
    const bool LastDay = Day == DateOver;
    if (FirstDay) {
      HistTable.FindNearest(Symbol, SearchTime);
    } else {
      HistTable.FindNearest(Symbol);
    }
    engine::TField& fSymbol = HistTable.FieldByName("Symbol");
    engine::TField& fDate = HistTable.FieldByName("Date");
    engine::TField& fTime = HistTable.FieldByName("Time");
    engine::TField& fPrice = HistTable.FieldByName("Price");
    engine::TField& fVolume = HistTable.FieldByName("Volume");

    // 0 means no bar yet; a tick whose bar starts at the epoch itself is then
    // taken as continuing it, as the comparison with 0 has always done.
    int64_t BarStartMs = 0;
    int64_t BarVolumeBase = 0;
    for (; !HistTable.Eof(); HistTable.Next()) {
      if (fSymbol.AsStringView() != Symbol) break;
      const int64_t TimeMs = MillisecondsOf(fTime.AsDateTime());
      if (FirstDay && TimeMs < TimeStartMs) break;
      if (LastDay && TimeMs > TimeOverMs) break;

      const double Price = fPrice.AsFloat();
      const int64_t Volume = rtl::RoundHalfEven(fVolume.AsFloat());
      const int64_t StampMs = MillisecondsOf(fDate.AsDateTime()) + TimeMs;
      const int64_t TickBarMs = FloorDiv(StampMs, IntervalMs) * IntervalMs;

      if (TickBarMs != BarStartMs) {
        if (BarStartMs > 0 && Open > 0 && Close > 0 && High > 0 && Low > 0) {
          int64_t BarVolume = Volume - BarVolumeBase;
          if (BarVolume < 0) BarVolume = Volume;
          const TDateTime BarStart = FromMilliseconds(BarStartMs);
          line.assign("TICK|");
          rtl::AppendInt(line, RecNo);
          line += '|';
          line += rtl::FormatDateTime("yyyy/mm/dd", BarStart);
          line += '|';
          line += rtl::FormatDateTime("hh:nn:ss", BarStart);
          for (double price : {Open, High, Low, Close}) {
            line += '|';
            rtl::AppendFixed(line, price, 2);
          }
          line += '|';
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
    HistTable.Close();
  }

  if (RecNo > 0) {
    line.assign("NOTE|RECORDCOUNT|");
    rtl::AppendInt(line, RecNo);
    line += '|';
    line += kLineTerminator;
    out.SendLine(line);
  } else {
    SendErrorMsg("ERROR|Record not found.|", out);
  }
}

}  // namespace hist
