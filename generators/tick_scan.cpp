#include "generators/tick_scan.h"

#include <cmath>

#include "log/zetUtilities.h"
#include "platform/rtl/numbers.h"
#include "service/globals.h"

namespace hist {

int64_t TimeToMs(rtl::TDateTime time) {
  return std::llround(time * static_cast<double>(rtl::kMsPerDay));
}

rtl::TDateTime FirstDayToRead(rtl::TDateTime start, rtl::TDateTime dateEnd) {
  const rtl::TDateTime earliest = dateEnd - (kDaysWithDistinctNames - 1);
  return start < earliest ? earliest : start;
}

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

TickScan::TickScan(TWebResponse& response, std::string_view symbol, bool priceChangeOnly,
                   int firstNumber)
    : response_(response),
      symbol_(symbol),
      price_change_only_(priceChangeOnly),
      first_number_(firstNumber),
      counter_(firstNumber) {
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

void TickScan::ReadDay(engine::TTable& table, rtl::TDateTime day, const TickWindow& window) {
  if (!table.Exists()) return;
  table.Open();
  const bool first_day = day == window.dateBegin;
  const bool last_day = day == window.dateEnd;
  const int64_t begin_ms = TimeToMs(window.timeBegin);
  const int64_t end_ms = TimeToMs(window.timeEnd);
  // The key is the bound at its millisecond, the form stored times take, so
  // that a tick stamped exactly at timeBegin is found.
  if (first_day) {
    table.FindNearest(symbol_, static_cast<double>(begin_ms) / static_cast<double>(rtl::kMsPerDay));
  } else {
    table.FindNearest(symbol_);
  }
  BindFields(table);
  while (!table.Eof()) {
    // The index folds case, so rows of "abc" and "ABC" interleave; only the
    // exact symbol belongs to this reply, and the first other row ends it.
    if (symbol_field_->AsStringView() != symbol_) break;
    if (first_day || last_day) {
      const int64_t t = TimeToMs(time_->AsDateTime());
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
  table.Close();
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
  if (!WroteAny()) {
    SendErrorMsg("ERROR|No data for specified date|", response_);
    SendErrorMsg("ERROR|Record not found.|", response_);
    return;
  }
  line_.assign("NOTE|RECORDCOUNT|");
  rtl::AppendInt(line_, counter_);
  line_ += '|';
  line_ += kLineTerminator;
  response_.SendLine(line_);
}

}  // namespace hist
