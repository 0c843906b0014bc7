// The application object: the bounded pool of request modules, the dispatch
// of every request to the module's single action, the server-error reply,
// and the start and unload steps a host calls around its requests.
//
// A host (the standalone HTTP server or the ISAPI binding) calls
// StartExtension once before its first request, HttpExtensionProc for each
// request on the thread that delivered it, and UnloadExtension once after
// its last request.
#ifndef HISTDATA_SERVICE_APP_H_
#define HISTDATA_SERVICE_APP_H_

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/host.h"
#include "service/hist.h"
#include "service/web.h"

namespace hist {

// Message of the refusal when every allowed module is busy.
inline constexpr const char* kPoolExhaustedMessage =
    "Maximum number of concurrent connections exceeded.  Please try again later";

// Return values of HttpExtensionProc.
inline constexpr int kStatusSuccess = 1;
inline constexpr int kStatusError = 4;

class TWebApplication {
 public:
  // Makes a new, not yet created module. The default makes a THistData;
  // tests install one that makes a subclass.
  using ModuleFactory = std::function<std::unique_ptr<THistData>()>;

  explicit TWebApplication(ModuleFactory factory = nullptr);
  // Destroys every module (none may be serving a request).
  ~TWebApplication();
  TWebApplication(const TWebApplication&) = delete;
  TWebApplication& operator=(const TWebApplication&) = delete;

  // Highest number of requests served at once; 0 or less means no limit.
  int MaxConnections() const;
  void SetMaxConnections(int limit);
  // Released modules are always kept for reuse.
  bool CacheConnections() const { return true; }
  // The extension's description: empty.
  const std::string& Title() const { return title_; }

  // Takes an idle module (the one released first) or makes a new one under
  // the pool lock, creation handler included. Raises with
  // kPoolExhaustedMessage when the limit is reached; a module whose making
  // fails enters no list.
  THistData* ActivateWebModule();
  // Moves the module from the active list to the end of the idle list.
  void DeactivateWebModule(THistData* module);

  // Activates, runs the action handler, sends the head when it is still
  // unsent, deactivates (also on error). True when an action handled it.
  bool HandleRequest(TWebRequest& request, TWebResponse& response);
  // The 500 reply for an error that reached this level. Nothing is sent
  // when the head has already gone out: a second head would corrupt the
  // reply.
  void HandleServerException(const std::exception* error, TWebResponse& response);

  // Serves one request: kStatusSuccess or kStatusError.
  int HttpExtensionProc(host::Host& host);

  // Pool state, for tests and diagnostics.
  size_t ModuleCount() const;
  size_t ActiveCount() const;
  std::vector<THistData*> IdleModules() const;

 private:
  ModuleFactory factory_;
  std::string title_;
  mutable std::mutex pool_lock_;
  int max_connections_ = 32;
  std::vector<std::unique_ptr<THistData>> modules_;  // every module made
  std::vector<THistData*> active_;
  std::deque<THistData*> idle_;
};

// The class name the server-error reply shows for an error: the database
// layer's own names, "EConvertError" for conversions, else "Exception".
std::string ErrorClassName(const std::exception* error);

// Start-sequence step: opens the log, seeds the session identifiers and
// reads MaxConnection of section KORVA. 10 when absent, empty, not a whole
// number, or when any step fails.
int GetMaxConnection();

// The process's application object (null before StartExtension).
TWebApplication* Application();

// The start sequence: makes the application object (replacing one left by
// an earlier start), takes GetMaxConnection as its limit and registers the
// module class (`factory`, or THistData when empty).
void StartExtension(TWebApplication::ModuleFactory factory = nullptr);

// Serves one request through the process's application object;
// kStatusError when StartExtension has not run.
int HttpExtensionProc(host::Host& host);

// Unload: destroys the application object with its modules and resets the
// process-wide values.
void UnloadExtension();

}  // namespace hist

#endif  // HISTDATA_SERVICE_APP_H_
