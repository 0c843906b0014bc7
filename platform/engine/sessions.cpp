// Session names: the automatic per-module names and the thread's current one.
#include <mutex>
#include <set>

#include "platform/engine/engine.h"
#include "platform/os/process_lifetime.h"

namespace engine {

namespace {

constexpr size_t kMaxSessionNameLength = 32;

struct AutoNames {
  std::mutex mu;
  std::set<std::string> taken;
};

// Never destroyed: a module may give its name back while the process exits.
AutoNames& Names() {
  static AutoNames* names = os::KeptForProcess(new AutoNames);
  return *names;
}

thread_local std::string current_session_name;

}  // namespace

std::string AutoSessionName(std::string_view component) {
  AutoNames& names = Names();
  std::lock_guard<std::mutex> lock(names.mu);
  for (int n = 1;; ++n) {
    std::string name = std::string(component) + "_" + std::to_string(n);
    if (names.taken.insert(name).second) return name;
  }
}

void ReleaseSessionName(const std::string& name) {
  AutoNames& names = Names();
  std::lock_guard<std::mutex> lock(names.mu);
  names.taken.erase(name);
}

void SetCurrentSessionName(std::string_view name) {
  current_session_name.assign(name.substr(0, kMaxSessionNameLength));
}

const std::string& CurrentSessionName() { return current_session_name; }

}  // namespace engine
