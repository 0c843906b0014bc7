#include "log/zetUtilities.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "log/zetLog.h"
#include "platform/metrics/metrics.h"
#include "platform/os/named_lock.h"
#include "platform/os/paths.h"
#include "platform/rtl/datetime.h"

namespace zetlog {

const char* const kLogFileName = "C:\\HistData\\VELD.log";

namespace {

std::mutex g_folder_mutex;
std::string g_folder;  // set from the command line; empty: the environment's

metrics::Counter& WriteFailures() {
  static metrics::Counter& failures = metrics::Default().AddCounter(
      "histdata_log_write_failures_total", "Log lines that could not be written.");
  return failures;
}
// A log was named at start but could not be opened (a read-only or missing
// folder): every line is lost.
std::atomic<bool> g_log_lost{false};

}  // namespace

void SetLogFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(g_folder_mutex);
  g_folder = folder;
}

std::string LogPath() {
  if (os::kLogAtFixedPath) return kLogFileName;
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(g_folder_mutex);
    folder = g_folder;
  }
  if (folder.empty()) {
    const char* env = std::getenv("HISTDATA_LOG_DIR");
    if (env != nullptr) folder = env;
  }
  if (folder.empty()) return "";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder != "/") folder += '/';
  return folder + "VELD.log";
}

void InitialLock() {
  WriteFailures();  // shown at 0 from the start
  os::NamedLock("FLog");
  const std::string path = LogPath();
  zetLogOpen(path, "");
  g_log_lost.store(!path.empty() && !zetLogIsOpen(), std::memory_order_relaxed);
}

void DumpToFile(std::string_view /*file_name*/, std::string_view message, int /*flag*/) {
  try {
    static std::mutex& lock = os::NamedLock("FLog");
    std::lock_guard<std::mutex> guard(lock);
    if (g_log_lost.load(std::memory_order_relaxed)) {
      WriteFailures().Add();
      return;
    }
    zetLogMsg(message, 2);
  } catch (...) {
    // Logging never disturbs the caller; the next line tries again. The
    // operator learns of the lost line from the metrics.
    WriteFailures().Add();
  }
}

uint64_t LogWriteFailures() { return WriteFailures().Value(); }

std::string LogTimePrefix() {
  std::string out;
  out.reserve(24);
  rtl::AppendDateTime(out, "yyyy/mm/dd hh:nn:ss", rtl::Now());
  out += " =>";
  return out;
}

}  // namespace zetlog
