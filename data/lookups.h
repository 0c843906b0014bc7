// Small lookups the generators share: day-table names, symbol validity and
// tolerant comparison of floats and date-times.
#ifndef HISTDATA_DATA_LOOKUPS_H_
#define HISTDATA_DATA_LOOKUPS_H_

#include <string>
#include <string_view>

#include "platform/engine/engine.h"
#include "platform/rtl/datetime.h"

namespace hist {

// The day's tick table: engine::DayTableName, the name the loaders give it.
std::string GetFileName(rtl::TDateTime day);

// Whether `symbol` is marked valid ('1') in symbolTable of the module
// database. No query object: true, nothing logged.
bool IsValidProduct(const std::string& symbol, engine::TQuery* query);

// Whether the module database's interval and symbol queries were made; when
// one is missing, logs "Create ... faile For Model <model>" naming it.
bool ModuleQueriesMade(const engine::TQuery* interval, const engine::TQuery* validSymbol,
                       std::string_view model);

// |a - b| < 1e-8.
bool IsDoubleEqual(double a, double b);
// 0 when IsDoubleEqual, else 1 when a > b, -1 when a < b.
int CompareDouble(double a, double b);

}  // namespace hist

#endif  // HISTDATA_DATA_LOOKUPS_H_
