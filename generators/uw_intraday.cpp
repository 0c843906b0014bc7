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

#include "data/lookups.h"
#include "generators/tick_scan.h"
#include "log/zetUtilities.h"
#include "service/hist.h"

namespace hist {

namespace {

// Passes after which a request without dates stops stepping back.
constexpr int kMaxPasses = 30;

void Log(const std::string& message) { zetlog::DumpToFile(zetlog::kLogFileName, message, 1); }

}  // namespace

void THistData::GenUWIntraday(const std::string& Symbol, TWebResponse& Response,
                              TDateTime timeBegin, TDateTime timeEnd, TDateTime dateBegin,
                              TDateTime dateEnd, bool todayFlag, int DayCount,
                              bool priceChangeOnly) {
  DoGenUWIntraday(Symbol, Response, timeBegin, timeEnd, dateBegin, dateEnd, todayFlag, DayCount,
                  priceChangeOnly, 0, true);
}

void THistData::DoGenUWIntraday(const std::string& Symbol, TWebResponse& Response,
                                TDateTime timeBegin, TDateTime timeEnd, TDateTime dateBegin,
                                TDateTime dateEnd, bool todayFlag, int DayCount,
                                bool priceChangeOnly, int firstNumber, bool /*nameLines*/) {
  TickWindow window{timeBegin, timeEnd, dateBegin, dateEnd};
  Log(IntradayEntryLine("DoGenUWIntraday", Symbol, window, DayCount));
  if (todayFlag) Log("Empty Date for Mode 3");
  Log(priceChangeOnly ? "Is Price Only." : "Not Is Price Only.");

  TickScan scan(Response, Symbol, priceChangeOnly, firstNumber);

  Log("Create DB faile For Model 3");
  if (!IntervalQuery) {
    Log("Create Interval Query  faile For Model 3");
    return;
  }
  if (!FIsValidSymbolQuery) {
    Log("Create FIsValidSymbolQuery Query  faile For Model 3");
    return;
  }
  if (!IsValidProduct(Symbol, FIsValidSymbolQuery.get())) {
    SendErrorMsg("ERROR|No data for specified date|", Response);
    SendErrorMsg("ERROR|Record not found.|", Response);
    Log("Symbol is invalid:" + Symbol);
    return;
  }

  TDateTime Day = FirstDayToRead(SeekDateByCount(DayCount, dateBegin, dateEnd), dateEnd);
  int passes = 0;
  for (;;) {
    while (Day <= window.dateEnd) {
      if (HistTable.Active()) HistTable.Close();
      HistTable.TableName = GetFileName(Day);
      HistTable.ReadOnly = true;
      Log("UW Mode 3 Table Name:" + HistTable.TableName);
      scan.ReadDay(HistTable, Day, window);
      Day += 1;
    }
    // Each later pass covers the single day before the previous pass's last
    // day, with both time bounds applied to it.
    ++passes;
    window.dateEnd -= 1;
    window.dateBegin = window.dateEnd;
    Day = window.dateEnd;
    if (scan.WroteAny() || passes >= kMaxPasses || !todayFlag) break;
  }
  scan.Finish();
}

}  // namespace hist
