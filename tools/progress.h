// A progress bar on stderr for work that takes more than a moment. It draws
// only when stderr is a terminal, so logs and pipes stay clean.
#ifndef HISTDATA_TOOLS_PROGRESS_H_
#define HISTDATA_TOOLS_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace admin {

// Reports `done` out of `total` units of work.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;

class ProgressBar {
 public:
  explicit ProgressBar(std::string label);
  ~ProgressBar();  // ends the line when work stopped short of 100%
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void Update(int64_t done, int64_t total);
  // A ProgressFn that updates this bar.
  ProgressFn Fn() {
    return [this](int64_t done, int64_t total) { Update(done, total); };
  }

 private:
  std::string label_;
  bool enabled_;
  bool drawn_ = false;     // a line is open on stderr
  bool finished_ = false;  // 100% was drawn
  int last_percent_ = -1;
  std::chrono::steady_clock::time_point start_, last_draw_;
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_PROGRESS_H_
