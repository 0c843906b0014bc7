// Mode 2: the latest tick of a symbol that is at least one hour old.
//
// Today's table is read up to the current time less one hour. When today has
// no such tick, the answer is the symbol's last tick on the most recent
// earlier day that has a table, however far back that day lies: the step
// back over days without a table ends at the oldest day table the store
// holds, found with one look at the store, so an unknown symbol costs no
// more than the tables there are. A table name holds the year without its
// century, so a name stands for its latest day before today, and the walk
// never goes back a century or more (it would read today's tables again as
// if they were a century old). Having read a table more than 7 days old,
// the search stops whatever it found. Finding no tick at all gives
// "ERROR|Record not found.|" as the last bytes of the body, without CR LF.
#include <cmath>
#include <string>
#include <vector>

#include "data/day_scan.h"
#include "platform/rtl/numbers.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {

namespace {

// After reading a table this many days old or older, the search stops.
constexpr double kLastDayOfDelay = 7;

// The oldest day among the day tables `names` that the walk back can reach,
// each taken as its latest day before `today`; +infinity when there is none.
// Today's own table, and any dated after today, stand for days a century
// back, out of reach: counting them would send the walk over every day of
// that century in vain.
TDateTime OldestDayBefore(const std::vector<std::string>& names, TDateTime today) {
  const rtl::DateTimeParts now = rtl::DecodeDateTime(today);
  const int century = now.year - now.year % 100;
  TDateTime oldest = INFINITY;
  for (const std::string& name : names) {
    const int yy = std::stoi(name.substr(4, 2));
    const int mm = std::stoi(name.substr(6, 2));
    const int dd = std::stoi(name.substr(8, 2));
    TDateTime day;
    if (!rtl::TryEncodeDate(century + yy, mm, dd, day) || day >= today) {
      if (!rtl::TryEncodeDate(century + yy - 100, mm, dd, day)) continue;
    }
    if (today - day > kDaysWithDistinctNames - 1) continue;
    if (day < oldest) oldest = day;
  }
  return oldest;
}

// The symbol's last kept tick. `time` 0 means none kept, as a tick stamped
// exactly at midnight is taken to be.
struct KeptTick {
  double time = 0.0;
  TickQuote quote;
};

// Keeps each row of `symbol` from the symbol's first row on while its time is
// at or before `cutoff_ms` (none for earlier days); leaves the table closed.
// The row that rule keeps last is looked up from the far end of the symbol's
// rows, so that a symbol of many ticks costs no more than one of few; only
// where the store cannot do that (another spelling of the symbol shares the
// table) are the rows read from the first.
void KeepLastTick(engine::TTable& table, const std::string& symbol, bool limited, int64_t cutoff_ms,
                  KeptTick& kept) {
  table.Open();
  const TickFields f(table);
  auto keep = [&] {
    kept.time = f.Time.AsDateTime();
    kept.quote = f.Quote();
  };
  auto within = [&] { return !limited || rtl::ToMilliseconds(f.Time.AsDateTime()) <= cutoff_ms; };
  // The store compares stored times, not their milliseconds: the bound takes
  // in every row of the cut-off's millisecond, and the row found is checked.
  const double before = static_cast<double>(cutoff_ms + 1) / static_cast<double>(rtl::kMsPerDay);
  if (table.FindLast(symbol, limited, before)) {
    if (table.Eof()) {
      table.Close();
      return;
    }
    if (f.Symbol.AsStringView() == symbol && within()) {
      keep();
      table.Close();
      return;
    }
  }
  table.FindNearest(symbol);
  while (!table.Eof() && f.Symbol.AsStringView() == symbol && within()) {
    keep();
    table.Next();
  }
  table.Close();
}

}  // namespace

void THistData::GenDelay(const std::string& Symbol, TWebResponse& Response) {
  // One reading of the clock gives both the day and the cut-off, so that a
  // request at midnight does not mix two days.
  const TDateTime now = rtl::Now();
  const TDateTime today = std::floor(now);
  const int64_t cutoff_ms = rtl::ToMilliseconds(now - today - rtl::kOneHour);
  TDateTime Day = today;
  KeptTick kept;

  GenStockName(Symbol);

  NameDayTable(HistTable, Day);
  if (HistTable.Exists()) KeepLastTick(HistTable, Symbol, true, cutoff_ms, kept);

  // Looked up only when the walk back is needed.
  TDateTime oldest = NAN;
  while (kept.time == 0.0) {
    if (std::isnan(oldest)) oldest = OldestDayBefore(HistTable.DayTableNames(), today);
    bool found = false;
    while (!found && Day > oldest && today - Day < kDaysWithDistinctNames - 1) {
      Day -= 1;
      NameDayTable(HistTable, Day);
      found = HistTable.Exists();
    }
    if (!found) break;
    KeepLastTick(HistTable, Symbol, false, 0, kept);
    if (today - Day > kLastDayOfDelay) break;
  }

  if (kept.time == 0.0) {
    SendRecordNotFoundAtEnd(Response);
    return;
  }
  std::string line = "TICK|0|";
  rtl::AppendDateTime(line, "yyyy/mm/dd", Day);
  line += '|';
  rtl::AppendDateTime(line, "hh:nn:ss", kept.time);
  line += '|';
  rtl::AppendFixed(line, kept.quote.Bid, 2);
  line += '|';
  rtl::AppendFixed(line, kept.quote.Offer, 2);
  line += '|';
  rtl::AppendFixed(line, kept.quote.Price, 2);
  line += '|';
  rtl::AppendInt(line, kept.quote.BidSize);
  line += '|';
  rtl::AppendInt(line, kept.quote.OfferSize);
  line += '|';
  rtl::AppendInt(line, kept.quote.Volume);
  line += "|\r\n";
  Response.SendLine(line);
}

}  // namespace hist
