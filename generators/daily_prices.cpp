// Mode 1: daily prices of one symbol from the history store's procedure.
//
// The whole range comes from one procedure call; each row becomes a line the
// moment it is read. Errors are left to the handler, whose retry loop calls
// this again after closing the history store, so nothing here may assume it
// runs once per request.
#include <string>

#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {

void THistData::GenInterday2(const std::string& Symbol, TWebResponse& Response, TDateTime dateBegin,
                             TDateTime dateEnd) {
  int RecNo = 0;
  GenStockName(Symbol);

  spQueryDaily.Close();
  spQueryDaily.ParamByName("@From_Symbol").SetAsString(Symbol);
  spQueryDaily.ParamByName("@To_Symbol").SetAsString(Symbol);
  // The store converts the dates from text; "mm/dd/yyyy" is what it expects.
  spQueryDaily.ParamByName("@From_Date").SetAsString(rtl::FormatDateTime("mm/dd/yyyy", dateBegin));
  spQueryDaily.ParamByName("@To_Date").SetAsString(rtl::FormatDateTime("mm/dd/yyyy", dateEnd));
  spQueryDaily.Open();

  if (spQueryDaily.Eof()) {
    SendRecordNotFoundAtEnd(Response);
    return;
  }

  engine::TField* fields[] = {
      &spQueryDaily.FieldByName("c_date"),  &spQueryDaily.FieldByName("high"),
      &spQueryDaily.FieldByName("low"),     &spQueryDaily.FieldByName("closing"),
      &spQueryDaily.FieldByName("shares_traded"), &spQueryDaily.FieldByName("turnover")};
  std::string line;
  while (!spQueryDaily.Eof()) {
    line.assign("TICK|");
    rtl::AppendInt(line, RecNo);
    line += '|';
    for (engine::TField* f : fields) {
      f->AppendText(line);
      line += '|';
    }
    line += "\r\n";
    Response.SendLine(line);
    spQueryDaily.Next();
    ++RecNo;
  }
  SendRecordCount(Response, RecNo);
}

}  // namespace hist
