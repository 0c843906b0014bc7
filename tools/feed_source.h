// Where a feed's lines come from, and how far it has read: standard input,
// a FIFO, or a file that grows, followed across rotation the way `tail -F`
// follows one (the file under the name is replaced: the old one is read to
// its end, then the new one from its start; the file is cut short: it is
// read again from its start). A gzip file is read once to its end.
#ifndef HISTDATA_TOOLS_FEED_SOURCE_H_
#define HISTDATA_TOOLS_FEED_SOURCE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/os/followed_input.h"
#include "tools/gzip_input.h"

namespace admin {

// How far a source has been read: what a feed commits with the ticks
// before it, and resumes from.
struct SourcePosition {
  int64_t seq = 0;         // lines taken from the source since it was first fed
  os::FileIdentity file;   // the file being read (zero for a stream)
  int64_t offset = 0;      // bytes of that file (uncompressed) taken
  int64_t line = 0;        // lines of that file taken
};

struct SourceOptions {
  // Stop at the end of what is there instead of waiting for more (a file
  // read to its current end; a FIFO whose writer left).
  bool until_end = false;
  // A stream restarted after a stop begins again from its first line (a
  // replay), so the lines already committed are skipped; otherwise it goes
  // on after them.
  bool stream_replays = true;
};

class LineSource {
 public:
  enum class Got { kLine, kNothingYet, kEnd };

  // Raises std::runtime_error when `path` ("-": standard input) cannot be
  // opened.
  LineSource(std::string path, SourceOptions options);

  // Moves to a committed position. `note` tells an operator what was done
  // when that was not a plain resume (a file rotated or cut since).
  void Resume(const SourcePosition& from, std::string& note);

  // The next complete line, without its line end, waiting up to `wait_ms`
  // for it; the line stays valid until the next call. A last line without
  // a line end counts once its file has ended or been replaced.
  Got Next(std::string_view& line, int wait_ms);

  // Just after the last line returned.
  const SourcePosition& position() const { return position_; }
  // The file being read, for messages ("-" for standard input).
  const std::string& current_name() const { return current_name_; }
  bool stream() const { return gzip_ == nullptr && (input_ == nullptr || !input_->regular()); }
  // Bytes there to read beyond the position (a file), or -1 (unknown).
  int64_t Backlog() const;
  // What the last move to another file was, once; empty when none.
  std::string TakeNote() { return std::exchange(rotation_note_, std::string()); }
  // Calls `caught_up(wait_ms)` whenever a read finds nothing there yet,
  // the reader having caught up with the writer, before it waits up to
  // wait_ms for more.
  void OnCaughtUp(std::function<void(int)> caught_up) { caught_up_ = std::move(caught_up); }

 private:
  void OpenPath();
  bool Fill(int wait_ms, bool& ended);
  bool Rotated(std::string& note);
  std::string_view Take(size_t length, size_t skip);

  std::string path_;
  SourceOptions options_;
  std::unique_ptr<os::FollowedInput> input_;
  std::unique_ptr<GzipFile> gzip_;
  std::string current_name_;
  bool reading_rotated_ = false;  // input_ is a rotated file read to its end
  std::string buffer_;
  size_t begin_ = 0;   // first byte of buffer_ not yet returned
  size_t scanned_ = 0; // bytes after begin_ known to hold no line end
  int64_t skip_lines_ = 0;  // lines of a replayed stream still to skip
  SourcePosition position_;
  std::string rotation_note_;
  std::function<void(int)> caught_up_;
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_FEED_SOURCE_H_
