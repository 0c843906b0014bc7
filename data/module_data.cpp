// The declared components of a request module and its creation handler.
// Every component goes into the module's own session.
#include "data/module_data.h"

#include <string>

#include "data/module.h"

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

TModuleData::TModuleData() {
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

TModuleData::~TModuleData() {
  // The datasets go before their databases (member order); the session name
  // is given back last so that no live component still carries it.
  engine::ReleaseSessionName(SessionName);
}

void TModuleData::WebModuleCreate() {
  // The line terminator of assembled lines is fixed at CR LF (globals.h).
  const engine::Credentials login = ReadModuleSettings().form;
  SetLogin(HistSQLDB, login.user, login.password);
  SetLogin(ARDANDB, login.user, login.password);

  // A module whose database could not be made stays without it; the modes
  // that need it log that and stop.
  DatabaseNewQueryOpen(FDatabase, IntervalQuery, FIsValidSymbolQuery);
}

}  // namespace hist
