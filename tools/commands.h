// The command line of histdata-admin: parses the arguments, configures the
// aliases and runs one command. Kept apart from main() so that tests can
// run it.
#ifndef HISTDATA_TOOLS_COMMANDS_H_
#define HISTDATA_TOOLS_COMMANDS_H_

#include <ostream>
#include <string>
#include <vector>

namespace admin {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a store or a file refused
inline constexpr int kExitUsage = 2;   // the command line is wrong

// `args` are the arguments after the program name. Reports go to `out`,
// errors and usage texts to `err`; progress bars go to stderr when it is a
// terminal.
int RunAdmin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text.
std::string AdminUsage();

}  // namespace admin

#endif  // HISTDATA_TOOLS_COMMANDS_H_
