#include "service/ops/health.h"

#include <exception>
#include <fstream>
#include <memory>

#include "data/module.h"
#include "platform/engine/probe.h"
#include "settings/zetini.h"

namespace hist::ops {

Health CheckHealth() {
  Health health;
  auto fail = [&](std::string reason) {
    health.ok = false;
    health.reasons.push_back(std::move(reason));
  };
  std::vector<StoreLogin> stores;
  try {
    // The same search a request makes; a file found but unreadable would
    // silently give every key its default, so it is a fault here.
    std::unique_ptr<zetini::TIniFile> ini = zetini::zetIniFile();
    if (!std::ifstream(ini->FileName())) {
      fail("settings: cannot read " + ini->FileName());
      return health;
    }
    stores = ModuleStores();
  } catch (const std::exception& e) {
    fail(std::string("settings: ") + e.what());
    return health;
  }
  for (const StoreLogin& store : stores) {
    std::string error = engine::ProbeAlias(store.alias, store.credentials);
    if (error.empty()) continue;
    const char* driver = "sqlite";
    try {
      if (engine::ResolveAlias(store.alias).driver == engine::AliasTarget::Driver::kPostgres)
        driver = "postgres";
    } catch (const std::exception&) {
    }
    fail("store " + store.alias + " (" + driver + "): " + error);
  }
  return health;
}

}  // namespace hist::ops
