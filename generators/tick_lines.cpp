// The tick lines of modes 0 and 3: one reused line buffer, the window test
// in whole milliseconds, the closing lines.
#include "generators/tick_lines.h"

#include <cmath>

#include "log/zetUtilities.h"
#include "platform/rtl/numbers.h"
#include "service/reply_lines.h"

namespace hist {

std::string IntradayEntryLine(std::string_view name, std::string_view symbol,
                              const TickWindow& window, int DayCount) {
  std::string line = zetlog::LogTimePrefix();
  line += "Enter ";
  line += name;
  line += '(';
  line += WindowText(symbol, window.timeBegin, window.timeEnd, window.dateBegin, window.dateEnd,
                     DayCount);
  line += ").";
  return line;
}

TickScan::TickScan(TWebResponse& response, std::string_view symbol, bool priceChangeOnly)
    : response_(response), symbol_(symbol), price_change_only_(priceChangeOnly) {
  line_.reserve(256);
}

DayWalk TickScan::Walk(rtl::TDateTime first, const TickWindow& window) const {
  return DayWalk{symbol_, first, window.dateEnd, window.dateBegin, window.timeBegin};
}

void TickScan::SendLine() { response_.SendLine(line_); }

void TickScan::Finish() {
  if (WroteAny()) {
    SendRecordCount(response_, counter_);
  } else {
    SendNoData(response_);
  }
}

}  // namespace hist
