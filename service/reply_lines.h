// The reply lines that more than one generator writes: the closing record
// count, the error lines, the name lines and the head and prices of a bar
// line. Each layout lives here once, so that every mode words it alike.
#ifndef HISTDATA_SERVICE_REPLY_LINES_H_
#define HISTDATA_SERVICE_REPLY_LINES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"
#include "service/web.h"

namespace hist {

// "NOTE|RECORDCOUNT|<count>|" and CR LF: the last line of a reply with data.
void SendRecordCount(TWebResponse& response, int64_t count);

// "ERROR|Record not found.|" and CR LF.
void SendRecordNotFound(TWebResponse& response);

// "ERROR|Record not found.|" without CR LF: clients of the daily and delayed
// replies read it as the last bytes of the body.
void SendRecordNotFoundAtEnd(TWebResponse& response);

// "ERROR|No data for specified date|" and CR LF.
void SendNoDataForDate(TWebResponse& response);

// SendNoDataForDate then SendRecordNotFound: a reply that found nothing.
void SendNoData(TWebResponse& response);

// "ERROR|Invalid interval.|" and CR LF: the reply to bars of no length.
void SendInvalidInterval(TWebResponse& response);

// "NOTE|ENAME|<english>|" and "NOTE|CNAME|<chinese>|", each with CR LF.
void SendNameLines(TWebResponse& response, engine::TField& english, engine::TField& chinese);

// Replaces `line` with "<kind>|<number>|yyyy/mm/dd|hh:nn:ss|" of `start`:
// the head of a TICK or INTERVAL bar line.
void BeginBarLine(std::string& line, std::string_view kind, int64_t number, rtl::TDateTime start);

// Appends "open|high|low|close|" with `decimals` decimals each.
void AppendPrices(std::string& line, double open, double high, double low, double close,
                  int decimals);

// "Symbol[<symbol>],timeBegin[hh:nn:ss],timeEnd[hh:nn:ss],dateBegin[yyyy/mm/dd],
// dateEnd[yyyy/mm/dd],DayCount[<n>]": a request's window as the entry and
// exception lines of the log name it.
std::string WindowText(std::string_view symbol, rtl::TDateTime timeBegin, rtl::TDateTime timeEnd,
                       rtl::TDateTime dateBegin, rtl::TDateTime dateEnd, int dayCount);

}  // namespace hist

#endif  // HISTDATA_SERVICE_REPLY_LINES_H_
