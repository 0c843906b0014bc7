// The pool of physical connections below the databases. A database that
// closes gives its connection back; the next open of any database with the
// same target and credentials takes it again instead of connecting anew.
//
// Thread-safe. Idle connections are bounded; a connection that reports
// itself broken is dropped rather than given back.
#ifndef HISTDATA_PLATFORM_ENGINE_POOL_H_
#define HISTDATA_PLATFORM_ENGINE_POOL_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/engine/aliases.h"
#include "platform/engine/driver.h"

namespace engine {

// A connection taken from the pool; destroying the lease gives it back.
class ConnectionLease {
 public:
  ConnectionLease(std::string key, uint64_t generation, std::unique_ptr<Connection> connection);
  ~ConnectionLease();
  ConnectionLease(const ConnectionLease&) = delete;
  ConnectionLease& operator=(const ConnectionLease&) = delete;

  Connection& connection() { return *connection_; }

 private:
  std::string key_;
  uint64_t generation_;
  std::unique_ptr<Connection> connection_;
};

// An idle connection to `target` with `credentials`, or a new read-only one.
// Raises EDBEngineError when a new connection fails.
std::unique_ptr<ConnectionLease> AcquireConnection(const AliasTarget& target,
                                                   const Credentials& credentials);

// Closes every idle connection; leases out now are closed when given back.
void DropPooledConnections();

// Idle connections held (tests).
size_t IdleConnectionCount();

// A new physical connection of the target's driver.
std::unique_ptr<Connection> ConnectTarget(const AliasTarget& target, const Credentials& credentials,
                                          bool writable);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_POOL_H_
