// Free lookups shared by the generators.
#include "data/lookups.h"

#include <cmath>

#include "log/zetUtilities.h"
#include "platform/engine/day_tables.h"

namespace hist {

std::string GetFileName(rtl::TDateTime day) { return engine::DayTableName(day); }

bool IsValidProduct(const std::string& symbol, engine::TQuery* query) {
  if (query == nullptr) return true;
  query->Close();
  query->ClearSQL();
  zetlog::Log("IsValidSymbolQuery.Close");
  query->SetSQL("select * from symbolTable where symbol = :symbol and isValid = '1'");
  query->ParamByName("Symbol").SetAsString(symbol);
  query->Open();
  zetlog::Log("IsValidSymbolQuery.Open");
  // The rows are walked to the end; the query stays open there.
  bool found = false;
  while (!query->Eof()) {
    found = true;
    query->Next();
  }
  return found;
}

bool ModuleQueriesMade(const engine::TQuery* interval, const engine::TQuery* validSymbol,
                       std::string_view model) {
  if (interval == nullptr) {
    zetlog::Log("Create Interval Query  faile For Model " + std::string(model));
    return false;
  }
  if (validSymbol == nullptr) {
    zetlog::Log("Create FIsValidSymbolQuery Query  faile For Model " + std::string(model));
    return false;
  }
  return true;
}

bool IsDoubleEqual(double a, double b) {
  // Taken in extended precision so that values a hair apart at the scale of
  // date-times (tens of thousands of days) still compare as the store meant.
  constexpr long double kTolerance = 1e-8L;
  return std::fabs(static_cast<long double>(a) - static_cast<long double>(b)) < kTolerance;
}

int CompareDouble(double a, double b) {
  if (IsDoubleEqual(a, b)) return 0;
  return a > b ? 1 : -1;
}

}  // namespace hist
