// Modes 0 and 3: the ticks of one symbol in a date and time window, day by
// day from the day tables; mode 3 keeps only the ticks whose price changed
// and may start earlier, at the day that completes a count of days with data.
#include <string>

#include "data/day_ticks.h"
#include "generators/tick_lines.h"
#include "log/zetUtilities.h"
#include "service/hist.h"

namespace hist {

void THistData::GenIntraday(const std::string& Symbol, TWebResponse& Response, TDateTime timeBegin,
                            TDateTime timeEnd, TDateTime dateBegin, TDateTime dateEnd, int DayCount,
                            bool priceChangeOnly) {
  DoGenIntraday(Symbol, Response, timeBegin, timeEnd, dateBegin, dateEnd, DayCount, priceChangeOnly);
}

void THistData::DoGenIntraday(const std::string& Symbol, TWebResponse& Response,
                              TDateTime timeBegin, TDateTime timeEnd, TDateTime dateBegin,
                              TDateTime dateEnd, int DayCount, bool priceChangeOnly) {
  const TickWindow window{timeBegin, timeEnd, dateBegin, dateEnd};
  zetlog::Log(IntradayEntryLine("DoGenIntraday", Symbol, window, DayCount));

  TickScan scan(Response, Symbol, priceChangeOnly);
  GenStockName(Symbol);

  // The last price carries across days: the first tick of a day is compared
  // with the last one written the day before.
  WalkDayTicks(HistTable, scan.Walk(SeekDateByCount(DayCount, dateBegin, dateEnd), window),
               [&](auto& ticks, TDateTime day) { scan.ReadDay(ticks, day, window); });
  scan.Finish();
}

}  // namespace hist
