// The history handler: settings, reply head, parameters, defaults, then the
// generator of the mode (service/mode_table.h) and the closing of the form
// databases.
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "log/zetUtilities.h"
#include "platform/engine/errors.h"
#include "platform/rtl/datetime.h"
#include "service/globals.h"
#include "service/hist.h"
#include "service/history_request.h"
#include "service/mode_table.h"
#include "service/reply_lines.h"
#include "service/request_fields.h"
#include "service/web.h"
#include "settings/zetini.h"

namespace hist {

namespace {

constexpr int kInterdayTries = 3;

// The settings that choose among the forms of a mode.
struct ModeSettings {
  std::string calcMode;
  std::string dbMode;
};

// Re-reads the process-wide values every request writes, through a fresh
// reader so that a changed file takes effect with the next request, and in
// one look so that a file changing meanwhile is not half taken. A value that
// does not convert raises before the reply head goes out.
ModeSettings ReadRequestSettings() {
  std::unique_ptr<zetini::TIniFile> ini = zetini::zetIniFile();
  // CutTimeRange is read with the rest, though nothing depends on it.
  const std::vector<std::string> v = ini->ReadStrings(
      "KORVA", {{"NominalUpdateTimestamp", "16:00:00"}, {"ExecutionTickOnly", "N"}, {"CalcMode", "DC"},
                {"DBMode", "PARADOX"}, {"CutTimeRange", ""}});
  SetNominalUpdateTime(rtl::StrToTime(v[0]));
  const std::string& tickOnly = v[1];
  if (!tickOnly.empty() && (tickOnly[0] == 'Y' || tickOnly[0] == 'y')) RaiseExecutionTickOnly();
  ModeSettings settings{v[2], v[3]};
  SetCalcMode(settings.calcMode);
  SetDBMode(settings.dbMode);
  return settings;
}

// A GET carries its fields in the query string, anything else in its body;
// the other place is never looked at.
std::string FieldText(TWebRequest& request) {
  if (request.Method() == "GET") return request.Query();
  if (request.ContentLength() > 0) return request.Content();
  return "";
}

// Database errors of the daily store are tried again, each try after closing
// HistSQLDB so that the next one reconnects. The close trace records, across
// the tries, whether the database was connected before the close ("1") and
// whether the close left it closed ("2").
void RunWithRetries(THistData& module, const ModeRoute& route, TWebResponse& response,
                    const HistoryRequest& request) {
  std::string closeTrace;
  for (int tryNo = 1; tryNo <= kInterdayTries; ++tryNo) {
    try {
      route.call(module, response, request);
      return;
    } catch (const engine::EDatabaseError& e) {
      if (module.HistSQLDB.Connected()) closeTrace += "1";
      module.HistSQLDB.Close();
      if (!module.HistSQLDB.Connected()) closeTrace += "2";
      zetlog::Log("Exception: " + std::string(e.what()) + ". Retry " + std::to_string(tryNo) +
                  ". Close: " + closeTrace + ".");
    }
  }
  response.Tally.failed = true;
}

// A failure that the request survives: logged with the request's window, the
// lines already written staying in the reply.
void RunLoggingFailure(THistData& module, const ModeRoute& route, TWebResponse& response,
                       const HistoryRequest& r) {
  try {
    route.call(module, response, r);
  } catch (const std::exception& e) {
    response.Tally.failed = true;
    std::string line = zetlog::LogTimePrefix() + "Exception: " + e.what() + " when " +
                       std::string(route.logged_as) + "(" +
                       WindowText(r.symbol, r.timeStart, r.timeOver, r.dateStart, r.dateOver,
                                  r.dayCount);
    if (route.failure == ModeFailure::kLogsWindowAndInterval) {
      line += ",interval[" + std::to_string(r.interval) + "]";
    }
    zetlog::Log(line + ").");
  }
}

void RunRoute(THistData& module, const ModeRoute& route, TWebResponse& response,
              const HistoryRequest& request) {
  switch (route.failure) {
    case ModeFailure::kEndsRequest:
      route.call(module, response, request);
      return;
    case ModeFailure::kRetriesDatabaseErrors:
      RunWithRetries(module, route, response, request);
      return;
    case ModeFailure::kLogsWindow:
    case ModeFailure::kLogsWindowAndInterval:
      RunLoggingFailure(module, route, response, request);
      return;
  }
}

}  // namespace

void THistData::HistDatagetHistoryAction(TWebRequest& Request, TWebResponse& Response,
                                         bool& Handled) {
  Handled = true;
  this->Response = &Response;
  try {
    const ModeSettings settings = ReadRequestSettings();

    // The head goes out before any parameter is looked at: from here on
    // every answer, error lines included, is a 200 text/plain reply.
    Response.ContentType = "text/plain";
    Response.SendResponse();

    const TRequestFields fields(FieldText(Request));
    HistoryRequest request = ReadSymbolAndMode(fields);
    Response.Tally.mode = ModeSlotOf(request.mode);
    // A request that cannot be served opened no database: nothing to close.
    if (std::string error = ReadWindowAndNumbers(fields, settings.calcMode, request);
        !error.empty()) {
      SendErrorMsg(error, Response);
      return;
    }

    // An unknown mode writes nothing, but still closes the databases.
    if (const ModeRoute* route = FindModeRoute(request.mode, settings.calcMode, settings.dbMode)) {
      RunRoute(*this, *route, Response, request);
    }

    ARDANDB.Close();
    HistDB.Close();
    HistSQLDB.Close();
  } catch (const std::exception& e) {
    Response.Tally.failed = true;
    zetlog::Log(zetlog::LogTimePrefix() + "Exception: " + e.what() + " when HistDatagetHistoryAction");
  } catch (...) {
    Response.Tally.failed = true;
    zetlog::Log(zetlog::LogTimePrefix() + "Exception: unknown error when HistDatagetHistoryAction");
  }
}

}  // namespace hist
