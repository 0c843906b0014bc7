// How a request module reaches its own database: the DSN settings and the
// making of the module database with its two general-purpose queries.
#ifndef HISTDATA_DATA_MODULE_H_
#define HISTDATA_DATA_MODULE_H_

#include <memory>

#include "platform/engine/engine.h"

namespace hist {

// Reads DSN_source (empty or missing: "zetdata"), DSN_user and DSN_password
// of section ZET_DATABASE into the process-wide DSN values. Errors of the
// settings store reach the caller.
void DBInitConfig();

// Makes the module database (alias: the DSN source; database name "ordDB" +
// a new session identifier), connects it and makes the two queries bound to
// it. True on success. When connecting or making a query fails, the failure
// is logged as "Cannot connect to database " + message, all three are left
// empty and the result is false. Errors of the settings store are not caught.
bool DatabaseNewQueryOpen(std::unique_ptr<engine::TDatabase>& Database,
                          std::unique_ptr<engine::TQuery>& IntervalQuery,
                          std::unique_ptr<engine::TQuery>& ValidSymbolQuery);

}  // namespace hist

#endif  // HISTDATA_DATA_MODULE_H_
