// Rows into a PostgreSQL table through COPY, the server's bulk path: rows
// stream to the server as they are inserted and the server checks them when
// the copy ends, which is when the inserter goes away or the next command
// runs on the connection (Commit, typically). A failure found then is raised
// by that next command, so a load inside a transaction never commits a
// rejected copy.
#ifndef HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_INSERTER_H_
#define HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_INSERTER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/engine/driver.h"
#include "platform/engine/postgres/pg_session.h"

namespace engine::pg {

class CopyInserter : public Connection::Inserter {
 public:
  // `copy_sql` is the COPY ... FROM STDIN statement; `types` the field types
  // of its columns (date and time columns take date-time values).
  CopyInserter(Session& session, std::string copy_sql, std::vector<FieldType> types);
  ~CopyInserter() override;
  void Insert(const std::vector<Value>& row) override;

 private:
  Session& session_;
  const std::string sql_;
  const std::vector<FieldType> types_;
  uint64_t copy_ = 0;
  std::string line_;
  std::string text_;
};

}  // namespace engine::pg

#endif  // HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_INSERTER_H_
