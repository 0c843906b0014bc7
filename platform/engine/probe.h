// A cheap look at whether the store behind an alias can serve now, for the
// operator's health check.
#ifndef HISTDATA_PLATFORM_ENGINE_PROBE_H_
#define HISTDATA_PLATFORM_ENGINE_PROBE_H_

#include <string>

#include "platform/engine/aliases.h"

namespace engine {

// Empty when the store answers; otherwise the store's message. SQLite: a
// fresh read-only open (a file removed since the pooled connections opened
// it shows up here) and, for a single-file store, one read of its schema.
// PostgreSQL: a pooled connection runs one trivial statement (a broken one
// leaves the pool). Never raises; counts nothing in the store error metrics.
std::string ProbeAlias(const std::string& alias, const Credentials& credentials);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_PROBE_H_
