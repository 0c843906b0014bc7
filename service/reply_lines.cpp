#include "service/reply_lines.h"

#include "platform/rtl/numbers.h"

namespace hist {

namespace {

constexpr std::string_view kRecordNotFound = "ERROR|Record not found.|";

}  // namespace

void SendRecordCount(TWebResponse& response, int64_t count) {
  std::string line = "NOTE|RECORDCOUNT|";
  rtl::AppendInt(line, count);
  line += "|\r\n";
  response.SendLine(line);
}

void SendRecordNotFound(TWebResponse& response) { SendErrorMsg(kRecordNotFound, response); }

void SendRecordNotFoundAtEnd(TWebResponse& response) { response.SendLine(kRecordNotFound); }

void SendNoDataForDate(TWebResponse& response) {
  SendErrorMsg("ERROR|No data for specified date|", response);
}

void SendNoData(TWebResponse& response) {
  SendNoDataForDate(response);
  SendRecordNotFound(response);
}

void SendInvalidInterval(TWebResponse& response) {
  SendErrorMsg("ERROR|Invalid interval.|", response);
}

void SendNameLines(TWebResponse& response, engine::TField& english, engine::TField& chinese) {
  std::string line = "NOTE|ENAME|";
  english.AppendText(line);
  line += "|\r\n";
  response.SendLine(line);
  line = "NOTE|CNAME|";
  chinese.AppendText(line);
  line += "|\r\n";
  response.SendLine(line);
}

void BeginBarLine(std::string& line, std::string_view kind, int64_t number, rtl::TDateTime start) {
  line.assign(kind);
  line += '|';
  rtl::AppendInt(line, number);
  line += '|';
  rtl::AppendDateTime(line, "yyyy/mm/dd", start);
  line += '|';
  rtl::AppendDateTime(line, "hh:nn:ss", start);
  line += '|';
}

void AppendPrices(std::string& line, double open, double high, double low, double close,
                  int decimals) {
  for (double price : {open, high, low, close}) {
    rtl::AppendFixed(line, price, decimals);
    line += '|';
  }
}

std::string WindowText(std::string_view symbol, rtl::TDateTime timeBegin, rtl::TDateTime timeEnd,
                       rtl::TDateTime dateBegin, rtl::TDateTime dateEnd, int dayCount) {
  std::string text = "Symbol[";
  text += symbol;
  text += "],timeBegin[";
  rtl::AppendDateTime(text, "hh:nn:ss", timeBegin);
  text += "],timeEnd[";
  rtl::AppendDateTime(text, "hh:nn:ss", timeEnd);
  text += "],dateBegin[";
  rtl::AppendDateTime(text, "yyyy/mm/dd", dateBegin);
  text += "],dateEnd[";
  rtl::AppendDateTime(text, "yyyy/mm/dd", dateEnd);
  text += "],DayCount[";
  rtl::AppendInt(text, dayCount);
  text += ']';
  return text;
}

}  // namespace hist
