// TModuleData: the database objects of one request module, and the day
// lookups over its tick tables that the generators share.
//
// The declared databases, table, queries and stored procedures all live in
// the module's own session, so that modules serving requests at the same
// time never share a connection. The module database and its two queries are
// made by the creation handler and kept until the module goes.
#ifndef HISTDATA_DATA_MODULE_DATA_H_
#define HISTDATA_DATA_MODULE_DATA_H_

#include <memory>
#include <string>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"

namespace hist {

class TModuleData {
 public:
  // Makes the declared components and names the module's session; does not
  // run WebModuleCreate (the pool does, under its lock).
  TModuleData();
  virtual ~TModuleData();
  TModuleData(const TModuleData&) = delete;
  TModuleData& operator=(const TModuleData&) = delete;

  // Creation handler: credentials, session identifier, module database.
  void WebModuleCreate();

  // --- Day lookups (HistTable) ---------------------------------------------
  // The first day to read so that the range ending at dateEnd covers DayCount
  // days with data; dateBegin when DayCount is 0. Leaves HistTable named
  // after the last day looked at.
  rtl::TDateTime SeekDateByCount(int DayCount, rtl::TDateTime dateBegin, rtl::TDateTime dateEnd);
  // Whether any day of the range has a tick table; false for a one-day range.
  bool PreCheckExistDaysData(rtl::TDateTime dateBegin, rtl::TDateTime dateEnd);
  // Opens StockNameQuery on the symbol. True when DailySymbol knows it: the
  // query then stands on the first of its rows (name_e, name_c).
  bool FindStockName(const std::string& Symbol);

  // --- Declared components --------------------------------------------------
  std::string SessionName;  // HistSession_N
  engine::TDatabase HistDB;      // "HISTDATA", read-only
  engine::TDatabase HistSQLDB;   // "Historical", read-only
  engine::TDatabase ARDANDB;     // "ardandata"
  engine::TTable HistTable;      // over HistDB, index SymbolTime
  engine::TQuery HistSQLQuery;   // over HistSQLDB, declared only
  engine::TQuery StockNameQuery; // over HistSQLDB
  engine::TStoredProc spQueryDaily;          // "usp_Closing_Price;1"
  engine::TStoredProc spIntervalQuery;       // "QueryIntervals;1"
  engine::TStoredProc spMarketSessionQuery;  // "QueryMarketSession;1"

  // --- Module database (made once by WebModuleCreate; empty on failure) -------
  std::unique_ptr<engine::TDatabase> FDatabase;
  std::unique_ptr<engine::TQuery> IntervalQuery;
  std::unique_ptr<engine::TQuery> FIsValidSymbolQuery;
};

}  // namespace hist

#endif  // HISTDATA_DATA_MODULE_DATA_H_
