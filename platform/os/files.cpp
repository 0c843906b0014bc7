#include "platform/os/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef _WIN32
#include <io.h>

#include "platform/os/win32.h"
#endif

namespace os {

namespace {

#ifdef _WIN32
// Binary, so that the bytes are read and written as they are: no line-end
// translation, and a Ctrl-Z does not end a file. A FIFO cannot stand in a
// file's place here.
constexpr int kFlags = O_BINARY | O_NOINHERIT;
constexpr int kReadFlags = O_RDONLY | kFlags;

// rename refuses to replace an existing file here; MoveFileEx replaces it
// in one step, but not while a reader has it open: such a reader holds it
// only for one read, so the move is tried again for a while. Sets errno on
// failure, as rename does.
int MoveOver(const char* from, const char* to) {
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
        error != ERROR_LOCK_VIOLATION) {
      break;
    }
    Sleep(10);
  }
  errno = (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION)
              ? EACCES
              : EIO;
  return -1;
}

// mkstemp opens in text mode here.
void PrepareTempFile(int fd) { _setmode(fd, _O_BINARY); }
#else
constexpr int kFlags = O_CLOEXEC;
// Non-blocking, so that a FIFO in the file's place cannot hang the reader.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | kFlags;

int MoveOver(const char* from, const char* to) { return rename(from, to); }

// mkstemp makes the file readable by its owner only; a settings file made
// by other means is readable by all.
void PrepareTempFile(int fd) { fchmod(fd, 0644); }
#endif

}  // namespace

int OpenForReading(const std::string& path) { return open(path.c_str(), kReadFlags); }

int OpenForAppend(const std::string& path, bool truncate) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | kFlags | (truncate ? O_TRUNC : 0),
              0644);
}

int ReplaceFileContents(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return errno;
  PrepareTempFile(fd);
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      close(fd);
      unlink(temp.c_str());
      return err;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (close(fd) != 0 || MoveOver(temp.c_str(), path.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    return err;
  }
  return 0;
}

}  // namespace os
