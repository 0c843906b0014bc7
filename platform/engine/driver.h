// The narrow interface every store driver implements. The engine objects of
// engine.h are the only users on the server side; the loader (tools/) also
// uses the writing half.
#ifndef HISTDATA_PLATFORM_ENGINE_DRIVER_H_
#define HISTDATA_PLATFORM_ENGINE_DRIVER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/engine/value.h"

namespace engine {

struct Column {
  std::string name;
  FieldType type = FieldType::kUnknown;
};

// Forward-only rows of one result. Date and time columns arrive as kFloat
// date-time values; nulls as kNull.
class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual const std::vector<Column>& columns() const = 0;
  // Fills `row` (resized to the column count; its strings are reused) with
  // the next row. False past the last row.
  virtual bool Next(std::vector<Value>& row) = 0;
};

// A statement split at its placeholders: pieces.size() == parameter count + 1.
// Each driver writes its own placeholder between the pieces.
struct Statement {
  std::vector<std::string> pieces;
};

// A bound parameter: its declared type tells a driver how to send a value
// (a kFloat value of a kDate/kTime/kDateTime parameter is a date-time).
// Names are without "@" or ":".
struct BoundParam {
  std::string name;
  FieldType type = FieldType::kUnknown;
  Value value;
};

// Columns of every tick table, in this order.
inline constexpr const char* kTickColumns[] = {"ID",    "Date",  "Time",    "Symbol", "Bid",
                                                "Offer", "Price", "BidSize", "Volume", "OfferSize"};

// One day table of a search that reads several at once: SeekLastTick on
// `table` with `bounded` and `before`.
struct LastTickProbe {
  std::string table;
  bool bounded = false;
  double before = 0;
};

// The tables such a search reads, in order, made from a listing of the
// store's day tables (ListDayTables' names). `covered` holds inclusive
// ranges of table names (byte order) over which the plan took the listing
// for the truth: the plan stands only while the day tables named within
// them are exactly the listing's.
struct LastTickPlan {
  std::vector<LastTickProbe> probes;
  std::vector<std::pair<std::string, std::string>> covered;
};
using LastTickPlanner = std::function<LastTickPlan(const std::vector<std::string>& day_tables)>;

// One physical connection to a store. Every failure raises EDBEngineError
// (engine/errors.h) with the store's message.
class Connection {
 public:
  virtual ~Connection() = default;

  // False once the connection is known to be broken; the pool then drops it.
  virtual bool Healthy() = 0;

  // --- Tick tables -------------------------------------------------------
  // Presence of a day table; opens nothing.
  virtual bool TableExists(const std::string& table) = 0;
  // The rows of `table` in SymbolTime order (Symbol with ASCII letters folded
  // to one case, then Time, then ID), from the first row whose key is at or
  // after (symbol) or (symbol, time). Never fails for a key past the end: the
  // cursor is then empty. Columns as kTickColumns.
  virtual std::unique_ptr<Cursor> SeekTicks(const std::string& table, std::string_view symbol,
                                            bool with_time, double time) = 0;
  // The row that a forward scan from the symbol's first row keeps last when
  // it keeps rows while they are spelt exactly `symbol` and their Time is at
  // or before a bound: the last row of the symbol's SymbolTime group (Symbol
  // equal to `symbol` with ASCII letters folded) whose Time is before
  // `before` (any Time when `bounded` is false), found from the group's far
  // end without reading the rows before it. The cursor holds that row or
  // none. Null when the group may hold another spelling of the symbol
  // ("ABC" beside "abc"), whose first row would end the forward scan
  // earlier, or when the store cannot tell: the caller then scans forward.
  virtual std::unique_ptr<Cursor> SeekLastTick(const std::string& table, std::string_view symbol,
                                               bool bounded, double before) = 0;
  // SeekLastTick on every probe that `planner` plans, as one request to
  // the store, for stores that can (false otherwise, and nothing is found:
  // also when the store's tables keep changing under the search).
  // The listing given to the planner may be one remembered from an earlier
  // search, but the answer is only taken when the store's day tables within
  // the plan's covered ranges are still the listing's, seen in that same
  // request; otherwise the store is listed afresh and the planner asked
  // again. `cursors` gets, for each probe of the plan used, what
  // SeekLastTick gives: a cursor holding the row or none, or null.
  virtual bool SeekLastTicks(std::string_view /*symbol*/, const LastTickPlanner& /*planner*/,
                             std::vector<std::unique_ptr<Cursor>>& /*cursors*/) {
    return false;
  }
  // Rows of the table, counting no further than `limit`.
  virtual int64_t CountRows(const std::string& table, int64_t limit) = 0;
  // The highest ID of a day table, 0 for an empty one; one index lookup.
  virtual int64_t LastTickId(const std::string& table) = 0;
  // Names of every day table of the store ("hist" and six digits), in no
  // particular order: one look at the store, however many tables it holds.
  virtual std::vector<std::string> ListDayTables() = 0;

  // --- Packs (engine/tick_pack.h) -------------------------------------------
  // The pack of the SymbolTime key of `symbol` in `table`, into `bytes`;
  // false when that key has none (or the table keeps no packs). Its bytes
  // are as stored: the caller checks them.
  virtual bool ReadPack(const std::string& table, std::string_view symbol, std::string& bytes) = 0;
  // Every row of `table` that a nearest-key search can reach, in SymbolTime
  // order, with a first column before the tick columns: the key the index
  // files the row under, as ReadPack finds it. What packs are made from.
  virtual std::unique_ptr<Cursor> ScanKeyedTicks(const std::string& table) = 0;
  // The keys of the packs `table` holds.
  virtual std::vector<std::string> PackKeys(const std::string& table) = 0;
  // Writing: makes the table's pack store and the triggers that drop a key's
  // pack whenever any of its rows changes, then drops every pack of `table`.
  virtual void ClearPacks(const std::string& table) = 0;
  virtual void StorePack(const std::string& table, const std::string& key, std::string_view bytes) = 0;

  // --- Statements ----------------------------------------------------------
  // `params` fill the placeholders in order.
  virtual std::unique_ptr<Cursor> Query(const Statement& sql, const std::vector<BoundParam>& params) = 0;
  // Runs a stored procedure; `name` is without its group suffix (";1"),
  // `params` are the input parameters in declared order.
  virtual std::unique_ptr<Cursor> CallProcedure(const std::string& name,
                                                const std::vector<BoundParam>& params) = 0;

  // --- Writing (loader only; a read-only connection raises) ----------------
  virtual void ExecuteScript(const std::string& sql) = 0;
  virtual void CreateTickTable(const std::string& table) = 0;
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;
  // After a load, outside any transaction: leaves `tables` (names as
  // written, tick tables among them) as fast to read as the store can make
  // them, so that the first request after a load is served as the
  // thousandth is: statistics gathered for the planner, pages marked
  // all-visible for reads from the index alone.
  virtual void PrepareToServe(const std::vector<std::string>& tables) = 0;
  // For a writer that commits small transactions into the day table `table`
  // all day while servers read it (the live feed), outside any transaction.
  // `live` true: readers go on reading through its commits instead of
  // waiting for them to end, where the store can arrange that. `live` false,
  // once the day is closed or the writer stops: everything committed is in
  // the table's own storage again, as after any other load. Stores whose
  // readers never wait for writers do nothing.
  virtual void WriteLive(const std::string& /*table*/, bool /*live*/) {}
  // Inserts rows into `table` (a tick table or a store table) with the given
  // columns; values are bound, never spliced into SQL text.
  class Inserter {
   public:
    virtual ~Inserter() = default;
    virtual void Insert(const std::vector<Value>& row) = 0;
  };
  virtual std::unique_ptr<Inserter> PrepareInsert(const std::string& table,
                                                  const std::vector<std::string>& columns) = 0;
};

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_DRIVER_H_
