// Statement text helpers shared by the engine objects and the drivers:
// splitting a statement at its named parameters and comparing names.
#ifndef HISTDATA_PLATFORM_ENGINE_SQL_TEXT_H_
#define HISTDATA_PLATFORM_ENGINE_SQL_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/engine/driver.h"

namespace engine {

struct ParsedStatement {
  Statement statement;             // pieces around the placeholders
  std::vector<std::string> names;  // the parameter of each placeholder, in order
};

// Finds the ":name" parameters of `text` (a name is letters, digits and
// "_"). Quoted strings, quoted identifiers and comments are copied unchanged;
// "::" (a cast) is not a parameter.
ParsedStatement ParseNamedParameters(std::string_view text);

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_SQL_TEXT_H_
