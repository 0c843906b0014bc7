#include "platform/http/worker_pool.h"

#include <system_error>
#include <utility>

namespace httphost {

WorkerPool::WorkerPool(size_t max_threads) : max_threads_(max_threads > 0 ? max_threads : 1) {}

WorkerPool::~WorkerPool() { Stop(); }

bool WorkerPool::Run(std::function<void()> task) {
  std::lock_guard<std::mutex> guard(lock_);
  if (stopping_) return false;
  tasks_.push_back(std::move(task));
  // Each waiting thread takes one task, so a new thread is needed only when
  // the tasks outnumber them; a thread woken but not yet running still
  // counts as waiting, which keeps two quick tasks from sharing it.
  if (idle_ >= tasks_.size()) {
    wake_.notify_one();
    return true;
  }
  if (threads_.size() < max_threads_) {
    try {
      threads_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Out of threads: the task waits for one that exists, if any.
      if (threads_.empty()) {
        tasks_.pop_back();
        return false;
      }
    }
  }
  return true;
}

void WorkerPool::Work() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    if (tasks_.empty()) {
      if (stopping_) return;
      ++idle_;
      wake_.wait(guard, [this] { return !tasks_.empty() || stopping_; });
      --idle_;
      continue;
    }
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    guard.unlock();
    task();
    task = nullptr;  // what the task holds goes before the next wait
    guard.lock();
  }
}

void WorkerPool::Stop() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    threads.swap(threads_);
  }
  wake_.notify_all();
  for (std::thread& t : threads) t.join();
}

}  // namespace httphost
