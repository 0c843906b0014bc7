// Day-table lookups of the request module: which days have tick tables, how
// far back a scan must start to cover a number of days with data, and the
// names the history store knows a symbol by.
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "data/day_scan.h"
#include "data/module_data.h"

namespace hist {

namespace {

// A day counts as a trading day when its table holds more than this many rows.
constexpr int64_t kMinRowsOfADay = 10;

// What one walk over the days has learnt about each table name. The name
// holds no century, so a walk over a range wider than a hundred years meets
// each name again; asking the store once per name keeps a request with an
// absurd date range from costing millions of presence tests (each a
// catalogue query on a server store).
struct DayTableFacts {
  bool exists = false;
  bool counts = false;  // more than kMinRowsOfADay rows
};

}  // namespace

rtl::TDateTime TModuleData::SeekDateByCount(int DayCount, rtl::TDateTime dateBegin,
                                            rtl::TDateTime dateEnd) {
  if (DayCount == 0) return dateBegin;
  std::unordered_map<std::string, DayTableFacts> seen;
  int found = 0;
  rtl::TDateTime day = dateEnd;
  while (day >= dateBegin) {
    auto [facts, fresh] = seen.try_emplace(NameDayTable(HistTable, day));
    if (fresh && (facts->second.exists = HistTable.Exists())) {
      HistTable.Open();
      // Only "more than ten rows" matters: counting stops at eleven instead
      // of walking a whole day's ticks.
      facts->second.counts = HistTable.RecordCount(kMinRowsOfADay + 1) > kMinRowsOfADay;
    }
    if (facts->second.counts) ++found;
    if (found >= DayCount) break;
    day = day - 1;
  }
  return day;
}

bool TModuleData::PreCheckExistDaysData(rtl::TDateTime dateBegin, rtl::TDateTime dateEnd) {
  if (dateEnd - dateBegin == 0) return false;
  std::unordered_set<std::string> asked;  // names already found to have no table
  for (rtl::TDateTime day = dateBegin; day <= dateEnd; day = day + 1) {
    if (!asked.insert(NameDayTable(HistTable, day)).second) continue;
    if (HistTable.Exists()) return true;
  }
  return false;
}

bool TModuleData::FindStockName(const std::string& Symbol) {
  StockNameQuery.Close();
  StockNameQuery.ParamByName("Symbol").SetAsString(Symbol);
  StockNameQuery.Open();
  return !StockNameQuery.Eof();
}

}  // namespace hist
