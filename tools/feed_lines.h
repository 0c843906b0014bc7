// The lines of a tick feed: one tick per line, with the columns of a tick
// file (Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize). A
// header line naming them, in any order, may come first, and again where a
// new file of the source starts; without one the columns are in that order.
#ifndef HISTDATA_TOOLS_FEED_LINES_H_
#define HISTDATA_TOOLS_FEED_LINES_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/tick_writer.h"

namespace admin {

class TickLineParser {
 public:
  enum class Kind {
    kTick,    // `tick` holds it
    kHeader,  // the columns are now in the header's order
    kBlank,   // nothing on the line
    kBad,     // `reason` says why; nothing changed
  };

  TickLineParser();
  // One line, without its line end (a trailing CR is ignored).
  Kind Parse(std::string_view line, engine::TickRecord& tick, std::string& reason);

 private:
  bool Split(std::string_view line, std::string& reason);
  bool ReadHeader(std::string& reason);
  bool Convert(engine::TickRecord& tick, std::string& reason);

  std::vector<int> slot_of_field_;  // field -> column of the tick file
  std::vector<std::string> fields_;
  // Days met so far by their table: two dates a century apart share one.
  std::map<int32_t, int32_t> day_of_table_;
  int32_t last_day_ = -1000000;  // the day of the last tick, known to be fine
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_FEED_LINES_H_
