// The feed runs where the loader does, on Linux: the Windows side ships
// the extension library alone.
#ifndef _WIN32

#include "platform/os/thread_priority.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

namespace os {

int64_t ThisThreadId() { return static_cast<int64_t>(::gettid()); }

bool MayLeaveIdle() {
  // Linux lets a thread leave the idle class when it could lower its nice
  // value to the present one: the limit allows nice values down to
  // 20 - RLIMIT_NICE.
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, 0);  // the calling thread's
  if (nice == -1 && errno != 0) return false;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NICE, &limit) == 0 &&
      (limit.rlim_cur == RLIM_INFINITY || static_cast<rlim_t>(20 - nice) <= limit.rlim_cur)) {
    return true;
  }
  // Otherwise only CAP_SYS_NICE allows it; it also allows one step below
  // the present value, which is taken back at once.
  if (nice > -20 && ::setpriority(PRIO_PROCESS, 0, nice - 1) == 0) {
    ::setpriority(PRIO_PROCESS, 0, nice);
    return true;
  }
  return false;
}

bool SetIdle(int64_t thread, bool idle) {
  const sched_param param{};  // priority 0, the only one of both classes
  return ::sched_setscheduler(static_cast<pid_t>(thread), idle ? SCHED_IDLE : SCHED_OTHER, &param) == 0;
}

bool IsIdle(int64_t thread) { return ::sched_getscheduler(static_cast<pid_t>(thread)) == SCHED_IDLE; }

}  // namespace os

#endif  // _WIN32
