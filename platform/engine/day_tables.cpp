#include "platform/engine/day_tables.h"

#include <cmath>

#include "platform/rtl/text.h"

namespace engine {

std::string DayTableName(rtl::TDateTime day) {
  std::string name = "hist";
  rtl::AppendDateTime(name, "yymmdd", std::trunc(day));
  return name;
}

bool IsDayTableName(std::string_view name, bool any_case) {
  if (name.size() != 10) return false;
  const std::string_view prefix = name.substr(0, 4);
  if (any_case ? !rtl::SameText(prefix, "hist") : prefix != "hist") return false;
  for (size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  return true;
}

}  // namespace engine
