// The tick lines of modes 0 and 3: one reused line buffer, the window test
// in whole milliseconds, the closing lines.
#include "generators/tick_lines.h"

#include <cmath>

#include "log/zetUtilities.h"
#include "platform/rtl/numbers.h"
#include "service/reply_lines.h"

namespace hist {

std::string IntradayEntryLine(std::string_view name, std::string_view symbol,
                              const TickWindow& window, int DayCount) {
  std::string line = zetlog::LogTimePrefix();
  line += "Enter ";
  line += name;
  line += '(';
  line += WindowText(symbol, window.timeBegin, window.timeEnd, window.dateBegin, window.dateEnd,
                     DayCount);
  line += ").";
  return line;
}

TickScan::TickScan(TWebResponse& response, std::string_view symbol, bool priceChangeOnly)
    : response_(response), symbol_(symbol), price_change_only_(priceChangeOnly) {
  line_.reserve(256);
}

DayWalk TickScan::Walk(rtl::TDateTime first, const TickWindow& window) const {
  return DayWalk{symbol_, first, window.dateEnd, window.dateBegin, window.timeBegin};
}

void TickScan::ReadDay(engine::TTable& table, rtl::TDateTime day, const TickWindow& window) {
  const bool first_day = day == window.dateBegin;
  const bool last_day = day == window.dateEnd;
  const int64_t begin_ms = rtl::ToMilliseconds(window.timeBegin);
  const int64_t end_ms = rtl::ToMilliseconds(window.timeEnd);
  const TickFields f(table);
  while (!table.Eof()) {
    // The index folds case, so rows of "abc" and "ABC" interleave; only the
    // exact symbol belongs to this reply, and the first other row ends it.
    if (f.Symbol.AsStringView() != symbol_) break;
    if (first_day || last_day) {
      const int64_t t = rtl::ToMilliseconds(f.Time.AsDateTime());
      if (first_day && t < begin_ms) break;
      if (last_day && t > end_ms) break;
    }
    const double price = f.Price.AsFloat();
    if (!(price_change_only_ && price == last_price_)) {
      WriteLine(f);
      ++counter_;
      last_price_ = price;
    }
    table.Next();
  }
}

void TickScan::WriteLine(const TickFields& f) {
  line_.assign("TICK|");
  rtl::AppendInt(line_, counter_);
  line_ += '|';
  f.Date.AppendText(line_);
  line_ += '|';
  rtl::AppendDateTime(line_, "hh:nn:ss", f.Time.AsDateTime());
  line_ += '|';
  // Sizes go out as BidSize, OfferSize, Volume, not in stored order.
  for (engine::TField* field : {&f.Bid, &f.Offer, &f.Price, &f.BidSize, &f.OfferSize, &f.Volume}) {
    field->AppendText(line_);
    line_ += '|';
  }
  line_ += "\r\n";
  response_.SendLine(line_);
}

void TickScan::Finish() {
  if (WroteAny()) {
    SendRecordCount(response_, counter_);
  } else {
    SendNoData(response_);
  }
}

}  // namespace hist
