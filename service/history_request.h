// The values of one history request as the generators take them: read from
// the request's fields, checked, and completed with the defaults.
#ifndef HISTDATA_SERVICE_HISTORY_REQUEST_H_
#define HISTDATA_SERVICE_HISTORY_REQUEST_H_

#include <string>
#include <string_view>

#include "platform/rtl/datetime.h"
#include "service/request_fields.h"

namespace hist {

struct HistoryRequest {
  std::string symbol;
  std::string mode = "0";
  rtl::TDateTime timeStart = 0, timeOver = 0, dateStart = 0, dateOver = 0;
  int interval = 300, iunit = 0, dayCount = 0, backCount = 0;
  bool todayFlag = false;  // the dates were left out: today is asked for
};

// The symbol and the mode ("0" unless the request names one).
HistoryRequest ReadSymbolAndMode(const TRequestFields& fields);

// Fills the window (times and dates) and the whole numbers of `request`,
// defaults included; `calcMode` decides the window of UW bars. Returns the
// one error line a request that cannot be served gets (a time or date that
// does not convert, a pair with one member), empty when it can be served.
std::string ReadWindowAndNumbers(const TRequestFields& fields, std::string_view calcMode,
                                 HistoryRequest& request);

}  // namespace hist

#endif  // HISTDATA_SERVICE_HISTORY_REQUEST_H_
