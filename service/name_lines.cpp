// The name lines of a symbol, as the replies that carry names begin.
#include "service/hist.h"
#include "service/reply_lines.h"

namespace hist {

bool THistData::GenStockName(const std::string& Symbol) {
  if (!FindStockName(Symbol)) return false;
  // Only the first row is used. Without a response (a module driven outside
  // a request) there is nowhere to write, so nothing is.
  if (Response != nullptr) {
    SendNameLines(*Response, StockNameQuery.FieldByName("name_e"),
                  StockNameQuery.FieldByName("name_c"));
  }
  return true;
}

}  // namespace hist
