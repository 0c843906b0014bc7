// The one way ticks get into the day tables of a tick store. Every loader
// (the CSV import, the sample market, the live feed) writes through here, so
// that the table of a new day, the numbering of a day's rows and the columns
// written are the same whoever wrote them.
#ifndef HISTDATA_PLATFORM_ENGINE_TICK_WRITER_H_
#define HISTDATA_PLATFORM_ENGINE_TICK_WRITER_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/engine/driver.h"

namespace engine {

// A tick as a loader has it: the day of its date, its time of day as a
// date-time value, and the six numbers, any of which may be missing.
struct TickRecord {
  enum Number { kBid, kOffer, kPrice, kBidSize, kVolume, kOfferSize, kNumbers };
  int32_t day = 0;
  double time = 0;
  std::string symbol;
  double numbers[kNumbers] = {};
  uint8_t null_mask = 0;  // bit k set: numbers[k] is missing

  bool IsNull(int k) const { return (null_mask & (1u << k)) != 0; }
};

// Appends ticks to their day tables inside the caller's transaction: a day's
// table is made at its first tick, and each row's ID continues the day's
// numbering in the order of the Append calls. Lives for one transaction: the
// IDs it hands out are only known to be free while that transaction is open.
class TickWriter {
 public:
  explicit TickWriter(Connection& connection) : connection_(connection) {}
  TickWriter(const TickWriter&) = delete;
  TickWriter& operator=(const TickWriter&) = delete;

  // Raises EDatabaseError as the store does.
  void Append(const TickRecord& tick);
  // The same as Append of each tick in turn (the IDs follow their order),
  // but written in the SymbolTime order of their rows: consecutive inserts
  // then fall on the same pages of the day's key, which a store writes
  // faster than rows spread over every symbol.
  void AppendBatch(const std::vector<TickRecord>& ticks);

  // For a writer that commits often (the live feed): the same TickWriter
  // goes on in a later transaction of its connection, keeping the prepared
  // inserts of the days it wrote in the last one (and with them, in a
  // folder store, each day's open file and its page cache). Call inside
  // the new transaction, before its first Append: each day's numbering is
  // read again, since another loader may have written the day in between.
  // A day made by the last transaction is opened again under the name it
  // took at the commit; days not written in the last transaction are let
  // go. After a failed transaction, use a new TickWriter instead.
  void NextTransaction();

  // The day tables written, in the order first written.
  const std::vector<std::string>& Tables() const { return tables_; }
  int64_t Rows() const { return rows_; }

 private:
  struct Day {
    std::unique_ptr<Connection::Inserter> inserter;
    int64_t last_id = 0;
    bool created = false;  // made by this transaction
  };
  Day& DayOf(int32_t day);
  void Insert(Day& day, int64_t id, const TickRecord& tick);

  Connection& connection_;
  std::map<int32_t, Day> days_;
  std::vector<std::string> tables_;
  std::vector<Value> row_;
  int64_t rows_ = 0;
};

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_TICK_WRITER_H_
