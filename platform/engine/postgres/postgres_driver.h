// The PostgreSQL driver: connections over libpq to an alias whose
// configuration names a PostgreSQL database.
#ifndef HISTDATA_PLATFORM_ENGINE_POSTGRES_POSTGRES_DRIVER_H_
#define HISTDATA_PLATFORM_ENGINE_POSTGRES_POSTGRES_DRIVER_H_

#include <memory>

#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"

namespace engine {

// A new physical connection to the database of `target` (its location is a
// libpq connection string). A non-empty user or password in `credentials`
// overrides the connection string's. A connection that is not `writable`
// refuses the writing half of Connection. Raises EDBEngineError with the
// server's message when the database cannot be reached.
std::unique_ptr<Connection> ConnectPostgres(const AliasTarget& target, const Credentials& credentials,
                                            bool writable);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_POSTGRES_POSTGRES_DRIVER_H_
