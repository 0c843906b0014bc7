// The module pool and the request entry.
#include "service/app.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <stdexcept>
#include <utility>

#include "data/session_id.h"
#include "log/zetUtilities.h"
#include "platform/engine/errors.h"
#include "platform/engine/request_scope.h"
#include "platform/os/process_lifetime.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/numbers.h"
#include "settings/zetini.h"
#include "service/globals.h"
#include "service/request_metrics.h"

namespace hist {

namespace {

constexpr int kDefaultMaxConnection = 10;

constexpr const char* kErrorHeadFormat =
    "Content-Type: text/html\r\nContent-Length: %d\r\nContent:\r\n\r\n";

std::string ErrorBody(const std::string& class_name, const std::string& message) {
  return "<html><title>Internal Server Error 500</title>\r\n"
         "<h1>Internal Server Error 500</h1><hr>\r\n"
         "Exception: " + class_name + "<br>\r\n"
         "Message: " + message + "<br></html>\r\n";
}

std::string ErrorHead(size_t body_length) {
  std::string head = kErrorHeadFormat;
  head.replace(head.find("%d"), 2, std::to_string(body_length));
  return head;
}

// The refusal of a full pool: its own class only so that the metrics can
// tell it from other failures; the reply shows it as any other Exception.
class PoolExhausted : public std::runtime_error {
 public:
  PoolExhausted() : std::runtime_error(kPoolExhaustedMessage) {}
};

std::unique_ptr<THistData> MakeHistData() { return std::make_unique<THistData>(); }

// The application object and its lock are never destroyed by static
// destruction: a host unloads the service through UnloadExtension, which may
// run after this file's statics are gone (a library's unload step runs after
// the process's exit handlers), so neither may be an object with a
// destructor of its own.
std::mutex& AppLock() {
  static std::mutex* lock = os::KeptForProcess(new std::mutex);
  return *lock;
}
std::atomic<TWebApplication*> g_app{nullptr};

}  // namespace

TWebApplication::TWebApplication(ModuleFactory factory)
    : factory_(factory ? std::move(factory) : ModuleFactory(MakeHistData)) {}

TWebApplication::~TWebApplication() {
  std::lock_guard<std::mutex> guard(pool_lock_);
  active_.clear();
  idle_.clear();
  modules_.clear();
}

int TWebApplication::MaxConnections() const {
  std::lock_guard<std::mutex> guard(pool_lock_);
  return max_connections_;
}

void TWebApplication::SetMaxConnections(int limit) {
  std::lock_guard<std::mutex> guard(pool_lock_);
  max_connections_ = limit;
  RecordPool(active_.size(), modules_.size(), max_connections_);
}

THistData* TWebApplication::ActivateWebModule() {
  std::lock_guard<std::mutex> guard(pool_lock_);
  if (max_connections_ > 0 && active_.size() >= static_cast<size_t>(max_connections_)) {
    throw PoolExhausted();
  }
  THistData* module;
  if (!idle_.empty()) {
    module = idle_.front();
    idle_.pop_front();
  } else {
    // Made under the pool lock so that creation handlers, and with them the
    // numbering of sessions, never run twice at once. A module whose making
    // fails is dropped here and enters no list.
    std::unique_ptr<THistData> made = factory_();
    made->WebModuleCreate();
    module = made.get();
    modules_.reserve(modules_.size() + 1);
    active_.reserve(active_.size() + 1);
    modules_.push_back(std::move(made));
  }
  active_.push_back(module);
  RecordPool(active_.size(), modules_.size(), max_connections_);
  return module;
}

void TWebApplication::DeactivateWebModule(THistData* module) {
  std::lock_guard<std::mutex> guard(pool_lock_);
  auto it = std::find(active_.begin(), active_.end(), module);
  if (it == active_.end()) return;
  active_.erase(it);
  idle_.push_back(module);
  RecordPool(active_.size(), modules_.size(), max_connections_);
}

bool TWebApplication::HandleRequest(TWebRequest& request, TWebResponse& response) {
  // Store connections untouched so far in this request may be found stale
  // and replaced unseen (a module made now belongs to this request too).
  engine::BeginRequest();
  THistData* module = ActivateWebModule();
  // The single action is also the default one, so every request, whatever
  // its path and method, reaches the history handler.
  bool handled = true;
  try {
    module->Response = &response;
    module->HistDatagetHistoryAction(request, response, handled);
    if (handled && !response.HeadSent()) response.SendResponse();
  } catch (...) {
    module->Response = nullptr;
    DeactivateWebModule(module);
    throw;
  }
  module->Response = nullptr;
  DeactivateWebModule(module);
  return handled;
}

void TWebApplication::HandleServerException(const std::exception* error, TWebResponse& response) {
  if (response.HeadSent()) return;
  std::string message = error ? error->what() : "Unknown error";
  std::string body = ErrorBody(ErrorClassName(error), message);
  host::Host& host = response.Host();
  host.SetStatus(500);
  host.SendHead("500 " + message, ErrorHead(body.size()));
  host.Write(body.data(), body.size());
  response.Tally.bytes += body.size();
}

int TWebApplication::HttpExtensionProc(host::Host& host) {
  const auto start = std::chrono::steady_clock::now();
  ReplyTally tally;
  Outcome outcome = Outcome::kFailed;
  int status = kStatusError;
  try {
    TWebRequest request(host);
    TWebResponse response(host, request);
    try {
      status = HandleRequest(request, response) ? kStatusSuccess : kStatusError;
      outcome = response.Tally.failed       ? Outcome::kFailed
                : response.Tally.error_line ? Outcome::kErrorLine
                                            : Outcome::kComplete;
    } catch (const PoolExhausted& e) {
      outcome = Outcome::kPoolFull;
      HandleServerException(&e, response);
    } catch (const std::exception& e) {
      HandleServerException(&e, response);
    } catch (...) {
      HandleServerException(nullptr, response);
    }
    tally = response.Tally;
  } catch (...) {
    // The error reply itself failed; nothing more can be told the client.
  }
  RecordRequest(tally, outcome, std::chrono::steady_clock::now() - start);
  return status;
}

size_t TWebApplication::ModuleCount() const {
  std::lock_guard<std::mutex> guard(pool_lock_);
  return modules_.size();
}

size_t TWebApplication::ActiveCount() const {
  std::lock_guard<std::mutex> guard(pool_lock_);
  return active_.size();
}

std::vector<THistData*> TWebApplication::IdleModules() const {
  std::lock_guard<std::mutex> guard(pool_lock_);
  return std::vector<THistData*>(idle_.begin(), idle_.end());
}

std::string ErrorClassName(const std::exception* error) {
  if (error == nullptr) return "Exception";
  if (auto* db = dynamic_cast<const engine::EDatabaseError*>(error)) return db->ClassName();
  if (dynamic_cast<const rtl::EConvertError*>(error)) return "EConvertError";
  if (dynamic_cast<const std::bad_alloc*>(error)) return "EOutOfMemory";
  return "Exception";
}

int GetMaxConnection() {
  try {
    zetlog::InitialLock();
    InitialSessionID();
    std::vector<std::string> list;
    zetini::zetIniFile()->ReadSectionValues("KORVA", list);
    std::string value = zetini::ListValue(list, "MaxConnection");
    int32_t limit;
    if (!value.empty() && rtl::TryStrToInt(value, limit)) return limit;
    return kDefaultMaxConnection;
  } catch (...) {
    return kDefaultMaxConnection;
  }
}

TWebApplication* Application() { return g_app.load(); }

void StartExtension(TWebApplication::ModuleFactory factory) {
  std::lock_guard<std::mutex> guard(AppLock());
  delete g_app.exchange(nullptr);
  RegisterServiceMetrics();
  auto app = std::make_unique<TWebApplication>(std::move(factory));
  app->SetMaxConnections(GetMaxConnection());
  g_app.store(app.release());
}

int HttpExtensionProc(host::Host& host) {
  TWebApplication* app = g_app.load();
  if (app == nullptr) return kStatusError;
  return app->HttpExtensionProc(host);
}

void UnloadExtension() {
  std::lock_guard<std::mutex> guard(AppLock());
  delete g_app.exchange(nullptr);
  ResetProcessSettings();
}

}  // namespace hist
