// How a request module reaches its own database: the DSN settings and the
// making of the module database with its two general-purpose queries.
#ifndef HISTDATA_DATA_MODULE_H_
#define HISTDATA_DATA_MODULE_H_

#include <memory>
#include <string>
#include <vector>

#include "data/session_id.h"
#include "platform/engine/aliases.h"
#include "platform/engine/engine.h"

namespace hist {

// The settings a module's logins come from, all read through one settings
// reader: the login of the form databases (DBUSER, default "sa", and
// DBPASSWORD of section KORVA) and the module database's source and login
// (DSN_source, empty or missing: "zetdata", DSN_user and DSN_password of
// section ZET_DATABASE). Errors of the settings store reach the caller.
struct ModuleSettings {
  engine::Credentials form;
  DSNValues dsn;
};
ModuleSettings ReadModuleSettings();

// Reads the module database's source and login (ReadModuleSettings) into the
// process-wide DSN values. Errors of the settings store reach the caller.
void DBInitConfig();

// Makes the module database (alias: the DSN source; database name "ordDB" +
// a new session identifier), connects it and makes the two queries bound to
// it. True on success. When connecting or making a query fails, the failure
// is logged as "Cannot connect to database " + message, all three are left
// empty and the result is false. Errors of the settings store are not caught.
bool DatabaseNewQueryOpen(std::unique_ptr<engine::TDatabase>& Database,
                          std::unique_ptr<engine::TQuery>& IntervalQuery,
                          std::unique_ptr<engine::TQuery>& ValidSymbolQuery);

// A store a request module reaches and the login it reaches it with.
struct StoreLogin {
  std::string alias;
  engine::Credentials credentials;
};

// Every store a request module reaches, with the logins the settings give
// now: the tick tables, the two form databases and the module database.
// Errors of the settings store reach the caller.
std::vector<StoreLogin> ModuleStores();

}  // namespace hist

#endif  // HISTDATA_DATA_MODULE_H_
