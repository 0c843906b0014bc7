// A thread that takes only the CPU time nothing else wants (Linux's idle
// scheduling class) and that can be put back to its normal priority, for
// background work beside a latency-bound server on the same cores.
//
// Leaving the idle class needs the right to run at the thread's nice value
// again: CAP_SYS_NICE, or an RLIMIT_NICE that allows it. A thread put into
// the idle class without that right stays there for good, so a caller asks
// MayLeaveIdle() first.
#ifndef HISTDATA_PLATFORM_OS_THREAD_PRIORITY_H_
#define HISTDATA_PLATFORM_OS_THREAD_PRIORITY_H_

#include <cstdint>

namespace os {

// The calling thread's id, by which another thread of the process may move
// it between the classes.
int64_t ThisThreadId();

// Whether the calling thread could be moved out of the idle class again.
bool MayLeaveIdle();

// Puts thread `thread` (of this process) into the idle class, or back into
// the normal one at its nice value. False when the system refuses.
bool SetIdle(int64_t thread, bool idle);

// Whether thread `thread` is in the idle class now.
bool IsIdle(int64_t thread);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_THREAD_PRIORITY_H_
