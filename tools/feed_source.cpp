#include "tools/feed_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace admin {
namespace {

constexpr size_t kReadChunk = 1 << 20;
// A line longer than this is given out cut (and rejected as a tick), so
// that a file without line ends cannot grow the buffer without bound.
constexpr size_t kMaxLine = 1 << 20;
// How often the end of a followed file is looked at again.
constexpr int kFollowPollMs = 10;

}  // namespace

LineSource::LineSource(std::string path, SourceOptions options)
    : path_(std::move(path)), options_(options) {
  OpenPath();
}

void LineSource::OpenPath() {
  current_name_ = path_;
  reading_rotated_ = false;
  input_.reset();
  gzip_.reset();
  buffer_.clear();
  begin_ = scanned_ = 0;
  position_.file = {};
  if (path_ != "-" && IsGzipPath(path_)) {
    gzip_ = std::make_unique<GzipFile>(path_);
    os::IdentityOf(path_, position_.file);
  } else {
    int error = 0;
    input_ = os::FollowedInput::Open(path_, error);
    if (input_ == nullptr) throw std::runtime_error(path_ + ": cannot open: " + std::strerror(error));
    if (input_->regular()) position_.file = input_->identity();
  }
  position_.offset = 0;
  position_.line = 0;
}

void LineSource::Resume(const SourcePosition& from, std::string& note) {
  if (stream()) {
    if (options_.stream_replays) {
      // The lines are counted again as they are skipped.
      skip_lines_ = from.seq;
      if (from.seq > 0) note = "skipping the " + std::to_string(from.seq) + " lines committed before";
    } else {
      position_.seq = from.seq;
      if (from.seq > 0) note = "going on after line " + std::to_string(from.seq);
    }
    return;
  }
  position_.seq = from.seq;
  if (from.file == os::FileIdentity{}) return;
  if (gzip_ != nullptr) {
    if (from.file == position_.file && gzip_->SkipTo(from.offset)) {
      position_.offset = from.offset;
      position_.line = from.line;
    } else {
      OpenPath();
      note = path_ + " is not the file of the committed position: read from its start";
    }
    return;
  }
  if (from.file == input_->identity()) {
    if (input_->Size() >= from.offset && input_->Seek(from.offset)) {
      position_.offset = from.offset;
      position_.line = from.line;
    } else {
      note = path_ + " is shorter than the committed position: read again from its start";
    }
    return;
  }
  // Rotated since the commit: the rest of the old file comes first.
  const std::string folder = std::filesystem::path(path_).parent_path().string();
  const std::string old = os::FindByIdentity(folder, from.file);
  int error = 0;
  std::unique_ptr<os::FollowedInput> old_input =
      old.empty() ? nullptr : os::FollowedInput::Open(old, error);
  if (old_input != nullptr && old_input->regular() && old_input->identity() == from.file &&
      old_input->Size() >= from.offset && old_input->Seek(from.offset)) {
    input_ = std::move(old_input);
    current_name_ = old;
    reading_rotated_ = true;
    position_.file = from.file;
    position_.offset = from.offset;
    position_.line = from.line;
    note = "finishing " + old + " (rotated away from " + path_ + "), then " + path_;
    return;
  }
  note = "the file of the committed position is gone: reading " + path_ + " from its start";
}

std::string_view LineSource::Take(size_t length, size_t skip) {
  std::string_view line(buffer_.data() + begin_, length);
  begin_ += length + skip;
  scanned_ = 0;
  position_.offset += static_cast<int64_t>(length + skip);
  ++position_.line;
  ++position_.seq;
  return line;
}

bool LineSource::Fill(int wait_ms, bool& ended) {
  ended = false;
  if (begin_ > 0) {
    buffer_.erase(0, begin_);
    begin_ = 0;
  }
  const size_t old_size = buffer_.size();
  buffer_.resize(old_size + kReadChunk);
  int64_t got;
  if (gzip_ != nullptr) {
    try {
      got = static_cast<int64_t>(gzip_->Read(buffer_.data() + old_size, kReadChunk));
    } catch (...) {
      buffer_.resize(old_size);
      throw;
    }
    if (got == 0) ended = true;
  } else {
    // A stream is first asked without waiting, so that "nothing there yet"
    // is known even when a line comes within the wait.
    got = input_->Read(buffer_.data() + old_size, kReadChunk, 0);
    if (got == os::FollowedInput::kNothingYet && !input_->regular()) {
      if (caught_up_) caught_up_(wait_ms);
      if (wait_ms > 0) got = input_->Read(buffer_.data() + old_size, kReadChunk, wait_ms);
    }
  }
  buffer_.resize(old_size + static_cast<size_t>(std::max<int64_t>(got, 0)));
  if (got > 0) return true;
  if (got == os::FollowedInput::kFailed) {
    throw std::runtime_error(current_name_ + ": cannot read: " + std::strerror(errno));
  }
  if (got == 0 && gzip_ == nullptr && !input_->regular()) {
    if (input_->fifo() && !options_.until_end) {
      // The writer left; the next one opens the FIFO again.
      int error = 0;
      auto again = os::FollowedInput::Open(path_, error);
      if (again == nullptr) throw std::runtime_error(path_ + ": cannot open: " + std::strerror(error));
      input_ = std::move(again);
    } else {
      ended = true;
    }
  }
  return false;
}

// At the end of a regular file: whether the name now leads to another file
// (or the file was cut short), and the move to it.
bool LineSource::Rotated(std::string& note) {
  if (reading_rotated_) {
    OpenPath();
    return true;
  }
  os::FileIdentity now;
  if (os::IdentityOf(path_, now) && now != input_->identity()) {
    int error = 0;
    auto next = os::FollowedInput::Open(path_, error);
    if (next == nullptr) return false;  // gone again in between: look later
    OpenPath();
    note = path_ + " was replaced (rotated); reading the new file";
    return true;
  }
  const int64_t unread = static_cast<int64_t>(buffer_.size() - begin_);
  if (input_->Size() >= 0 && input_->Size() < position_.offset + unread) {
    input_->Seek(0);
    buffer_.clear();
    begin_ = scanned_ = 0;
    position_.offset = 0;
    position_.line = 0;
    note = path_ + " was cut short (truncated); reading it again from its start";
    return true;
  }
  return false;
}

LineSource::Got LineSource::Next(std::string_view& line, int wait_ms) {
  for (;;) {
    const size_t end = buffer_.find('\n', begin_ + scanned_);
    if (end != std::string::npos) {
      line = Take(end - begin_, 1);
      if (skip_lines_ > 0) {
        --skip_lines_;
        continue;
      }
      return Got::kLine;
    }
    scanned_ = buffer_.size() - begin_;
    if (scanned_ >= kMaxLine) {
      line = Take(scanned_, 0);
      return Got::kLine;
    }
    bool ended = false;
    if (Fill(wait_ms, ended)) continue;
    const bool at_file_end = !ended && gzip_ == nullptr && input_->regular();
    if (at_file_end) {
      // A file that was replaced ends here: its last line counts even
      // without a line end, then the next file is read.
      std::string note;
      os::FileIdentity now;
      const bool moving = reading_rotated_ ||
                          (os::IdentityOf(path_, now) && now != input_->identity());
      if (moving && scanned_ > 0) {
        line = Take(scanned_, 0);
        return Got::kLine;
      }
      if (Rotated(note)) {
        rotation_note_ = note;
        continue;
      }
      if (!options_.until_end) {
        if (caught_up_) caught_up_(std::min(wait_ms, kFollowPollMs));
        os::SleepMs(std::min(wait_ms, kFollowPollMs));
        return Got::kNothingYet;
      }
      ended = true;
    }
    if (!ended) return Got::kNothingYet;
    if (scanned_ > 0) {
      line = Take(scanned_, 0);
      if (skip_lines_ > 0) {
        --skip_lines_;
        continue;
      }
      return Got::kLine;
    }
    return Got::kEnd;
  }
}

int64_t LineSource::Backlog() const {
  if (gzip_ != nullptr || input_ == nullptr || !input_->regular()) return -1;
  const int64_t size = input_->Size();
  return size < 0 ? -1 : std::max<int64_t>(0, size - position_.offset);
}

}  // namespace admin
