// The threads that run the HTTP host's handlers: made as requests need them,
// up to a bound, and kept for the next request once their handler returns,
// so that a complete request starts at once while fewer than the bound run.
#ifndef HISTDATA_PLATFORM_HTTP_WORKER_POOL_H_
#define HISTDATA_PLATFORM_HTTP_WORKER_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace httphost {

class WorkerPool {
 public:
  explicit WorkerPool(size_t max_threads);
  // Stops (see Stop).
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs `task` on an idle thread, else on a new one; with max_threads
  // already busy it waits for the first to be free. False once stopped (the
  // task is not run), or when no thread can be made and none exists.
  bool Run(std::function<void()> task);
  // Tasks waiting for a thread.
  size_t Queued() {
    std::lock_guard<std::mutex> guard(lock_);
    return tasks_.size();
  }
  // Lets the waiting and running tasks end, then joins every thread.
  void Stop();

 private:
  void Work();

  const size_t max_threads_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;  // under lock_
  std::vector<std::thread> threads_;         // under lock_
  size_t idle_ = 0;                          // threads waiting for a task
  bool stopping_ = false;
};

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_WORKER_POOL_H_
