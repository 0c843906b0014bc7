#include "platform/engine/pool.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/engine/postgres/postgres_driver.h"
#include "platform/engine/sqlite/sqlite_driver.h"
#include "platform/os/process_lifetime.h"

namespace engine {

namespace {

// Enough for every module of a full request pool to give back one
// connection of each of its databases.
constexpr size_t kMaxIdle = 128;

struct Pool {
  std::mutex mu;
  std::map<std::string, std::vector<std::unique_ptr<Connection>>> idle;
  size_t idle_count = 0;
  uint64_t generation = 0;  // raised when the configuration changes
};

Pool& ThePool() {
  static Pool* pool = os::KeptForProcess(new Pool);  // outlives every static lease holder
  return *pool;
}

std::string PoolKey(const AliasTarget& target, const Credentials& credentials) {
  std::string key;
  key += target.driver == AliasTarget::Driver::kSQLite ? 's' : 'p';
  key += target.day_tables ? 'd' : 'f';
  key += target.location;
  key += '\0';
  key += credentials.user;
  key += '\0';
  key += credentials.password;
  return key;
}

}  // namespace

std::unique_ptr<Connection> ConnectTarget(const AliasTarget& target, const Credentials& credentials,
                                          bool writable) {
  if (target.driver == AliasTarget::Driver::kPostgres) {
    return ConnectPostgres(target, credentials, writable);
  }
  return ConnectSQLite(target, writable);
}

ConnectionLease::ConnectionLease(std::string key, uint64_t generation,
                                 std::unique_ptr<Connection> connection)
    : key_(std::move(key)), generation_(generation), connection_(std::move(connection)) {}

ConnectionLease::~ConnectionLease() {
  if (!connection_ || !connection_->Healthy()) return;
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mu);
  if (pool.generation != generation_ || pool.idle_count >= kMaxIdle) return;
  pool.idle[key_].push_back(std::move(connection_));
  ++pool.idle_count;
}

std::unique_ptr<ConnectionLease> AcquireConnection(const AliasTarget& target,
                                                   const Credentials& credentials) {
  Pool& pool = ThePool();
  std::string key = PoolKey(target, credentials);
  uint64_t generation;
  for (;;) {
    std::unique_ptr<Connection> connection;
    {
      std::lock_guard<std::mutex> lock(pool.mu);
      generation = pool.generation;
      auto it = pool.idle.find(key);
      if (it == pool.idle.end() || it->second.empty()) break;
      connection = std::move(it->second.back());
      it->second.pop_back();
      --pool.idle_count;
    }
    // The last one given back is the most likely to be alive; a dead one is
    // dropped and the next tried.
    if (connection->Healthy()) {
      return std::make_unique<ConnectionLease>(std::move(key), generation, std::move(connection));
    }
  }
  std::unique_ptr<Connection> connection = ConnectTarget(target, credentials, false);
  return std::make_unique<ConnectionLease>(std::move(key), generation, std::move(connection));
}

void DropPooledConnections() {
  Pool& pool = ThePool();
  std::map<std::string, std::vector<std::unique_ptr<Connection>>> dropped;
  {
    std::lock_guard<std::mutex> lock(pool.mu);
    dropped.swap(pool.idle);
    pool.idle_count = 0;
    ++pool.generation;
  }
  // Closed here, outside the lock.
}

size_t IdleConnectionCount() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> lock(pool.mu);
  return pool.idle_count;
}

}  // namespace engine
