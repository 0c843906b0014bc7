// The declared components of a request module and its creation handler.
// Every component goes into the module's own session.
#include "data/module_data.h"

#include <initializer_list>
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

// One input parameter of a stored procedure.
struct ParamDecl {
  const char* name;
  engine::FieldType type;
};

// Declares a stored procedure over `db`: its integer result first, then its
// inputs in the order the store's procedure takes them.
void DeclareProc(engine::TStoredProc& proc, engine::TDatabase& db, const char* name,
                 const char* result, std::initializer_list<ParamDecl> inputs) {
  proc.SetDatabase(&db);
  proc.StoredProcName = name;
  proc.DeclareParam(result, engine::FieldType::kInteger, /*is_result=*/true);
  for (const ParamDecl& p : inputs) proc.DeclareParam(p.name, p.type);
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

  DeclareProc(spQueryDaily, HistSQLDB, "usp_Closing_Price;1", "@RETURN_VALUE",
              {{"@From_Symbol", FieldType::kString},
               {"@To_Symbol", FieldType::kString},
               {"@From_Date", FieldType::kDateTime},
               {"@To_Date", FieldType::kDateTime},
               {"@Adj", FieldType::kInteger}});
  DeclareProc(spIntervalQuery, ARDANDB, "QueryIntervals;1", "RETURN_VALUE",
              {{"@Symbol", FieldType::kString},
               {"@Interval", FieldType::kInteger},
               {"@TimeFrom", FieldType::kDateTime},
               {"@TimeTo", FieldType::kDateTime},
               {"@BackCount", FieldType::kInteger}});
  DeclareProc(spMarketSessionQuery, ARDANDB, "QueryMarketSession;1", "RETURN_VALUE",
              {{"@Symbol", FieldType::kString}});
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
