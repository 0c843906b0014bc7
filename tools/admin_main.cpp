// histdata-admin: creates the stores of the history server, loads CSV files
// into them, derives the SQL stores from the tick tables and makes a sample
// market. Run with --help for the commands.
#include <iostream>
#include <string>
#include <vector>

#include "tools/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return admin::RunAdmin(args, std::cout, std::cerr);
}
