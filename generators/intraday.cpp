// Modes 0 and 3: the ticks of one symbol in a date and time window, day by
// day from the day tables; mode 3 keeps only the ticks whose price changed
// and may start earlier, at the day that completes a count of days with data.
#include <string>

#include "data/lookups.h"
#include "generators/tick_scan.h"
#include "log/zetUtilities.h"
#include "service/hist.h"

namespace hist {

void THistData::GenIntraday(const std::string& Symbol, TWebResponse& Response, TDateTime timeBegin,
                            TDateTime timeEnd, TDateTime dateBegin, TDateTime dateEnd, int DayCount,
                            bool priceChangeOnly) {
  DoGenIntraday(Symbol, Response, timeBegin, timeEnd, dateBegin, dateEnd, DayCount, priceChangeOnly,
                0, true);
}

void THistData::DoGenIntraday(const std::string& Symbol, TWebResponse& Response,
                              TDateTime timeBegin, TDateTime timeEnd, TDateTime dateBegin,
                              TDateTime dateEnd, int DayCount, bool priceChangeOnly,
                              int firstNumber, bool nameLines) {
  const TickWindow window{timeBegin, timeEnd, dateBegin, dateEnd};
  zetlog::DumpToFile(zetlog::kLogFileName,
                     IntradayEntryLine("DoGenIntraday", Symbol, window, DayCount), 1);

  TickScan scan(Response, Symbol, priceChangeOnly, firstNumber);
  if (nameLines) GenStockName(Symbol);

  // The last price carries across days: the first tick of a day is compared
  // with the last one written the day before.
  const TDateTime first = FirstDayToRead(SeekDateByCount(DayCount, dateBegin, dateEnd), dateEnd);
  for (TDateTime Day = first; Day <= dateEnd; Day += 1) {
    if (HistTable.Active()) HistTable.Close();
    HistTable.TableName = GetFileName(Day);
    HistTable.ReadOnly = true;
    scan.ReadDay(HistTable, Day, window);
  }
  scan.Finish();
}

}  // namespace hist
