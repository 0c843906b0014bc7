// The layout of the stores: tables, indexes and procedures of every SQL store
// for both drivers, and the operation that creates them.
//
// Creating is idempotent: tables and indexes are made when missing and the
// procedures are replaced, so running it over a filled store keeps its rows.
#ifndef HISTDATA_TOOLS_SCHEMA_H_
#define HISTDATA_TOOLS_SCHEMA_H_

#include <string>
#include <string_view>

#include "platform/engine/aliases.h"

namespace admin {

// The aliases of the four stores.
inline constexpr const char* kTickAlias = "HISTDATA";
inline constexpr const char* kHistoricalAlias = "Historical";
inline constexpr const char* kArdanAlias = "ardandata";
inline constexpr const char* kZetAlias = "zetdata";

// What a store holds.
enum class StoreKind {
  kTicks,       // one table per day
  kHistorical,  // datastore, DailySymbol, usp_Closing_Price
  kArdan,       // MinuteBars, MarketSession, QueryIntervals, QueryMarketSession
  kZet,         // symbolTable, IntervalTable60/180/300
};

// The kind of store an alias names. The three fixed aliases are compared
// without regard to ASCII case; any other alias is a symbol and interval
// store (the settings may name another one than "zetdata").
StoreKind StoreKindOf(std::string_view alias);

// The script that creates the tables, indexes and procedures of a SQL store
// (empty for the tick store, whose day tables the driver makes one by one).
std::string SchemaFor(StoreKind kind, engine::AliasTarget::Driver driver);

// The SELECT text of a procedure kept in an embedded store, by name without
// its group suffix ("usp_Closing_Price"); empty for an unknown name. Tests
// and the script above share it.
std::string SqliteProcedureBody(std::string_view name);

// Creates the store of `alias` as the alias configuration places it:
// the folder of day tables, or the tables and procedures of a SQL store.
// Raises engine::EDatabaseError when the store refuses.
void InitStore(const std::string& alias, const engine::Credentials& credentials = {});

// InitStore for HISTDATA, Historical, ardandata and `zet_alias`.
void InitAllStores(const std::string& zet_alias = kZetAlias,
                   const engine::Credentials& credentials = {});

}  // namespace admin

#endif  // HISTDATA_TOOLS_SCHEMA_H_
