// The embedded SQLite driver. A day-table alias is a folder holding one file
// per day table ("hist030704.db" holds table hist030704); any other alias is
// one database file.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_SQLITE_DRIVER_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_SQLITE_DRIVER_H_

#include <memory>

#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"

namespace engine {

// A read-only connection opens existing files only; a `writable` one creates
// the folder or file when missing. Raises EDBEngineError on failure.
std::unique_ptr<Connection> ConnectSQLite(const AliasTarget& target, bool writable);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_SQLITE_DRIVER_H_
