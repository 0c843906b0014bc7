// How many files (sockets included) the process may hold open.
#ifndef HISTDATA_PLATFORM_OS_OPEN_FILES_H_
#define HISTDATA_PLATFORM_OS_OPEN_FILES_H_

#include <cstdint>

namespace os {

struct OpenFileLimit {
  uint64_t before = 0;  // the soft limit found
  uint64_t now = 0;     // the soft limit in force; 0 where there is none
};

// Raises the soft limit of open files to the hard limit, so that a server
// can hold as many connections as the system allows it. Where the platform
// has no such limit (Windows) both values are 0.
OpenFileLimit RaiseOpenFileLimit();

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_OPEN_FILES_H_
