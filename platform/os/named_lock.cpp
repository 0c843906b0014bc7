#include "platform/os/named_lock.h"

#include <map>
#include <memory>
#include <string>

#include "platform/os/process_lifetime.h"

namespace os {

std::mutex& NamedLock(std::string_view name) {
  static auto* guard = KeptForProcess(new std::mutex);
  static auto* locks =
      KeptForProcess(new std::map<std::string, std::unique_ptr<std::mutex>, std::less<>>);
  std::lock_guard<std::mutex> lock(*guard);
  auto it = locks->find(name);
  if (it == locks->end()) {
    it = locks->emplace(std::string(name), std::make_unique<std::mutex>()).first;
  }
  return *it->second;
}

}  // namespace os
