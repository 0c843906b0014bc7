// Pacing: a writer that runs beside latency-bound work on the same cores
// (the live feed beside the server) gives the CPU away between short
// slices of its work, so that a request never waits long behind it.
//
// A scheduler lets a thread that has work run until its time slice ends,
// several milliseconds, and a commit of a feed's batch alone is some 10 ms
// of CPU: a request that arrives meanwhile waits that long, whatever the
// writer's priority. A paced thread instead steps aside, at points where
// that is safe, each time it has run a slice of `slice_us`; the threads
// waiting for a core run first, and the writer goes on where it was. Its
// CPU time stays the same.
//
// The writing loops of the engine (TickWriter) and SQLite's file layer
// call Pace(); for a thread that is not paced it is a test of one
// thread-local value.
#ifndef HISTDATA_PLATFORM_ENGINE_PACING_H_
#define HISTDATA_PLATFORM_ENGINE_PACING_H_

namespace engine {

// Paces the calling thread from now on with slices of `slice_us`
// microseconds; 0 stops pacing it.
void PaceThisThread(int slice_us);

// Gives the CPU to other threads waiting for one when the calling thread
// is paced and has run a slice since it last did.
void Pace();

}  // namespace engine

#endif  // HISTDATA_PLATFORM_ENGINE_PACING_H_
