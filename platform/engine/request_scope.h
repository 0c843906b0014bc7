// Which request the calling thread is serving, as far as the stores care.
//
// A physical connection that has not been used yet in the current request
// may have gone stale while it waited (a store restarted, a replica lost):
// when its first statement finds it broken, the driver reconnects and runs
// that statement again once, so a restart between requests is invisible to
// clients. Once a connection has answered in a request, a later failure is
// an ordinary store error: the request's own rules (mode 1's tries) apply.
#ifndef HISTDATA_PLATFORM_ENGINE_REQUEST_SCOPE_H_
#define HISTDATA_PLATFORM_ENGINE_REQUEST_SCOPE_H_

#include <cstdint>

namespace engine {

// Marks the start of a request on the calling thread. Work done before the
// first call, or on a thread that never calls it (the loader), belongs to
// request 0.
void BeginRequest();

// A number unique to the calling thread's current request, process-wide.
uint64_t CurrentRequest();

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_REQUEST_SCOPE_H_
