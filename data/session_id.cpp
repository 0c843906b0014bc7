// The counter and prefix are guarded by the session lock so that no two
// modules ever receive the same identifier, even when an identifier is taken
// outside the pool lock. The DSN values have a lock of their own only because
// a std::string cannot be replaced and read at once without one.
#include "data/session_id.h"

#include <cstdint>
#include <cstdio>
#include <mutex>

#include "platform/os/named_lock.h"
#include "platform/os/process_lifetime.h"
#include "platform/rtl/datetime.h"

namespace hist {

namespace {

struct SessionState {
  std::mutex& lock = os::NamedLock("DB");  // the session lock
  uint32_t counter = 100;
  std::string prefix;
};

// Never destroyed: a module made while the process exits may still ask.
SessionState& Sessions() {
  static auto* state = os::KeptForProcess(new SessionState);
  return *state;
}

struct DSNState {
  std::mutex lock;
  DSNValues values;
};

DSNState& DSN() {
  static auto* state = os::KeptForProcess(new DSNState);
  return *state;
}

}  // namespace

void InitialSessionID() {
  SessionState& s = Sessions();
  std::lock_guard<std::mutex> guard(s.lock);
  s.counter = 100;
  s.prefix = rtl::FormatDateTime("hhnnss", rtl::Now());
}

void GenNextSessionID(std::string& SessionID) {
  SessionState& s = Sessions();
  std::lock_guard<std::mutex> guard(s.lock);
  // The counter is a signed 32-bit value whose hexadecimal form wraps; the
  // unsigned arithmetic gives the same digits without overflow.
  ++s.counter;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%8.8x", s.counter);
  SessionID = s.prefix + digits;
}

DSNValues CurrentDSN() {
  DSNState& d = DSN();
  std::lock_guard<std::mutex> guard(d.lock);
  return d.values;
}

void SetDSN(DSNValues values) {
  DSNState& d = DSN();
  std::lock_guard<std::mutex> guard(d.lock);
  d.values = std::move(values);
}

}  // namespace hist
