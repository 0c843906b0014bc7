// The request module's declared components and its creation handler.
//
// Every component of a module lives in the module's own session, so that
// modules serving requests at the same time never share a connection.
#include "data/module.h"

#include <exception>
#include <string>
#include <vector>

#include "data/session_id.h"
#include "log/zetUtilities.h"
#include "service/hist.h"
#include "settings/zetini.h"

namespace hist {

namespace {

void DeclareDatabase(engine::TDatabase& db, const char* alias, const char* name,
                     const std::string& session, bool read_only) {
  db.AliasName = alias;
  db.DatabaseName = name;
  db.SessionName = session;
  db.ReadOnly = read_only;
}

// Replaces a database's login parameters, user first.
void SetLogin(engine::TDatabase& db, const std::string& user, const std::string& password) {
  db.Params.clear();
  db.Params.push_back("USER NAME=" + user);
  db.Params.push_back("PASSWORD=" + password);
}

}  // namespace

THistData::THistData() {
  SessionName = engine::AutoSessionName("HistSession");

  DeclareDatabase(HistDB, "HISTDATA", "HistDB", SessionName, /*read_only=*/true);
  DeclareDatabase(HistSQLDB, "Historical", "HistSQLDB", SessionName, /*read_only=*/true);
  DeclareDatabase(ARDANDB, "ardandata", "ARDANDB", SessionName, /*read_only=*/false);
  // The declared login; WebModuleCreate replaces it before any connection.
  SetLogin(HistSQLDB, "sa", "");
  SetLogin(ARDANDB, "sa", "");

  HistTable.SetDatabase(&HistDB);

  using engine::FieldType;
  // Parameters declared before the statement keep their types when it is set.
  HistSQLQuery.SetDatabase(&HistSQLDB);
  HistSQLQuery.Params.Add("Symbol", FieldType::kString);
  HistSQLQuery.Params.Add("DateStart", FieldType::kDate);
  HistSQLQuery.Params.Add("DateEnd", FieldType::kDate);
  HistSQLQuery.SetSQL(
      "SELECT * FROM datastore WHERE\n"
      "stock_code = :Symbol AND\n"
      "c_date >= :DateStart AND\n"
      "c_date <= :DateEnd\n"
      "order by c_date");

  StockNameQuery.SetDatabase(&HistSQLDB);
  StockNameQuery.Params.Add("Symbol", FieldType::kString);
  StockNameQuery.SetSQL("select name_e, name_c from DailySymbol where Stock_code = :Symbol");

  spQueryDaily.SetDatabase(&HistSQLDB);
  spQueryDaily.StoredProcName = "usp_Closing_Price;1";
  spQueryDaily.DeclareParam("@RETURN_VALUE", FieldType::kInteger, /*is_result=*/true);
  spQueryDaily.DeclareParam("@From_Symbol", FieldType::kString);
  spQueryDaily.DeclareParam("@To_Symbol", FieldType::kString);
  spQueryDaily.DeclareParam("@From_Date", FieldType::kDateTime);
  spQueryDaily.DeclareParam("@To_Date", FieldType::kDateTime);
  spQueryDaily.DeclareParam("@Adj", FieldType::kInteger);

  spIntervalQuery.SetDatabase(&ARDANDB);
  spIntervalQuery.StoredProcName = "QueryIntervals;1";
  spIntervalQuery.DeclareParam("RETURN_VALUE", FieldType::kInteger, /*is_result=*/true);
  spIntervalQuery.DeclareParam("@Symbol", FieldType::kString);
  spIntervalQuery.DeclareParam("@Interval", FieldType::kInteger);
  spIntervalQuery.DeclareParam("@TimeFrom", FieldType::kDateTime);
  spIntervalQuery.DeclareParam("@TimeTo", FieldType::kDateTime);
  spIntervalQuery.DeclareParam("@BackCount", FieldType::kInteger);

  spMarketSessionQuery.SetDatabase(&ARDANDB);
  spMarketSessionQuery.StoredProcName = "QueryMarketSession;1";
  spMarketSessionQuery.DeclareParam("RETURN_VALUE", FieldType::kInteger, /*is_result=*/true);
  spMarketSessionQuery.DeclareParam("@Symbol", FieldType::kString);
}

THistData::~THistData() {
  // The datasets go before their databases (member order); the session name
  // is given back last so that no live component still carries it.
  engine::ReleaseSessionName(SessionName);
}

void THistData::WebModuleCreate() {
  // The line terminator of assembled lines is fixed at CR LF (globals.h).
  std::string user, password;
  {
    auto ini = zetini::zetIniFile();
    user = ini->ReadString("KORVA", "DBUSER", "sa");
    password = ini->ReadString("KORVA", "DBPASSWORD", "");
  }
  SetLogin(HistSQLDB, user, password);
  SetLogin(ARDANDB, user, password);

  // A module whose database could not be made stays without it; the modes
  // that need it log that and stop.
  DatabaseNewQueryOpen(FDatabase, IntervalQuery, FIsValidSymbolQuery);
}

void DBInitConfig() {
  DSNValues dsn;
  std::vector<std::string> section;
  zetini::zetIniFile()->ReadSectionValues("ZET_DATABASE", section);
  std::string source = zetini::ListValue(section, "DSN_source");
  if (!source.empty()) dsn.source = source;
  dsn.user = zetini::ListValue(section, "DSN_user");
  dsn.password = zetini::ListValue(section, "DSN_password");
  SetDSN(std::move(dsn));
}

std::vector<StoreLogin> ModuleStores() {
  auto ini = zetini::zetIniFile();
  const engine::Credentials form{ini->ReadString("KORVA", "DBUSER", "sa"),
                                 ini->ReadString("KORVA", "DBPASSWORD", "")};
  std::vector<std::string> section;
  ini->ReadSectionValues("ZET_DATABASE", section);
  std::string source = zetini::ListValue(section, "DSN_source");
  if (source.empty()) source = DSNValues().source;
  // The module database logs in only when a user is named (as
  // DatabaseNewQueryOpen does).
  engine::Credentials module;
  module.user = zetini::ListValue(section, "DSN_user");
  if (!module.user.empty()) module.password = zetini::ListValue(section, "DSN_password");
  return {{"HISTDATA", {}}, {"Historical", form}, {"ardandata", form}, {source, module}};
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
