// Mode 5: whole-minute bars merged from the one-minute store, kept to the
// symbol's trading sessions, with flat bars filling quiet minutes inside a
// session and up to BackCount bars from before the requested range.
//
// Bars shorter than a minute cannot be built from one-minute rows, so they
// are handed to the tick-table generator.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {
namespace {

// A finished bar held back until the first bar of the requested range shows
// how many of the earlier ones are wanted.
class TIntervalRecord {
 public:
  TIntervalRecord(int32_t Volume, double TimeBegin, double PriceOpen, double PriceHigh,
                  double PriceLow, double PriceClose)
      : TimeBegin(TimeBegin),
        PriceOpen(PriceOpen),
        PriceHigh(PriceHigh),
        PriceLow(PriceLow),
        PriceClose(PriceClose),
        Volume(Volume) {}
  double TimeBegin;
  double PriceOpen, PriceHigh, PriceLow, PriceClose;
  int32_t Volume;
};

struct TradeSession {
  double TimeOpen;
  double TimeClose;
};

// Session bounds are compared with this tolerance (about 0.09 s), as they
// are stored as fractions of a day.
constexpr double kEpsilon = 1e-6;

// 32-bit sums wrap as the store's integer arithmetic does, without the
// undefined behaviour of signed overflow.
int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

void THistData::GenFastInterval(const std::string& Symbol, int Interval, TDateTime TimeStart,
                                TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver,
                                int IUnit, int BackCount) {
  std::vector<std::unique_ptr<TIntervalRecord>> Pending;
  const TDateTime TimeFrom = DateStart + TimeStart;
  const TDateTime TimeTo = DateOver + TimeOver;
  int RecNo = 0;
  TWebResponse& out = *Response;

  GenStockName(Symbol);
  if (IUnit < 0 || IUnit > 2) return;

  static constexpr int64_t kUnitSeconds[] = {1, 60, 3600};
  const int32_t BarMinutes =
      static_cast<int32_t>(static_cast<int64_t>(Interval) * kUnitSeconds[IUnit] / 60);
  if (BarMinutes == 0) {
    GenInterval(Symbol, 0, TimeStart, TimeOver, DateStart, DateOver, Interval);
    return;
  }
  // A negative bar length would walk the gap fill backwards for ever; such a
  // request has no bars to give.
  if (BarMinutes < 0) return;
  // Bar starts are kept in whole milliseconds: floor() of a date-time scaled
  // to minutes can land one bar early when the stored value sits an ulp below
  // the minute, and a bar start rebuilt from floating parts can compare an
  // ulp away from the range start. Whole milliseconds make both exact.
  const int64_t BarLengthMs = static_cast<int64_t>(BarMinutes) * 60000;
  const int64_t TimeFromMs = rtl::ToMilliseconds(TimeFrom);

  std::vector<TradeSession> Sessions;
  auto LoadTradeSession = [&] {
    spMarketSessionQuery.Close();
    spMarketSessionQuery.ParamByName("@Symbol").SetAsString(Symbol);
    spMarketSessionQuery.Open();
    engine::TField& open = spMarketSessionQuery.FieldByName("TimeOpen");
    engine::TField& close = spMarketSessionQuery.FieldByName("TimeClose");
    for (; !spMarketSessionQuery.Eof(); spMarketSessionQuery.Next())
      Sessions.push_back({open.AsDateTime(), close.AsDateTime()});
    spMarketSessionQuery.Close();
  };

  // A bar starting at the opening time is inside its session, one starting
  // at the closing time is not.
  auto CheckTradeSession = [&](int64_t BarTimeMs) {
    int64_t tod = BarTimeMs % rtl::kMsPerDay;
    if (tod < 0) tod += rtl::kMsPerDay;
    const double T = static_cast<double>(tod) / rtl::kMsPerDay;
    for (const TradeSession& s : Sessions) {
      if (s.TimeOpen - T > kEpsilon) return false;
      if (T <= s.TimeClose - kEpsilon) return true;
    }
    return false;
  };

  std::string line;
  auto OutputInterval = [&](int32_t Volume, double TimeBegin, double PriceOpen, double PriceHigh,
                            double PriceLow, double PriceClose) {
    BeginBarLine(line, "TICK", RecNo, TimeBegin);
    AppendPrices(line, PriceOpen, PriceHigh, PriceLow, PriceClose, 2);
    rtl::AppendInt(line, Volume);
    line += "|\r\n";
    out.SendLine(line);
    ++RecNo;
  };

  auto PushInterval = [&](int32_t Volume, int64_t TimeBeginMs, double PriceOpen,
                          double PriceHigh, double PriceLow, double PriceClose) {
    const double TimeBegin = static_cast<double>(TimeBeginMs) / rtl::kMsPerDay;
    if (TimeFromMs > TimeBeginMs) {
      Pending.push_back(std::make_unique<TIntervalRecord>(Volume, TimeBegin, PriceOpen, PriceHigh,
                                                          PriceLow, PriceClose));
      return;
    }
    if (!Pending.empty()) {
      const int64_t count = static_cast<int64_t>(Pending.size());
      const int64_t first = std::max<int64_t>(count - BackCount, 0);
      for (int64_t i = first; i < count; ++i) {
        const TIntervalRecord& r = *Pending[i];
        OutputInterval(r.Volume, r.TimeBegin, r.PriceOpen, r.PriceHigh, r.PriceLow, r.PriceClose);
      }
      Pending.clear();
    }
    OutputInterval(Volume, TimeBegin, PriceOpen, PriceHigh, PriceLow, PriceClose);
  };

  LoadTradeSession();

  spIntervalQuery.Close();
  spIntervalQuery.ParamByName("@Symbol").SetAsString(Symbol);
  spIntervalQuery.ParamByName("@TimeFrom").SetAsDateTime(TimeFrom);
  spIntervalQuery.ParamByName("@TimeTo").SetAsDateTime(TimeTo);
  // The store holds one row per minute, so the look-back is counted in rows.
  spIntervalQuery.ParamByName("@BackCount")
      .SetAsInteger(static_cast<int32_t>(static_cast<int64_t>(BackCount) * BarMinutes));
  spIntervalQuery.Open();

  engine::TField& fTimeBegin = spIntervalQuery.FieldByName("TimeBegin");
  engine::TField& fOpen = spIntervalQuery.FieldByName("PriceOpen");
  engine::TField& fHigh = spIntervalQuery.FieldByName("PriceHigh");
  engine::TField& fLow = spIntervalQuery.FieldByName("PriceLow");
  engine::TField& fClose = spIntervalQuery.FieldByName("PriceClose");
  engine::TField& fVolume = spIntervalQuery.FieldByName("Volume");

  int64_t BarStartMs = 0;  // 0: no bar yet
  double Open = 0, High = 0, Low = 0, Close = 0;
  int32_t BarVolume = 0;
  for (; !spIntervalQuery.Eof(); spIntervalQuery.Next()) {
    const int64_t RowMs = rtl::ToMilliseconds(fTimeBegin.AsDateTime());
    const int64_t RowBarMs = rtl::FloorDiv(RowMs, BarLengthMs) * BarLengthMs;
    if (RowBarMs > BarStartMs) {
      if (BarStartMs != 0 && CheckTradeSession(BarStartMs)) {
        PushInterval(BarVolume, BarStartMs, Open, High, Low, Close);
        BarStartMs += BarLengthMs;
        while (RowBarMs > BarStartMs && CheckTradeSession(BarStartMs)) {
          PushInterval(0, BarStartMs, Close, Close, Close, Close);
          BarStartMs += BarLengthMs;
        }
      }
      Open = fOpen.AsFloat();
      High = fHigh.AsFloat();
      Low = fLow.AsFloat();
      Close = fClose.AsFloat();
      BarVolume = fVolume.AsInteger();
      BarStartMs = RowBarMs;
    } else {
      // The row belongs to the bar being built (a row out of order joins it
      // too rather than reopening an earlier bar).
      const double h = fHigh.AsFloat(), l = fLow.AsFloat();
      if (h > High) High = h;
      if (l < Low) Low = l;
      Close = fClose.AsFloat();
      BarVolume = WrapAdd(BarVolume, fVolume.AsInteger());
    }
  }
  // The bar in progress and any bars still pending are not written: the
  // first is unfinished, the others precede a range that never began.
}

}  // namespace hist
