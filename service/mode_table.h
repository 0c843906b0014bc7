// The request modes: which generator answers each mode (and, where a
// setting chooses among its forms, each form), the store it reads, and what
// the handler does when the generator fails. The handler dispatches through
// this table and nothing else.
#ifndef HISTDATA_SERVICE_MODE_TABLE_H_
#define HISTDATA_SERVICE_MODE_TABLE_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "service/hist.h"
#include "service/history_request.h"

namespace hist {

// The setting that picks a row among the rows of one mode. Comparisons are
// exact: "uw" is not "UW".
enum class ModeForm : uint8_t {
  kAny,
  kCalcModeUW,
  kCalcModeNotUW,
  kDBModeParadox,
  kDBModeNotParadox,
};

// Where a generator's rows come from.
enum class ModeSource : uint8_t {
  kTickTables,      // the per-day tick tables (HistDB)
  kHistoryStore,    // daily prices and names (HistSQLDB)
  kMinuteStore,     // minute bars and market sessions (ARDANDB)
  kIntervalTables,  // the interval tables of the module database
};

// What a failure of the generator does to the request.
enum class ModeFailure : uint8_t {
  // The handler's own error handler takes it: logged, the reply ends where it
  // stands and the form databases stay as the failure left them.
  kEndsRequest,
  // Database errors are tried again, each after closing HistSQLDB; any other
  // error ends the request.
  kRetriesDatabaseErrors,
  // Logged with the request's window, then the request closes its databases
  // as after a generator that finished.
  kLogsWindow,
  // As kLogsWindow, the interval named after the window.
  kLogsWindowAndInterval,
};

struct ModeRoute {
  std::string_view mode;
  ModeForm form;
  std::string_view generator;  // the THistData operation `call` runs
  ModeSource source;
  ModeFailure failure;
  std::string_view logged_as;  // the operation a failure's log line names
  void (*call)(THistData& module, TWebResponse& response, const HistoryRequest& request);
};

// Every row, in mode order.
std::span<const ModeRoute> ModeRoutes();

// The row that answers `mode` under the given settings; null for a mode that
// has none (the reply then stays empty).
const ModeRoute* FindModeRoute(std::string_view mode, std::string_view calcMode,
                               std::string_view dbMode);

}  // namespace hist

#endif  // HISTDATA_SERVICE_MODE_TABLE_H_
