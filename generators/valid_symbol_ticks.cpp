// Mode 3 under the UW calculation: the intraday ticks of a symbol that the
// module database marks valid, without name lines. A request that named no
// dates steps back a day at a time, up to 30 passes in all, until a pass
// finds a tick, so that a client asking "today" outside trading days still
// gets the last day traded.
//
// Every call logs "Create DB faile For Model 3" ahead of the module-query
// checks, as the line has always stood there without a condition of its own
// and log readers expect it; a module whose database failed at creation then
// logs which query is missing, and its reply stays empty.
#include <string>

#include "data/day_ticks.h"
#include "data/lookups.h"
#include "generators/tick_lines.h"
#include "log/zetUtilities.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {

namespace {

// Passes after which a request without dates stops stepping back.
constexpr int kMaxPasses = 30;

}  // namespace

void THistData::GenUWIntraday(const std::string& Symbol, TWebResponse& Response,
                              TDateTime timeBegin, TDateTime timeEnd, TDateTime dateBegin,
                              TDateTime dateEnd, bool todayFlag, int DayCount,
                              bool priceChangeOnly) {
  DoGenUWIntraday(Symbol, Response, timeBegin, timeEnd, dateBegin, dateEnd, todayFlag, DayCount,
                  priceChangeOnly);
}

void THistData::DoGenUWIntraday(const std::string& Symbol, TWebResponse& Response,
                                TDateTime timeBegin, TDateTime timeEnd, TDateTime dateBegin,
                                TDateTime dateEnd, bool todayFlag, int DayCount,
                                bool priceChangeOnly) {
  TickWindow window{timeBegin, timeEnd, dateBegin, dateEnd};
  zetlog::Log(IntradayEntryLine("DoGenUWIntraday", Symbol, window, DayCount));
  if (todayFlag) zetlog::Log("Empty Date for Mode 3");
  zetlog::Log(priceChangeOnly ? "Is Price Only." : "Not Is Price Only.");

  TickScan scan(Response, Symbol, priceChangeOnly);

  zetlog::Log("Create DB faile For Model 3");
  if (!ModuleQueriesMade(IntervalQuery.get(), FIsValidSymbolQuery.get(), "3")) return;
  if (!IsValidProduct(Symbol, FIsValidSymbolQuery.get())) {
    SendNoData(Response);
    zetlog::Log("Symbol is invalid:" + Symbol);
    return;
  }

  auto read = [&](auto& ticks, TDateTime day) { scan.ReadDay(ticks, day, window); };
  auto named = [](const std::string& name) { zetlog::Log("UW Mode 3 Table Name:" + name); };
  TDateTime Day = SeekDateByCount(DayCount, dateBegin, dateEnd);
  for (int passes = 1;; ++passes) {
    WalkDayTicks(HistTable, scan.Walk(Day, window), read, SkipMissingDay{}, named);
    // Each later pass covers the single day before the previous pass's last
    // day, with both time bounds applied to it.
    window.dateEnd -= 1;
    window.dateBegin = window.dateEnd;
    Day = window.dateEnd;
    if (scan.WroteAny() || passes >= kMaxPasses || !todayFlag) break;
  }
  scan.Finish();
}

}  // namespace hist
