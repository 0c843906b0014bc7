// THistData: the request module. One instance serves one request at a time;
// it has the database objects of data/module_data.h, carries the history
// handler and, as operations, one generator per request mode.
//
// The generators are virtual so that tests can stand in for them; each is
// implemented in its own source under generators/, named beside it here
// (service/mode_table.cpp maps modes and settings to them).
#ifndef HISTDATA_SERVICE_HIST_H_
#define HISTDATA_SERVICE_HIST_H_

#include <memory>
#include <string>

#include "data/module_data.h"
#include "platform/rtl/datetime.h"
#include "service/web.h"

namespace hist {

using rtl::TDateTime;

class THistData : public TModuleData {
 public:
  // The single action's handler. Handled is left true.
  void HistDatagetHistoryAction(TWebRequest& Request, TWebResponse& Response, bool& Handled);

  // --- Generators (generators/) -------------------------------------------
  // intraday_ticks.cpp: modes 0 and 3
  virtual void GenIntraday(const std::string& Symbol, TWebResponse& Response, TDateTime timeBegin,
                           TDateTime timeEnd, TDateTime dateBegin, TDateTime dateEnd, int DayCount,
                           bool priceChangeOnly);
  void DoGenIntraday(const std::string& Symbol, TWebResponse& Response, TDateTime timeBegin,
                     TDateTime timeEnd, TDateTime dateBegin, TDateTime dateEnd, int DayCount,
                     bool priceChangeOnly);
  // valid_symbol_ticks.cpp: mode 3 with CalcMode=UW
  virtual void GenUWIntraday(const std::string& Symbol, TWebResponse& Response, TDateTime timeBegin,
                             TDateTime timeEnd, TDateTime dateBegin, TDateTime dateEnd, bool todayFlag,
                             int DayCount, bool priceChangeOnly);
  void DoGenUWIntraday(const std::string& Symbol, TWebResponse& Response, TDateTime timeBegin,
                       TDateTime timeEnd, TDateTime dateBegin, TDateTime dateEnd, bool todayFlag,
                       int DayCount, bool priceChangeOnly);
  // daily_prices.cpp: mode 1
  virtual void GenInterday2(const std::string& Symbol, TWebResponse& Response, TDateTime dateBegin,
                            TDateTime dateEnd);
  // delayed_tick.cpp: mode 2
  virtual void GenDelay(const std::string& Symbol, TWebResponse& Response);
  // bars_from_ticks.cpp: mode 4
  virtual void GenInterval(const std::string& Symbol, int DayCount, TDateTime TimeStart,
                           TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver, int Interval);
  // bars_from_minutes.cpp: mode 5
  virtual void GenFastInterval(const std::string& Symbol, int Interval, TDateTime TimeStart,
                               TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver, int IUnit,
                               int BackCount);
  // grid_from_ticks.cpp: mode 6 with DBMode=PARADOX
  virtual void GenInterval3(const std::string& Symbol, TDateTime timeBegin, TDateTime timeEnd,
                            TDateTime dateBegin, TDateTime dateEnd, int DayCount, int interval);
  // grid_from_tables.cpp: mode 6 with any other DBMode
  virtual void GenInterval4(const std::string& Symbol, int DayCount, TDateTime TimeStart,
                            TDateTime TimeOver, TDateTime DateStart, TDateTime DateOver, int Interval,
                            bool TodayOnly);

  // Writes "NOTE|ENAME|..." and "NOTE|CNAME|..." into the current response
  // when DailySymbol knows the symbol (name_lines.cpp).
  bool GenStockName(const std::string& Symbol);

  // The response of the request being served; generators that are handed no
  // response write here.
  TWebResponse* Response = nullptr;
};

}  // namespace hist

#endif  // HISTDATA_SERVICE_HIST_H_
