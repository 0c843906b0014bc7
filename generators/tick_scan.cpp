#include "generators/tick_scan.h"

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
  line += "(Symbol[";
  line += symbol;
  line += "],timeBegin[";
  rtl::AppendDateTime(line, "hh:nn:ss", window.timeBegin);
  line += "],timeEnd[";
  rtl::AppendDateTime(line, "hh:nn:ss", window.timeEnd);
  line += "],dateBegin[";
  rtl::AppendDateTime(line, "yyyy/mm/dd", window.dateBegin);
  line += "],dateEnd[";
  rtl::AppendDateTime(line, "yyyy/mm/dd", window.dateEnd);
  line += "],DayCount[";
  rtl::AppendInt(line, DayCount);
  line += "]).";
  return line;
}

TickScan::TickScan(TWebResponse& response, std::string_view symbol, bool priceChangeOnly)
    : response_(response), symbol_(symbol), price_change_only_(priceChangeOnly) {
  line_.reserve(256);
}

void TickScan::BindFields(engine::TTable& table) {
  date_ = &table.FieldByName("Date");
  time_ = &table.FieldByName("Time");
  symbol_field_ = &table.FieldByName("Symbol");
  bid_ = &table.FieldByName("Bid");
  offer_ = &table.FieldByName("Offer");
  price_ = &table.FieldByName("Price");
  bid_size_ = &table.FieldByName("BidSize");
  volume_ = &table.FieldByName("Volume");
  offer_size_ = &table.FieldByName("OfferSize");
}

DayWalk TickScan::Walk(rtl::TDateTime first, const TickWindow& window) const {
  return DayWalk{symbol_, first, window.dateEnd, window.dateBegin, window.timeBegin};
}

void TickScan::ReadDay(engine::TTable& table, rtl::TDateTime day, const TickWindow& window) {
  const bool first_day = day == window.dateBegin;
  const bool last_day = day == window.dateEnd;
  const int64_t begin_ms = rtl::ToMilliseconds(window.timeBegin);
  const int64_t end_ms = rtl::ToMilliseconds(window.timeEnd);
  BindFields(table);
  while (!table.Eof()) {
    // The index folds case, so rows of "abc" and "ABC" interleave; only the
    // exact symbol belongs to this reply, and the first other row ends it.
    if (symbol_field_->AsStringView() != symbol_) break;
    if (first_day || last_day) {
      const int64_t t = rtl::ToMilliseconds(time_->AsDateTime());
      if (first_day && t < begin_ms) break;
      if (last_day && t > end_ms) break;
    }
    const double price = price_->AsFloat();
    if (!(price_change_only_ && price == last_price_)) {
      WriteLine();
      ++counter_;
      last_price_ = price;
    }
    table.Next();
  }
}

void TickScan::WriteLine() {
  line_.assign("TICK|");
  rtl::AppendInt(line_, counter_);
  line_ += '|';
  date_->AppendText(line_);
  line_ += '|';
  rtl::AppendDateTime(line_, "hh:nn:ss", time_->AsDateTime());
  line_ += '|';
  // Sizes go out as BidSize, OfferSize, Volume, not in stored order.
  for (engine::TField* f : {bid_, offer_, price_, bid_size_, offer_size_, volume_}) {
    f->AppendText(line_);
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
