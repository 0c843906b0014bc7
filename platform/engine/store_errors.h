// Failures reported by the stores, counted by alias and driver for the
// operator's metrics (histdata_store_errors_total).
#ifndef HISTDATA_PLATFORM_ENGINE_STORE_ERRORS_H_
#define HISTDATA_PLATFORM_ENGINE_STORE_ERRORS_H_

#include <string>

#include "platform/engine/aliases.h"
#include "platform/metrics/metrics.h"

namespace engine {

// The counter of `alias` on `driver`, made on first use. Finding it takes
// the metrics registry's lock: only failures pay for it.
metrics::Counter& StoreErrorCounter(const std::string& alias, AliasTarget::Driver driver);

// Counts one failure of `alias` under the driver it resolves to now.
void CountStoreError(const std::string& alias) noexcept;

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_STORE_ERRORS_H_
