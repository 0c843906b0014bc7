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
//
// Where the store searches several tables in one request (PostgreSQL), the
// walk is planned from the store's day tables and every table it may read
// is searched at once, so that a request costs one request to the store
// beside the names; elsewhere (SQLite, where a presence test is a file
// look-up) it goes a table at a time. Both keep the same rows.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/day_scan.h"
#include "data/lookups.h"
#include "platform/rtl/numbers.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {

namespace {

// After reading a table this many days old or older, the search stops.
constexpr double kLastDayOfDelay = 7;

// The day that the day table `name` stands for in the walk back from
// `today`: its latest day before today within a century's reach; false
// for a name out of reach or of no date. Today's own table, and any dated
// after today, stand for days a century back, out of reach: counting them
// would send the walk over every day of that century in vain.
bool DayOfName(const std::string& name, TDateTime today, TDateTime& day) {
  const rtl::DateTimeParts now = rtl::DecodeDateTime(today);
  const int century = now.year - now.year % 100;
  const int yy = std::stoi(name.substr(4, 2));
  const int mm = std::stoi(name.substr(6, 2));
  const int dd = std::stoi(name.substr(8, 2));
  if (!rtl::TryEncodeDate(century + yy, mm, dd, day) || day >= today) {
    if (!rtl::TryEncodeDate(century + yy - 100, mm, dd, day)) return false;
  }
  return today - day <= kDaysWithDistinctNames - 1;
}

// The oldest day among the day tables `names` that the walk back can reach,
// each taken as its latest day before `today`; +infinity when there is none.
TDateTime OldestDayBefore(const std::vector<std::string>& names, TDateTime today) {
  TDateTime oldest = INFINITY;
  for (const std::string& name : names) {
    TDateTime day;
    if (DayOfName(name, today, day) && day < oldest) oldest = day;
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
// at or before `cutoff_ms` (none for earlier days), on the open `table`;
// leaves the table closed. The row that rule keeps last is looked up from
// the far end of the symbol's rows (FindLast, whose result `found` is), so
// that a symbol of many ticks costs no more than one of few; only where the
// store cannot do that (another spelling of the symbol shares the table) are
// the rows read from the first.
void KeepLastTick(engine::TTable& table, const std::string& symbol, bool limited, int64_t cutoff_ms,
                  bool found, KeptTick& kept) {
  const TickFields f(table);
  auto keep = [&] {
    kept.time = f.Time.AsDateTime();
    kept.quote = f.Quote();
  };
  auto within = [&] { return !limited || rtl::ToMilliseconds(f.Time.AsDateTime()) <= cutoff_ms; };
  if (found) {
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

// The store compares stored times, not their milliseconds: the bound takes
// in every row of the cut-off's millisecond, and the row found is checked.
double BoundOf(int64_t cutoff_ms) {
  return static_cast<double>(cutoff_ms + 1) / static_cast<double>(rtl::kMsPerDay);
}

void KeepLastTick(engine::TTable& table, const std::string& symbol, bool limited, int64_t cutoff_ms,
                  KeptTick& kept) {
  table.Open();
  const bool found = table.FindLast(symbol, limited, BoundOf(cutoff_ms));
  KeepLastTick(table, symbol, limited, cutoff_ms, found, kept);
}

// Inclusive ranges of the day table names of the days from `first` to
// `last` (less than a century apart): one range, or two where the years'
// last two digits run over 99.
std::vector<std::pair<std::string, std::string>> NameRanges(TDateTime first, TDateTime last) {
  const std::string low = GetFileName(first), high = GetFileName(last);
  if (low <= high) return {{low, high}};
  return {{low, "hist999999"}, {"hist000000", high}};
}

// The walk of GenDelay over the day tables `names`, as one search: today's
// table up to the cut-off, then each earlier table, newest first, up to and
// including the first more than kLastDayOfDelay days old. Tables after the
// one that first keeps a tick are read in vain, but in the same request.
// `days` gets the day of each table planned.
engine::LastTickPlan PlanWalk(const std::vector<std::string>& names, TDateTime today, int64_t cutoff_ms,
                              std::vector<TDateTime>& days) {
  engine::LastTickPlan plan;
  days.clear();
  const std::string todays = GetFileName(today);
  std::vector<TDateTime> earlier;
  bool has_today = false;
  for (const std::string& name : names) {
    TDateTime day;
    if (name == todays) {
      has_today = true;
    } else if (DayOfName(name, today, day)) {
      earlier.push_back(day);
    }
  }
  std::sort(earlier.begin(), earlier.end(), std::greater<>());
  if (has_today) {
    plan.probes.push_back({todays, true, BoundOf(cutoff_ms)});
    days.push_back(today);
  }
  // Whether the walk would stop at a table more than 7 days old, rather
  // than run out of tables: then the tables before that one are not its
  // business.
  bool stopped = false;
  for (TDateTime day : earlier) {
    plan.probes.push_back({GetFileName(day), false, 0});
    days.push_back(day);
    if (today - day > kLastDayOfDelay) {
      stopped = true;
      break;
    }
  }
  if (stopped) {
    plan.covered = NameRanges(days.back(), today);
  } else {
    plan.covered = {{"hist000000", "hist999999"}};
  }
  return plan;
}

// GenDelay's walk as one search of the store, where the store searches
// several tables at once; false, with nothing done, where it does not.
// `Day` is left at the day of the last table read.
bool KeepLastTickOfWalk(engine::TTable& table, const std::string& symbol, TDateTime today, int64_t cutoff_ms,
                        TDateTime& Day, KeptTick& kept) {
  std::vector<TDateTime> days;
  const int planned = table.FindLastOfTables(symbol, [&](const std::vector<std::string>& names) {
    return PlanWalk(names, today, cutoff_ms, days);
  });
  if (planned < 0) return false;
  for (int probe = 0; probe < planned && kept.time == 0.0; ++probe) {
    Day = days[probe];
    const bool found = table.OpenFoundLast(probe);
    KeepLastTick(table, symbol, Day == today, cutoff_ms, found, kept);
  }
  return true;
}

// The same walk, a table at a time: today's table when it exists, then
// the day tables listed, each day's presence asked on the way back.
void KeepLastTickDayByDay(engine::TTable& table, const std::string& symbol, TDateTime today, int64_t cutoff_ms,
                          TDateTime& Day, KeptTick& kept) {
  NameDayTable(table, Day);
  if (table.Exists()) KeepLastTick(table, symbol, true, cutoff_ms, kept);

  // Looked up only when the walk back is needed.
  TDateTime oldest = NAN;
  while (kept.time == 0.0) {
    if (std::isnan(oldest)) oldest = OldestDayBefore(table.DayTableNames(), today);
    bool found = false;
    while (!found && Day > oldest && today - Day < kDaysWithDistinctNames - 1) {
      Day -= 1;
      NameDayTable(table, Day);
      found = table.Exists();
    }
    if (!found) break;
    KeepLastTick(table, symbol, false, 0, kept);
    if (today - Day > kLastDayOfDelay) break;
  }
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

  if (KeepLastTickOfWalk(HistTable, Symbol, today, cutoff_ms, Day, kept)) {
    // Left as the walk a table at a time leaves it: closed, named after
    // the last day read.
    NameDayTable(HistTable, Day);
  } else {
    KeepLastTickDayByDay(HistTable, Symbol, today, cutoff_ms, Day, kept);
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
