#include "platform/engine/store_errors.h"

namespace engine {

metrics::Counter& StoreErrorCounter(const std::string& alias, AliasTarget::Driver driver) {
  return metrics::Default().AddCounter(
      "histdata_store_errors_total", "Failures reported by a store, by alias and driver.",
      {{"alias", alias}, {"driver", driver == AliasTarget::Driver::kPostgres ? "postgres" : "sqlite"}});
}

void CountStoreError(const std::string& alias) noexcept {
  try {
    StoreErrorCounter(alias, ResolveAlias(alias).driver).Add();
  } catch (...) {
    // An alias that does not resolve failed before reaching a store.
  }
}

}  // namespace engine
