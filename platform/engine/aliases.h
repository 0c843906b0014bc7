// Where each alias leads. With no configuration every alias is an embedded
// SQLite store under one data folder:
//   HISTDATA   -> <data>/histdata/   (one file per day table, hist030704.db)
//   Historical -> <data>/historical.db
//   ardandata  -> <data>/ardandata.db
//   any other  -> <data>/<alias in lower case>.db   (zetdata -> zetdata.db)
// A configuration file (ini text) can send any alias to PostgreSQL:
//   [Historical]
//   Driver=postgres
//   ConnInfo=host=/var/run/postgresql dbname=historical
// A ConnInfo naming several hosts (host=a,b,c) with target_session_attrs
// spreads readers over replicas; see ConnectAlias for writers.
// Login parameters given by the database (user, password) override those of
// the connection string when they are not empty.
#ifndef HISTDATA_PLATFORM_ENGINE_ALIASES_H_
#define HISTDATA_PLATFORM_ENGINE_ALIASES_H_

#include <memory>
#include <string>

#include "platform/engine/driver.h"

namespace engine {

struct AliasTarget {
  enum class Driver { kSQLite, kPostgres };
  Driver driver = Driver::kSQLite;
  std::string location;  // SQLite: file or folder path; PostgreSQL: connection string
  bool day_tables = false;  // the alias holds one table per day (HISTDATA)
};

// Sets the data folder and reads the alias configuration. `config_file`
// empty means "<data_dir>/aliases.ini" when that file exists. Raises
// EDatabaseError for a configuration it cannot read. Safe to call again
// (tests do); connections pooled under the old configuration are dropped.
void ConfigureAliases(const std::string& data_dir, const std::string& config_file = "");
AliasTarget ResolveAlias(const std::string& alias);
const std::string& DataDir();

struct Credentials {
  std::string user;
  std::string password;
};

// A new physical connection (no pool): the loader uses this with
// writable = true; a writable SQLite store is created when missing, and a
// writable PostgreSQL connection reaches the primary whatever the
// connection string prefers for readers.
std::unique_ptr<Connection> ConnectAlias(const std::string& alias, const Credentials& credentials,
                                         bool writable);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_ALIASES_H_
