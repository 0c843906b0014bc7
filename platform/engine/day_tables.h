// The names of the day tables of a tick store: made here for the server, the
// loaders and the drivers alike, so that each finds the tables the others
// made.
#ifndef HISTDATA_PLATFORM_ENGINE_DAY_TABLES_H_
#define HISTDATA_PLATFORM_ENGINE_DAY_TABLES_H_

#include <string>
#include <string_view>

#include "platform/rtl/datetime.h"

namespace engine {

// "hist" + the day as "yymmdd": 4 July 2003 gives hist030704. Only the date
// names the table; a time of day just before midnight does not carry the
// name into the next day.
std::string DayTableName(rtl::TDateTime day);

// Whether `name` is "hist" and six digits; with `any_case`, "hist" in any
// letter case (file names on a store that folds case).
bool IsDayTableName(std::string_view name, bool any_case = false);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_DAY_TABLES_H_
