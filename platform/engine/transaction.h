// One transaction around a piece of writing: every loader of the stores goes
// through here, so that a failure always undoes the whole of it and the
// error a caller sees is the one that caused it.
#ifndef HISTDATA_PLATFORM_ENGINE_TRANSACTION_H_
#define HISTDATA_PLATFORM_ENGINE_TRANSACTION_H_

#include <exception>

#include "platform/engine/driver.h"

namespace engine {

// Runs `body` inside one transaction of `connection`: commits when it
// returns, rolls back when it or the commit throws, and passes that
// exception on.
// A rollback that fails itself (the connection was lost, so the store has
// already ended the transaction and kept nothing) never takes the place of
// that first error.
template <class Body>
void InTransaction(Connection& connection, Body&& body) {
  connection.Begin();
  try {
    body();
    connection.Commit();
  } catch (...) {
    try {
      connection.Rollback();
    } catch (...) {
      // Nothing was committed; the body's error is the one to report.
    }
    throw;
  }
}

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_TRANSACTION_H_
