// histdata-admin: creates, loads and derives the stores of the history server.
#include <cstdio>

int main() {
  std::fputs("usage: histdata-admin COMMAND --data-dir DIR [--aliases FILE]\n", stderr);
  return 2;
}
