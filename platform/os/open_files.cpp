#include "platform/os/open_files.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace os {

OpenFileLimit RaiseOpenFileLimit() {
  OpenFileLimit result;
#ifndef _WIN32
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) return result;
  result.before = result.now = files.rlim_cur;
  if (files.rlim_cur < files.rlim_max) {
    rlimit raised = files;
    raised.rlim_cur = files.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) result.now = raised.rlim_cur;
  }
#endif
  return result;
}

}  // namespace os
