// The feed runs where the loader does, on Linux: the Windows side ships
// the extension library alone.
#ifndef _WIN32

#include "platform/os/followed_input.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>

namespace os {
namespace {

std::atomic<bool> g_stop{false};

void OnStopSignal(int) { g_stop.store(true); }

}  // namespace

std::unique_ptr<FollowedInput> FollowedInput::Open(const std::string& path, int& error) {
  std::unique_ptr<FollowedInput> input(new FollowedInput);
  if (path == "-") {
    input->fd_ = STDIN_FILENO;
    input->own_fd_ = false;
  } else {
    // Non-blocking, so that opening a FIFO does not wait for its writer;
    // reads wait in poll() instead.
    input->fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (input->fd_ < 0) {
      error = errno;
      return nullptr;
    }
  }
  struct stat st;
  if (::fstat(input->fd_, &st) != 0) {
    error = errno;
    return nullptr;
  }
  if (S_ISDIR(st.st_mode)) {
    error = EISDIR;
    return nullptr;
  }
  // Standard input is read once, whatever it is.
  input->regular_ = S_ISREG(st.st_mode) && path != "-";
  input->fifo_ = S_ISFIFO(st.st_mode) && path != "-";
  input->identity_ = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return input;
}

FollowedInput::~FollowedInput() {
  if (fd_ >= 0 && own_fd_) ::close(fd_);
}

int64_t FollowedInput::Size() const {
  struct stat st;
  if (!regular_ || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool FollowedInput::Seek(int64_t offset) {
  return regular_ && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

int64_t FollowedInput::Read(char* buffer, size_t n, int wait_ms) {
  if (!regular_) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait_ms);
    if (ready < 0) return errno == EINTR ? kNothingYet : kFailed;
    if (ready == 0) return kNothingYet;
  }
  for (;;) {
    const ssize_t got = ::read(fd_, buffer, n);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingYet;
    return kFailed;
  }
}

bool IdentityOf(const std::string& path, FileIdentity& out) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  out = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

std::string FindByIdentity(const std::string& folder, const FileIdentity& identity) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return "";
  std::string found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string path = (folder.empty() ? "." : folder) + "/" + entry->d_name;
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_dev) == identity.volume &&
        static_cast<uint64_t>(st.st_ino) == identity.file) {
      found = path;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

void AskToStopOnSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking wait ends at the signal
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool StopAsked() { return g_stop.load(); }

void SleepMs(int ms) {
  if (ms <= 0 || StopAsked()) return;
  timespec t{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  ::nanosleep(&t, nullptr);
}

}  // namespace os

#endif  // _WIN32
