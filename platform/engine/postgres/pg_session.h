// One libpq connection as the driver uses it: statements prepared once per
// text and kept for the connection's life, every failure raised as
// EDBEngineError with the server's message, and the COPY of a loader's
// inserter finished before any other command runs.
#ifndef HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_SESSION_H_
#define HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_SESSION_H_

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/engine/aliases.h"

namespace engine::pg {

struct ResultFree {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

class Session {
 public:
  // Connects to `conninfo` (a connection string or URI); a non-empty user or
  // password overrides the string's. A read-only session's transactions
  // refuse to write; any other goes to a host that accepts writes (the
  // primary of a string that lists replicas too). Raises EDBEngineError
  // with the library's message.
  Session(const std::string& conninfo, const Credentials& credentials, bool read_only);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The server this session is connected to now ("host:port/database as
  // user"): a connection string that lists several hosts may reach another
  // after a reconnect.
  std::string ServerName() const;

  // False once the connection is known to be lost or left in a failed
  // transaction. An idle connection is probed without blocking, so that one
  // whose server went away is noticed before it is used.
  bool Healthy();

  // Runs `sql` with text parameters (nullptr is null), preparing it on first
  // use. The result holds rows or a command status, never an error. On a
  // read-only session, the first statement of a request (engine/
  // request_scope.h) that finds the connection broken reconnects and runs
  // once more.
  // With `binary`, the result's values come in the server's binary form (a
  // bytea as its bytes, not as hex text).
  Result Run(const std::string& sql, const std::vector<const char*>& values, bool binary = false);
  // Runs `sql` as Run does, but a statement not prepared yet is prepared
  // and run in one request (pipeline mode), for texts that change with the
  // tables they name. A statement naming a table the store does not have
  // gives a null result instead of raising.
  Result RunOnce(const std::string& sql, const std::vector<const char*>& values);
  // Runs one or more statements without parameters.
  Result Execute(const std::string& sql);

  // COPY ... FROM STDIN: Copy starts it (ending any other first) and returns
  // its number; CopyActive tells whether that COPY still runs; CopyData
  // sends rows. The COPY ends when any other command runs (a failure raised
  // by that command), at EndCopy (raised), or at AbandonCopy (the failure
  // kept and raised by the next command, for owners that cannot raise).
  // DiscardCopy cancels it and forgets any kept failure, before a rollback.
  uint64_t Copy(const std::string& sql);
  bool CopyActive(uint64_t id) const { return copying_ && copy_id_ == id; }
  void CopyData(std::string_view rows);
  void EndCopy();
  void AbandonCopy();
  void DiscardCopy();

 private:
  // Session settings every connection starts with.
  void Setup();
  // Re-establishes a lost connection with the same parameters (another host
  // of a multi-host string may answer); raises when none does.
  void Reconnect();
  Result RunPrepared(const std::string& sql, const std::vector<const char*>& values, bool binary);
  Result ExecOnce(const std::string& sql, const std::vector<const char*>& values);
  // Ends a running COPY and raises a kept failure; every command starts so.
  void Ready();
  // Raises when `r` is no success (a null result is a lost connection).
  void Check(const PGresult* r);
  [[noreturn]] void Fail(const PGresult* r);
  Result ExecPrepared(const std::string& name, const std::vector<const char*>& values, bool binary);
  // The server name of the prepared statement for `sql`, preparing it once.
  const std::string& Prepared(const std::string& sql);
  void Forget(const std::string& sql);

  PGconn* conn_ = nullptr;
  const bool read_only_;
  uint64_t used_in_request_;  // the request of the last statement run
  std::unordered_map<std::string, std::string> prepared_;  // text -> name
  uint64_t statement_count_ = 0;
  bool copying_ = false;
  uint64_t copy_id_ = 0;
  std::string kept_failure_;
};

}  // namespace engine::pg

#endif  // HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_SESSION_H_
