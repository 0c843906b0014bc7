// The mode table. Generators that are handed no response write into the
// module's current one, which the handler has made the request's.
#include "service/mode_table.h"

#include <array>

#include "log/zetUtilities.h"

namespace hist {

namespace {

using R = const HistoryRequest&;

void Intraday(THistData& m, TWebResponse& out, R r) {
  m.GenIntraday(r.symbol, out, r.timeStart, r.timeOver, r.dateStart, r.dateOver, 0, false);
}
void Daily(THistData& m, TWebResponse& out, R r) {
  m.GenInterday2(r.symbol, out, r.dateStart, r.dateOver);
}
void Delayed(THistData& m, TWebResponse& out, R r) { m.GenDelay(r.symbol, out); }
void PriceChanges(THistData& m, TWebResponse& out, R r) {
  m.GenIntraday(r.symbol, out, r.timeStart, r.timeOver, r.dateStart, r.dateOver, r.dayCount, true);
}
void UWTicks(THistData& m, TWebResponse& out, R r) {
  m.GenUWIntraday(r.symbol, out, r.timeStart, r.timeOver, r.dateStart, r.dateOver, r.todayFlag,
                  r.dayCount, false);
}
void BarsFromTicks(THistData& m, TWebResponse&, R r) {
  m.GenInterval(r.symbol, r.dayCount, r.timeStart, r.timeOver, r.dateStart, r.dateOver, r.interval);
}
void BarsFromMinutes(THistData& m, TWebResponse&, R r) {
  m.GenFastInterval(r.symbol, r.interval, r.timeStart, r.timeOver, r.dateStart, r.dateOver, r.iunit,
                    r.backCount);
}
void GridFromTicks(THistData& m, TWebResponse&, R r) {
  m.GenInterval3(r.symbol, r.timeStart, r.timeOver, r.dateStart, r.dateOver, r.dayCount, r.interval);
}
// The log brackets the one generator that reaches the module database.
void GridFromTables(THistData& m, TWebResponse&, R r) {
  zetlog::Log("SQLDB Connected");
  m.GenInterval4(r.symbol, r.dayCount, r.timeStart, r.timeOver, r.dateStart, r.dateOver, r.interval,
                 r.todayFlag);
  zetlog::Log("Interval Done");
}

using F = ModeForm;
using S = ModeSource;
using E = ModeFailure;

// Bars of under a minute asked of mode 5 go on to GenInterval inside
// GenFastInterval; the table names the operation the handler calls.
constexpr std::array<ModeRoute, 9> kRoutes = {{
    {"0", F::kAny, "GenIntraday", S::kTickTables, E::kEndsRequest, "", Intraday},
    {"1", F::kAny, "GenInterday2", S::kHistoryStore, E::kRetriesDatabaseErrors, "", Daily},
    {"2", F::kAny, "GenDelay", S::kTickTables, E::kEndsRequest, "", Delayed},
    {"3", F::kCalcModeNotUW, "GenIntraday", S::kTickTables, E::kLogsWindow, "DoGenIntraday",
     PriceChanges},
    {"3", F::kCalcModeUW, "GenUWIntraday", S::kTickTables, E::kLogsWindow, "DoGenIntraday",
     UWTicks},
    {"4", F::kAny, "GenInterval", S::kTickTables, E::kEndsRequest, "", BarsFromTicks},
    {"5", F::kAny, "GenFastInterval", S::kMinuteStore, E::kEndsRequest, "", BarsFromMinutes},
    {"6", F::kDBModeParadox, "GenInterval3", S::kTickTables, E::kLogsWindowAndInterval,
     "GenInterval3", GridFromTicks},
    {"6", F::kDBModeNotParadox, "GenInterval4", S::kIntervalTables, E::kLogsWindowAndInterval,
     "GenInterval4", GridFromTables},
}};

bool FormHolds(ModeForm form, std::string_view calcMode, std::string_view dbMode) {
  switch (form) {
    case F::kAny: return true;
    case F::kCalcModeUW: return calcMode == "UW";
    case F::kCalcModeNotUW: return calcMode != "UW";
    case F::kDBModeParadox: return dbMode == "PARADOX";
    case F::kDBModeNotParadox: return dbMode != "PARADOX";
  }
  return false;
}

}  // namespace

std::span<const ModeRoute> ModeRoutes() { return kRoutes; }

const ModeRoute* FindModeRoute(std::string_view mode, std::string_view calcMode,
                               std::string_view dbMode) {
  for (const ModeRoute& route : kRoutes) {
    if (route.mode == mode && FormHolds(route.form, calcMode, dbMode)) return &route;
  }
  return nullptr;
}

}  // namespace hist
