#include "platform/engine/probe.h"

#include <exception>
#include <vector>

#include "platform/engine/pool.h"

namespace engine {

std::string ProbeAlias(const std::string& alias, const Credentials& credentials) {
  try {
    const AliasTarget target = ResolveAlias(alias);
    std::vector<Value> row;
    if (target.driver == AliasTarget::Driver::kSQLite) {
      std::unique_ptr<Connection> connection = ConnectTarget(target, credentials, false);
      if (!target.day_tables) {
        connection->Query(Statement{{"SELECT count(*) FROM sqlite_master"}}, {})->Next(row);
      }
      return std::string();
    }
    std::unique_ptr<ConnectionLease> lease = AcquireConnection(target, credentials);
    lease->connection().Query(Statement{{"SELECT 1"}}, {})->Next(row);
    return std::string();
  } catch (const std::exception& e) {
    std::string message = e.what();
    return message.empty() ? "unknown error" : message;
  }
}

}  // namespace engine
