#include "tools/progress.h"

#include <unistd.h>

#include <cstdio>

namespace admin {
namespace {

// Work that ends sooner than this shows no bar at all.
constexpr auto kQuietStart = std::chrono::milliseconds(300);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)),
      enabled_(isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputc('\n', stderr);
}

void ProgressBar::Update(int64_t done, int64_t total) {
  if (!enabled_ || finished_ || total <= 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kQuietStart) return;
  const int percent = static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (drawn_ && (percent == last_percent_ || (now - last_draw_ < kRedrawEvery && percent != 100)))
    return;
  const int filled = percent * kWidth / 100;
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), ' ');
  std::fprintf(stderr, "\r%-10s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
  drawn_ = true;
  last_percent_ = percent;
  last_draw_ = now;
  if (percent == 100) {
    // The line is complete; a bar that follows starts on the next one.
    std::fputc('\n', stderr);
    drawn_ = false;
    finished_ = true;
  }
}

}  // namespace admin
