// Inputs read while they are still being written: standard input, a pipe or
// FIFO, or a regular file that grows and is replaced by log rotation. A
// reader that follows one needs to tell "nothing yet" from "the end", and to
// know a file by its identity rather than by its name, which a rotation
// moves to another file.
#ifndef HISTDATA_PLATFORM_OS_FOLLOWED_INPUT_H_
#define HISTDATA_PLATFORM_OS_FOLLOWED_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace os {

// A file's identity on its volume: the same while it is renamed, another
// for a new file made under the old name.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t file = 0;
  bool operator==(const FileIdentity& o) const { return volume == o.volume && file == o.file; }
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

class FollowedInput {
 public:
  // What Read found.
  static constexpr int64_t kNothingYet = -1;  // no bytes within the wait
  static constexpr int64_t kFailed = -2;      // errno says why

  // Opens `path` for reading ("-": standard input, left open at the end).
  // Null with `error` set to an errno value when it cannot be opened. A
  // FIFO opens at once, with or without a writer.
  static std::unique_ptr<FollowedInput> Open(const std::string& path, int& error);
  ~FollowedInput();
  FollowedInput(const FollowedInput&) = delete;
  FollowedInput& operator=(const FollowedInput&) = delete;

  // A regular file, which can be read again from an offset; otherwise a
  // stream (pipe, FIFO, terminal), read once.
  bool regular() const { return regular_; }
  bool fifo() const { return fifo_; }
  FileIdentity identity() const { return identity_; }
  // A regular file's size now; -1 for a stream.
  int64_t Size() const;
  // A regular file's read position; false when it cannot be moved there.
  bool Seek(int64_t offset);

  // Up to `n` bytes. A stream waits up to `wait_ms` for them; a regular
  // file answers at once. Bytes read (> 0), 0 at the end (a stream's
  // writers are gone; a regular file has no more bytes now), kNothingYet
  // when a stream had none within the wait, kFailed on an error.
  int64_t Read(char* buffer, size_t n, int wait_ms);

 private:
  FollowedInput() = default;
  int fd_ = -1;
  bool own_fd_ = true;
  bool regular_ = false;
  bool fifo_ = false;
  FileIdentity identity_;
};

// The identity of the file at `path` now; false when none is there.
bool IdentityOf(const std::string& path, FileIdentity& out);
// The path of the regular file in `folder` that has `identity` (a rotated
// file under its new name); empty when none has.
std::string FindByIdentity(const std::string& folder, const FileIdentity& identity);

// From now on SIGINT and SIGTERM only ask the program to stop: StopAsked()
// turns true, and a blocking wait in progress ends early.
void AskToStopOnSignals();
bool StopAsked();

// Sleeps for `ms` milliseconds, less when a stop is asked.
void SleepMs(int ms);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_FOLLOWED_INPUT_H_
