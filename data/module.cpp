// The module database and the settings that reach it.
#include "data/module.h"

#include <exception>
#include <string>
#include <vector>

#include "data/session_id.h"
#include "log/zetUtilities.h"
#include "settings/zetini.h"

namespace hist {

ModuleSettings ReadModuleSettings() {
  auto ini = zetini::zetIniFile();
  ModuleSettings settings;
  settings.form.user = ini->ReadString("KORVA", "DBUSER", "sa");
  settings.form.password = ini->ReadString("KORVA", "DBPASSWORD", "");
  std::vector<std::string> section;
  ini->ReadSectionValues("ZET_DATABASE", section);
  if (std::string source = zetini::ListValue(section, "DSN_source"); !source.empty()) {
    settings.dsn.source = std::move(source);
  }
  settings.dsn.user = zetini::ListValue(section, "DSN_user");
  settings.dsn.password = zetini::ListValue(section, "DSN_password");
  return settings;
}

void DBInitConfig() { SetDSN(ReadModuleSettings().dsn); }

std::vector<StoreLogin> ModuleStores() {
  const ModuleSettings settings = ReadModuleSettings();
  // The module database logs in only when a user is named (as
  // DatabaseNewQueryOpen does).
  engine::Credentials module;
  if (!settings.dsn.user.empty()) module = {settings.dsn.user, settings.dsn.password};
  return {{"HISTDATA", {}},
          {"Historical", settings.form},
          {"ardandata", settings.form},
          {settings.dsn.source, module}};
}

bool DatabaseNewQueryOpen(std::unique_ptr<engine::TDatabase>& Database,
                          std::unique_ptr<engine::TQuery>& IntervalQuery,
                          std::unique_ptr<engine::TQuery>& ValidSymbolQuery) {
  IntervalQuery.reset();
  ValidSymbolQuery.reset();
  Database.reset();

  DBInitConfig();
  const DSNValues dsn = CurrentDSN();
  std::string session_id;
  GenNextSessionID(session_id);
  engine::SetCurrentSessionName(session_id);

  auto db = std::make_unique<engine::TDatabase>();
  db->AliasName = dsn.source;
  db->DatabaseName = "ordDB" + session_id;
  db->SessionName = session_id;
  if (!dsn.user.empty()) {
    zetlog::Log("Using database " + dsn.source + " user " + dsn.user + " SessionID " + session_id);
    db->Params = {"USER NAME=" + dsn.user, "PASSWORD=" + dsn.password};
  }

  std::unique_ptr<engine::TQuery> valid_query, interval_query;
  try {
    zetlog::Log("begin keep connection");
    db->KeepConnection = true;
    zetlog::Log("connection");
    engine::SetCurrentSessionName(engine::CurrentSessionName());
    zetlog::Log("Current Session");
    db->Open();
    zetlog::Log("connected");
    valid_query = std::make_unique<engine::TQuery>(db.get());
    zetlog::Log("valid Query");
    interval_query = std::make_unique<engine::TQuery>(db.get());
    zetlog::Log("IntervalQuery");
  } catch (const std::exception& e) {
    zetlog::Log(std::string("Cannot connect to database ") + e.what());
    return false;  // the queries go before the database they are bound to
  }
  Database = std::move(db);
  IntervalQuery = std::move(interval_query);
  ValidSymbolQuery = std::move(valid_query);
  return true;
}

}  // namespace hist
