#include "platform/engine/request_scope.h"

#include <atomic>

namespace engine {
namespace {

std::atomic<uint64_t> last_request{0};
thread_local uint64_t current_request = 0;

}  // namespace

void BeginRequest() {
  // Unique across threads: a module's connection may serve its next request
  // on another thread.
  current_request = last_request.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint64_t CurrentRequest() { return current_request; }

}  // namespace engine
