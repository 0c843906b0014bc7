// Whether the server can serve now: its settings file is readable and every
// store a request module reaches answers. Cheap enough to be asked every
// second: a few file look-ups, a SQLite open per file store and one trivial
// statement per PostgreSQL store on a pooled connection.
#ifndef HISTDATA_SERVICE_OPS_HEALTH_H_
#define HISTDATA_SERVICE_OPS_HEALTH_H_

#include <string>
#include <vector>

namespace hist::ops {

struct Health {
  bool ok = true;
  // One line per fault ("store Historical (sqlite): unable to open ...").
  std::vector<std::string> reasons;
};

Health CheckHealth();

}  // namespace hist::ops

#endif  // HISTDATA_SERVICE_OPS_HEALTH_H_
