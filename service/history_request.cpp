// Reading a history request. The order of the checks is what clients see:
// a bad time wins over a bad date, and both over a pair with one member, so
// that a lone member that does not convert gets the format message.
#include "service/history_request.h"

#include "platform/rtl/numbers.h"

namespace hist {

namespace {

// UW bars cover the trading day by default, and each starts a whole slot
// before its time so that the first bar holds the slot ending there.
bool IsUWBars(std::string_view calcMode, std::string_view mode) {
  return calcMode == "UW" && mode == "6";
}

double UWBarStartShift(int interval) {
  if (interval == 60) return 59 * rtl::kOneSecond;
  if (interval == 180) return 179 * rtl::kOneSecond;
  return 299 * rtl::kOneSecond;
}

// A field without a value converts to nothing and leaves `out` as it is.
bool TimeConverts(const std::string& text, rtl::TDateTime& out) {
  return text.empty() || rtl::TryStrToTime(text, out);
}
bool DateConverts(const std::string& text, rtl::TDateTime& out) {
  return text.empty() || rtl::TryStrToDate(text, out);
}

std::string FormatError(std::string_view what) {
  return "ERROR|Invalid " + std::string(what) + " format(" + std::string(rtl::kShortDatePattern) +
         ").|";
}

}  // namespace

HistoryRequest ReadSymbolAndMode(const TRequestFields& fields) {
  HistoryRequest request;
  request.symbol = fields.Value("symbol");
  if (std::string mode = fields.Value("mode"); !mode.empty()) request.mode = std::move(mode);
  return request;
}

std::string ReadWindowAndNumbers(const TRequestFields& fields, std::string_view calcMode,
                                 HistoryRequest& r) {
  const std::string timeStartText = fields.Value("timeStart");
  const std::string timeOverText = fields.Value("timeOver");
  const std::string dateStartText = fields.Value("dateStart");
  const std::string dateOverText = fields.Value("dateOver");

  if (!TimeConverts(timeStartText, r.timeStart) || !TimeConverts(timeOverText, r.timeOver)) {
    return FormatError("time");
  }
  if (!DateConverts(dateStartText, r.dateStart) || !DateConverts(dateOverText, r.dateOver)) {
    return FormatError("date");
  }

  r.interval = rtl::StrToIntDef(fields.Value("interval"), 300);
  r.iunit = rtl::StrToIntDef(fields.Value("iunit"), 0);
  r.dayCount = rtl::StrToIntDef(fields.Value("DayCount"), 0);
  r.backCount = rtl::StrToIntDef(fields.Value("BackCount"), 0);

  const bool uwBars = IsUWBars(calcMode, r.mode);
  if (timeStartText.empty() && timeOverText.empty()) {
    r.timeStart = uwBars ? rtl::EncodeTime(9, 50, 0, 0) : rtl::EncodeTime(0, 0, 0, 0);
    r.timeOver = uwBars ? rtl::EncodeTime(16, 4, 59, 0) : rtl::EncodeTime(23, 59, 59, 0);
  }
  if (dateStartText.empty() && dateOverText.empty()) {
    r.dateStart = rtl::Date();
    r.dateOver = r.dateStart;
    r.todayFlag = true;
  }
  // Times from the request move too, below midnight if need be.
  if (uwBars) r.timeStart -= UWBarStartShift(r.interval);

  // Presence, not the converted values, makes a pair.
  if (dateStartText.empty() != dateOverText.empty() ||
      timeStartText.empty() != timeOverText.empty()) {
    return "ERROR|Invalid number of parameters.|";
  }
  return "";
}

}  // namespace hist
