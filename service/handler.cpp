// The history handler: settings, reply head, parameters, defaults and the
// dispatch to one generator per mode.
//
// mode  setting             generator (THistData::)        source (generators/)
// 0                         GenIntraday                    intraday_ticks.cpp
// 1                         GenInterday2                   daily_prices.cpp
// 2                         GenDelay                       delayed_tick.cpp
// 3     CalcMode not UW     GenIntraday, price changes     intraday_ticks.cpp
// 3     CalcMode=UW         GenUWIntraday                  valid_symbol_ticks.cpp
// 4                         GenInterval                    bars_from_ticks.cpp
// 5                         GenFastInterval                bars_from_minutes.cpp
//       (bars under a minute go on to GenInterval)
// 6     DBMode=PARADOX      GenInterval3                   grid_from_ticks.cpp
// 6     any other DBMode    GenInterval4                   grid_from_tables.cpp
//
// Shared by them: the day walk (data/day_scan.h), the day lookups
// SeekDateByCount, PreCheckExistDaysData and GenStockName (data/days.cpp),
// the tick lines of modes 0 and 3 (generators/tick_lines.h), the closing and
// error lines (service/reply_lines.h).
#include <exception>
#include <memory>
#include <string>

#include "log/zetUtilities.h"
#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/globals.h"
#include "service/hist.h"
#include "service/reply_lines.h"
#include "service/request_fields.h"
#include "service/web.h"
#include "settings/zetini.h"

namespace hist {

namespace {

constexpr int kInterdayTries = 3;


// Every settings read goes through a fresh reader so that a changed file
// takes effect with the next request.
std::string ReadKorva(const char* key, const char* default_value) {
  std::unique_ptr<zetini::TIniFile> ini = zetini::zetIniFile();
  return ini->ReadString("KORVA", key, default_value);
}

// How far the first bar of the UW calculation starts before the requested
// time, so that it covers the whole slot ending there.
double UWBarStartShift(int interval) {
  if (interval == 60) return 59 * rtl::kOneSecond;
  if (interval == 180) return 179 * rtl::kOneSecond;
  return 299 * rtl::kOneSecond;
}

}  // namespace

void THistData::HistDatagetHistoryAction(TWebRequest& Request, TWebResponse& Response,
                                         bool& Handled) {
  Handled = true;
  this->Response = &Response;
  try {
    std::string mode = "0";
    std::string closeTrace;
    bool todayFlag = false;

    SetNominalUpdateTime(rtl::StrToTime(ReadKorva("NominalUpdateTimestamp", "16:00:00")));
    std::string tickOnly = ReadKorva("ExecutionTickOnly", "N");
    if (!tickOnly.empty() && (tickOnly[0] == 'Y' || tickOnly[0] == 'y')) RaiseExecutionTickOnly();
    const std::string calcMode = ReadKorva("CalcMode", "DC");
    SetCalcMode(calcMode);
    const std::string dbMode = ReadKorva("DBMode", "PARADOX");
    SetDBMode(dbMode);
    ReadKorva("CutTimeRange", "");  // nothing depends on it

    // The head goes out before any parameter is looked at: from here on
    // every answer, error lines included, is a 200 text/plain reply.
    Response.ContentType = "text/plain";
    Response.SendResponse();

    std::string source;
    if (Request.Method() == "GET") {
      source = Request.Query();
    } else if (Request.ContentLength() > 0) {
      source = Request.Content();
    }
    const TRequestFields fields(source);

    const std::string symbol = fields.Value("symbol");
    if (std::string m = fields.Value("mode"); !m.empty()) mode = m;
    Response.Tally.mode = ModeSlotOf(mode);

    const std::string timeStartText = fields.Value("timeStart");
    const std::string timeOverText = fields.Value("timeOver");
    const std::string dateStartText = fields.Value("dateStart");
    const std::string dateOverText = fields.Value("dateOver");
    const std::string pattern(rtl::kShortDatePattern);

    TDateTime timeStart = 0, timeOver = 0, dateStart = 0, dateOver = 0;
    if ((!timeStartText.empty() && !rtl::TryStrToTime(timeStartText, timeStart)) ||
        (!timeOverText.empty() && !rtl::TryStrToTime(timeOverText, timeOver))) {
      SendErrorMsg("ERROR|Invalid time format(" + pattern + ").|", Response);
      return;
    }
    if ((!dateStartText.empty() && !rtl::TryStrToDate(dateStartText, dateStart)) ||
        (!dateOverText.empty() && !rtl::TryStrToDate(dateOverText, dateOver))) {
      SendErrorMsg("ERROR|Invalid date format(" + pattern + ").|", Response);
      return;
    }

    const int interval = rtl::StrToIntDef(fields.Value("interval"), 300);
    const int iunit = rtl::StrToIntDef(fields.Value("iunit"), 0);
    const int dayCount = rtl::StrToIntDef(fields.Value("DayCount"), 0);
    const int backCount = rtl::StrToIntDef(fields.Value("BackCount"), 0);

    const bool uwBars = calcMode == "UW" && mode == "6";
    if (timeStartText.empty() && timeOverText.empty()) {
      if (uwBars) {
        timeStart = rtl::EncodeTime(9, 50, 0, 0);
        timeOver = rtl::EncodeTime(16, 4, 59, 0);
      } else {
        timeStart = rtl::EncodeTime(0, 0, 0, 0);
        timeOver = rtl::EncodeTime(23, 59, 59, 0);
      }
    }
    if (dateStartText.empty() && dateOverText.empty()) {
      dateStart = rtl::Date();
      dateOver = dateStart;
      todayFlag = true;
    }
    if (uwBars) timeStart -= UWBarStartShift(interval);

    if (dateStartText.empty() != dateOverText.empty() ||
        timeStartText.empty() != timeOverText.empty()) {
      SendErrorMsg("ERROR|Invalid number of parameters.|", Response);
      return;
    }

    if (mode == "0") {
      GenIntraday(symbol, Response, timeStart, timeOver, dateStart, dateOver, 0, false);
    } else if (mode == "1") {
      // Database errors are retried a fixed number of times, each after
      // closing the history database so that the next try reconnects.
      for (int tryNo = 1; tryNo <= kInterdayTries; ++tryNo) {
        try {
          GenInterday2(symbol, Response, dateStart, dateOver);
          break;
        } catch (const engine::EDatabaseError& e) {
          if (HistSQLDB.Connected()) closeTrace += "1";
          HistSQLDB.Close();
          if (!HistSQLDB.Connected()) closeTrace += "2";
          zetlog::Log("Exception: " + std::string(e.what()) + ". Retry " + std::to_string(tryNo) +
              ". Close: " + closeTrace + ".");
          if (tryNo == kInterdayTries) Response.Tally.failed = true;
        }
      }
    } else if (mode == "2") {
      GenDelay(symbol, Response);
    } else if (mode == "3") {
      try {
        if (calcMode == "UW") {
          GenUWIntraday(symbol, Response, timeStart, timeOver, dateStart, dateOver, todayFlag,
                        dayCount, false);
        } else {
          GenIntraday(symbol, Response, timeStart, timeOver, dateStart, dateOver, dayCount, true);
        }
      } catch (const std::exception& e) {
        Response.Tally.failed = true;
        zetlog::Log(zetlog::LogTimePrefix() + "Exception: " + e.what() + " when DoGenIntraday(" +
            WindowText(symbol, timeStart, timeOver, dateStart, dateOver, dayCount) + ").");
      }
    } else if (mode == "4") {
      GenInterval(symbol, dayCount, timeStart, timeOver, dateStart, dateOver, interval);
    } else if (mode == "5") {
      GenFastInterval(symbol, interval, timeStart, timeOver, dateStart, dateOver, iunit,
                      backCount);
    } else if (mode == "6") {
      const bool fromTicks = dbMode == "PARADOX";
      try {
        if (fromTicks) {
          GenInterval3(symbol, timeStart, timeOver, dateStart, dateOver, dayCount, interval);
        } else {
          zetlog::Log("SQLDB Connected");
          GenInterval4(symbol, dayCount, timeStart, timeOver, dateStart, dateOver, interval,
                       todayFlag);
          zetlog::Log("Interval Done");
        }
      } catch (const std::exception& e) {
        Response.Tally.failed = true;
        zetlog::Log(zetlog::LogTimePrefix() + "Exception: " + e.what() + " when " +
            (fromTicks ? "GenInterval3(" : "GenInterval4(") +
            WindowText(symbol, timeStart, timeOver, dateStart, dateOver, dayCount) +
            ",interval[" + std::to_string(interval) + "]).");
      }
    }

    ARDANDB.Close();
    HistDB.Close();
    HistSQLDB.Close();
  } catch (const std::exception& e) {
    Response.Tally.failed = true;
    zetlog::Log(zetlog::LogTimePrefix() + "Exception: " + e.what() + " when HistDatagetHistoryAction");
  } catch (...) {
    Response.Tally.failed = true;
    zetlog::Log(zetlog::LogTimePrefix() + "Exception: unknown error when HistDatagetHistoryAction");
  }
}

}  // namespace hist
