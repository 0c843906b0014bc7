#include "data/day_scan.h"

#include "data/lookups.h"
#include "platform/rtl/numbers.h"

namespace hist {

rtl::TDateTime FirstDayToRead(rtl::TDateTime first, rtl::TDateTime last) {
  const rtl::TDateTime earliest = last - (kDaysWithDistinctNames - 1);
  return first < earliest ? earliest : first;
}

TickFields::TickFields(engine::TTable& table)
    : Date(table.FieldByName("Date")),
      Time(table.FieldByName("Time")),
      Symbol(table.FieldByName("Symbol")),
      Bid(table.FieldByName("Bid")),
      Offer(table.FieldByName("Offer")),
      Price(table.FieldByName("Price")),
      BidSize(table.FieldByName("BidSize")),
      Volume(table.FieldByName("Volume")),
      OfferSize(table.FieldByName("OfferSize")) {}

TickQuote TickFields::Quote() const {
  TickQuote q;
  q.Bid = Bid.AsFloat();
  q.Offer = Offer.AsFloat();
  q.Price = Price.AsFloat();
  q.BidSize = rtl::RoundHalfEven(BidSize.AsFloat());
  q.OfferSize = rtl::RoundHalfEven(OfferSize.AsFloat());
  q.Volume = rtl::RoundHalfEven(Volume.AsFloat());
  return q;
}

const std::string& NameDayTable(engine::TTable& table, rtl::TDateTime day) {
  table.Close();
  table.TableName = GetFileName(day);
  return table.TableName;
}

rtl::TDateTime SearchTime(rtl::TDateTime time) {
  return static_cast<double>(rtl::ToMilliseconds(time)) / static_cast<double>(rtl::kMsPerDay);
}

void SeekDayTable(engine::TTable& table, std::string_view symbol) {
  table.Open();
  table.FindNearest(symbol);
}

void SeekDayTable(engine::TTable& table, std::string_view symbol, rtl::TDateTime time) {
  table.Open();
  table.FindNearest(symbol, SearchTime(time));
}

}  // namespace hist
