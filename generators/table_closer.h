// Closes a tick table however a generator's call ends, so that no day table
// stays open after a failed read.
#ifndef HISTDATA_GENERATORS_TABLE_CLOSER_H_
#define HISTDATA_GENERATORS_TABLE_CLOSER_H_

#include "platform/engine/engine.h"

namespace hist {

class TableCloser {
 public:
  explicit TableCloser(engine::TTable& table) : table_(table) {}
  ~TableCloser() { table_.Close(); }
  TableCloser(const TableCloser&) = delete;
  TableCloser& operator=(const TableCloser&) = delete;

 private:
  engine::TTable& table_;
};

}  // namespace hist

#endif  // HISTDATA_GENERATORS_TABLE_CLOSER_H_
