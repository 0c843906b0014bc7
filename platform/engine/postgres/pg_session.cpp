#include "platform/engine/postgres/pg_session.h"

#include <cstring>

#include "platform/engine/errors.h"
#include "platform/engine/postgres/pg_text.h"
#include "platform/engine/request_scope.h"

namespace engine::pg {
namespace {

// Statements kept prepared per connection. The server statements run the
// same few texts, but one tick statement per day table accumulates over a
// long life; past this many the cache starts again.
constexpr size_t kMaxPrepared = 256;

// "cached plan must not change result type": a prepared statement whose
// table changed shape under it.
constexpr const char* kPlanChanged = "0A000";

// "relation ... does not exist".
constexpr const char* kUndefinedTable = "42P01";

// Server notices ("table does not exist, skipping") are nobody's business
// here; by default libpq prints them on stderr.
void IgnoreNotice(void*, const char*) {}

std::string SqlState(const PGresult* r) {
  const char* s = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  return s ? s : "";
}

}  // namespace

Session::Session(const std::string& conninfo, const Credentials& credentials, bool read_only)
    : read_only_(read_only), used_in_request_(CurrentRequest()) {
  // Keywords are taken in order, later ones winning: the connection string
  // (expanded from dbname) may override the encoding and time-out; the
  // session attributes of a writer and the login given by the database
  // override the string.
  std::vector<const char*> keys = {"client_encoding", "connect_timeout", "dbname"};
  std::vector<const char*> values = {"UTF8", "15", conninfo.c_str()};
  if (!read_only) {
    // A connection string may list a primary and its replicas, preferring
    // a replica for reading; whoever writes must reach the primary, and
    // reads back there what it has just written.
    keys.push_back("target_session_attrs");
    values.push_back("read-write");
  }
  if (!credentials.user.empty()) {
    keys.push_back("user");
    values.push_back(credentials.user.c_str());
  }
  if (!credentials.password.empty()) {
    keys.push_back("password");
    values.push_back(credentials.password.c_str());
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
  if (conn_ == nullptr) throw EDBEngineError("Out of memory connecting to the database");
  if (PQstatus(conn_) != CONNECTION_OK) {
    std::string message = OneLine(PQerrorMessage(conn_));
    PQfinish(conn_);
    throw EDBEngineError(message.empty() ? "Cannot connect to the database" : message);
  }
  PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
  try {
    Setup();
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

void Session::Setup() {
  // Results are parsed as ISO dates and shortest exact floats, whatever the
  // server's defaults.
  std::string setup = "SET DateStyle TO ISO, YMD; SET extra_float_digits TO 3";
  if (read_only_) setup += "; SET default_transaction_read_only TO on";
  Execute(setup);
}

void Session::Reconnect() {
  // Prepared statements and any COPY died with the old server session.
  prepared_.clear();
  copying_ = false;
  kept_failure_.clear();
  PQreset(conn_);
  if (PQstatus(conn_) != CONNECTION_OK) Fail(nullptr);
  Setup();
}

Session::~Session() {
  if (copying_) PQputCopyEnd(conn_, "connection closed");
  PQfinish(conn_);
}

std::string Session::ServerName() const {
  auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
  return text(PQhost(conn_)) + ":" + text(PQport(conn_)) + "/" + text(PQdb(conn_)) + " as " + text(PQuser(conn_));
}

bool Session::Healthy() {
  if (PQstatus(conn_) != CONNECTION_OK) return false;
  switch (PQtransactionStatus(conn_)) {
    case PQTRANS_IDLE:
      // A server that ended the session sends its reason, then closes the
      // socket: the first read takes the message, the second sees the end.
      for (int i = 0; i < 2; ++i) {
        if (!PQconsumeInput(conn_)) return false;
      }
      while (PGnotify* n = PQnotifies(conn_)) PQfreemem(n);
      return PQstatus(conn_) == CONNECTION_OK;
    case PQTRANS_INTRANS:
    case PQTRANS_ACTIVE:
      return true;
    case PQTRANS_INERROR:
    case PQTRANS_UNKNOWN:
      break;
  }
  return false;
}

Result Session::Run(const std::string& sql, const std::vector<const char*>& values, bool binary) {
  Ready();
  // Only a read-only session reconnects on its own: a writer's transaction
  // cannot be carried over to a new connection.
  const uint64_t request = CurrentRequest();
  const bool first_in_request = read_only_ && used_in_request_ != request;
  used_in_request_ = request;
  try {
    return RunPrepared(sql, values, binary);
  } catch (const EDBEngineError&) {
    // Broken while it waited in the pool or between requests (a server
    // restart, a lost replica): nothing of this request came over it yet.
    if (!first_in_request || PQstatus(conn_) == CONNECTION_OK) throw;
  }
  Reconnect();
  return RunPrepared(sql, values, binary);
}

Result Session::RunOnce(const std::string& sql, const std::vector<const char*>& values) {
  Ready();
  const uint64_t request = CurrentRequest();
  const bool first_in_request = read_only_ && used_in_request_ != request;
  used_in_request_ = request;
  try {
    return ExecOnce(sql, values);
  } catch (const EDBEngineError&) {
    if (!first_in_request || PQstatus(conn_) == CONNECTION_OK) throw;
  }
  Reconnect();
  return ExecOnce(sql, values);
}

Result Session::ExecOnce(const std::string& sql, const std::vector<const char*>& values) {
  auto missing = [](const PGresult* r) {
    return r != nullptr && PQresultStatus(r) == PGRES_FATAL_ERROR && SqlState(r) == kUndefinedTable;
  };
  auto it = prepared_.find(sql);
  if (it != prepared_.end()) {
    // A table dropped since the statement was prepared fails it too.
    Result r = ExecPrepared(it->second, values, false);
    if (missing(r.get())) return nullptr;
    Check(r.get());
    return r;
  }
  if (prepared_.size() >= kMaxPrepared) {
    Result r(PQexec(conn_, "DEALLOCATE ALL"));
    Check(r.get());
    prepared_.clear();
  }
  // Prepared and run in one request (pipeline mode): its plan is kept for
  // the next run of the same text, without a request of its own now.
  std::string name = "hd" + std::to_string(++statement_count_);
  if (PQenterPipelineMode(conn_) != 1) Fail(nullptr);
  const bool sent =
      PQsendPrepare(conn_, name.c_str(), sql.c_str(), 0, nullptr) == 1 &&
      PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(), nullptr, nullptr,
                          0) == 1 &&
      PQpipelineSync(conn_) == 1;
  std::vector<Result> results;
  if (sent) {
    // Each command's result, then a null; the pipeline ends at its sync.
    for (int nulls = 0; nulls < 4;) {
      PGresult* p = PQgetResult(conn_);
      if (p == nullptr) {
        if (PQstatus(conn_) != CONNECTION_OK) break;
        ++nulls;
        continue;
      }
      if (PQresultStatus(p) == PGRES_PIPELINE_SYNC) {
        PQclear(p);
        break;
      }
      results.emplace_back(p);
    }
  }
  PQexitPipelineMode(conn_);
  if (!sent || results.size() != 2) {
    for (const Result& r : results) {
      if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && PQresultStatus(r.get()) != PGRES_TUPLES_OK) Fail(r.get());
    }
    Fail(nullptr);
  }
  if (missing(results[0].get())) return nullptr;
  Check(results[0].get());
  prepared_.emplace(sql, std::move(name));
  if (missing(results[1].get())) return nullptr;
  Check(results[1].get());
  return std::move(results[1]);
}

Result Session::RunPrepared(const std::string& sql, const std::vector<const char*>& values, bool binary) {
  Result r = ExecPrepared(Prepared(sql), values, binary);
  if (PQresultStatus(r.get()) == PGRES_FATAL_ERROR && SqlState(r.get()) == kPlanChanged &&
      PQtransactionStatus(conn_) == PQTRANS_IDLE) {
    Forget(sql);
    r = ExecPrepared(Prepared(sql), values, binary);
  }
  Check(r.get());
  return r;
}

Result Session::Execute(const std::string& sql) {
  Ready();
  Result r(PQexec(conn_, sql.c_str()));
  const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT) {
    // A script's own COPY would wait for data nobody sends.
    if (status == PGRES_COPY_IN) PQputCopyEnd(conn_, "no data");
    while (PGresult* rest = PQgetResult(conn_)) PQclear(rest);
    throw EDBEngineError("COPY is not supported in a script");
  }
  Check(r.get());
  return r;
}

uint64_t Session::Copy(const std::string& sql) {
  Ready();
  Result r(PQexec(conn_, sql.c_str()));
  if (!r || PQresultStatus(r.get()) != PGRES_COPY_IN) {
    Check(r.get());
    throw EDBEngineError("The server did not start the copy");
  }
  copying_ = true;
  return ++copy_id_;
}

void Session::CopyData(std::string_view rows) {
  if (PQputCopyData(conn_, rows.data(), static_cast<int>(rows.size())) != 1) Fail(nullptr);
}

void Session::EndCopy() {
  if (!copying_) return;
  copying_ = false;
  if (PQputCopyEnd(conn_, nullptr) != 1) Fail(nullptr);
  // Every result is read before raising, so the connection is ready again.
  std::string failure;
  bool lost = false;
  while (PGresult* p = PQgetResult(conn_)) {
    Result r(p);
    if (failure.empty() && PQresultStatus(p) != PGRES_COMMAND_OK) {
      try {
        Check(p);
      } catch (const EDBEngineError& e) {
        failure = e.what();
        // Rows reach the server long before it checks them: its context
        // ("COPY t, line 3, column symbol: ...") says which row failed.
        const char* context = PQresultErrorField(p, PG_DIAG_CONTEXT);
        if (context != nullptr && *context != '\0') {
          const std::string_view first(context, std::strcspn(context, "\n"));
          failure += " (" + std::string(first) + ")";
        }
      }
    }
  }
  if (PQstatus(conn_) != CONNECTION_OK) lost = true;
  if (!failure.empty()) throw EDBEngineError(failure);
  if (lost) Fail(nullptr);
}

void Session::AbandonCopy() {
  try {
    EndCopy();
  } catch (const EDBEngineError& e) {
    kept_failure_ = e.what();
  }
}

void Session::DiscardCopy() {
  kept_failure_.clear();
  if (!copying_) return;
  copying_ = false;
  PQputCopyEnd(conn_, "insert cancelled");
  while (PGresult* p = PQgetResult(conn_)) PQclear(p);
}

void Session::Ready() {
  if (copying_) EndCopy();
  if (!kept_failure_.empty()) {
    std::string failure = std::move(kept_failure_);
    kept_failure_.clear();
    throw EDBEngineError(failure);
  }
}

void Session::Check(const PGresult* r) {
  if (r == nullptr) Fail(nullptr);
  switch (PQresultStatus(r)) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_EMPTY_QUERY:
      return;
    default:
      Fail(r);
  }
}

void Session::Fail(const PGresult* r) {
  // The primary message alone, as the server wrote it ("relation ... does
  // not exist"); the library's text when the server sent none.
  const char* text = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  if (text == nullptr || *text == '\0') text = r ? PQresultErrorMessage(r) : nullptr;
  if (text == nullptr || *text == '\0') text = PQerrorMessage(conn_);
  std::string message = OneLine(text ? text : "");
  if (message.empty()) message = "The connection to the database was lost";
  throw EDBEngineError(message);
}

Result Session::ExecPrepared(const std::string& name, const std::vector<const char*>& values, bool binary) {
  return Result(PQexecPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(),
                               nullptr, nullptr, binary ? 1 : 0));
}

const std::string& Session::Prepared(const std::string& sql) {
  auto it = prepared_.find(sql);
  if (it != prepared_.end()) return it->second;
  if (prepared_.size() >= kMaxPrepared) {
    Result r(PQexec(conn_, "DEALLOCATE ALL"));
    Check(r.get());
    prepared_.clear();
  }
  std::string name = "hd" + std::to_string(++statement_count_);
  Result r(PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr));
  Check(r.get());
  return prepared_.emplace(sql, std::move(name)).first->second;
}

void Session::Forget(const std::string& sql) {
  auto it = prepared_.find(sql);
  if (it == prepared_.end()) return;
  Result r(PQexec(conn_, ("DEALLOCATE " + it->second).c_str()));
  prepared_.erase(it);
}

}  // namespace engine::pg
