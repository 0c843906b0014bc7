// The PostgreSQL driver: one physical connection per call, made from the
// alias's connection string. Non-empty credentials override the user and
// password of the connection string.
#ifndef HISTDATA_PLATFORM_ENGINE_POSTGRES_POSTGRES_DRIVER_H_
#define HISTDATA_PLATFORM_ENGINE_POSTGRES_POSTGRES_DRIVER_H_

#include <memory>

#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"

namespace engine {

// Raises EDBEngineError with the server's message when the connection fails.
// A connection that is not `writable` refuses the writing half of Connection.
std::unique_ptr<Connection> ConnectPostgres(const AliasTarget& target, const Credentials& credentials,
                                            bool writable);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_POSTGRES_POSTGRES_DRIVER_H_
