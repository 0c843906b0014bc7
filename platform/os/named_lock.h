// Process-wide locks known by name, the stand-in for named synchronisation
// objects: every caller that names the same lock shares one mutex.
#ifndef HISTDATA_PLATFORM_OS_NAMED_LOCK_H_
#define HISTDATA_PLATFORM_OS_NAMED_LOCK_H_

#include <mutex>
#include <string_view>

namespace os {

// The mutex of that name, made on first use. It lives until the process
// ends (never destroyed, so threads still running at exit may use it).
// Callers on a hot path keep the reference instead of looking it up again.
std::mutex& NamedLock(std::string_view name);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_NAMED_LOCK_H_
