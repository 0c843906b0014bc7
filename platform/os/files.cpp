#include "platform/os/files.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
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

// File times count 100 ns steps from 1601.
constexpr int64_t kEpochSteps = 116444736000000000LL;

int64_t FileTimeNs(const FILETIME& t) {
  const int64_t steps =
      static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  return (steps - kEpochSteps) * 100;
}

// The handle's file index and volume serial stand for the device and inode;
// the creation time stands for the change time, which this file system
// does not keep.
bool HandleVersion(HANDLE h, FileVersion& out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (h == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      GetFileType(h) != FILE_TYPE_DISK) {
    return false;
  }
  out.volume = info.dwVolumeSerialNumber;
  out.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  out.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  out.modified_ns = FileTimeNs(info.ftLastWriteTime);
  out.changed_ns = FileTimeNs(info.ftCreationTime);
  return true;
}
#else
constexpr int kFlags = O_CLOEXEC;
// Non-blocking, so that a FIFO in the file's place cannot hang the reader.
constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | kFlags;

int MoveOver(const char* from, const char* to) { return rename(from, to); }

// mkstemp makes the file readable by its owner only; a settings file made
// by other means is readable by all.
void PrepareTempFile(int fd) { fchmod(fd, 0644); }

int64_t Ns(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The version of what `st` describes, when it is of the kind `mode`
// (S_IFREG, S_IFDIR).
bool StatVersion(const struct stat& st, FileVersion& out, mode_t mode = S_IFREG) {
  if ((st.st_mode & S_IFMT) != mode) return false;
  out.volume = static_cast<uint64_t>(st.st_dev);
  out.file = static_cast<uint64_t>(st.st_ino);
  out.size = static_cast<uint64_t>(st.st_size);
  out.modified_ns = Ns(st.st_mtim);
  out.changed_ns = Ns(st.st_ctim);
  return true;
}
#endif

}  // namespace

int OpenForReading(const std::string& path) { return open(path.c_str(), kReadFlags); }

#ifdef _WIN32
bool RegularFileVersion(int fd, FileVersion& out) {
  return HandleVersion(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), out);
}

bool RegularFileVersion(const std::string& path, FileVersion& out) {
  // Attributes only: no read access is asked, and every kind of sharing is
  // allowed, so that a writer or a replacing move is never held up.
  HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = HandleVersion(h, out);
  CloseHandle(h);
  return ok;
}

PathKind LookAt(const std::string& path, FileVersion& version) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kFolder;
  return RegularFileVersion(path, version) ? PathKind::kRegularFile : PathKind::kOther;
}

bool FolderVersion(const std::string&, FileVersion&) { return false; }

bool VersionMovesWithEachWrite() { return false; }

int64_t FileClockNow() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return FileTimeNs(now);
}
#else
bool RegularFileVersion(int fd, FileVersion& out) {
  struct stat st;
  return fstat(fd, &st) == 0 && StatVersion(st, out);
}

bool RegularFileVersion(const std::string& path, FileVersion& out) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && StatVersion(st, out);
}

PathKind LookAt(const std::string& path, FileVersion& version) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  return StatVersion(st, version) ? PathKind::kRegularFile : PathKind::kOther;
}

bool FolderVersion(const std::string& path, FileVersion& out) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && StatVersion(st, out, S_IFDIR);
}

bool VersionMovesWithEachWrite() { return true; }

int64_t FileClockNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return Ns(now);
}
#endif

bool LeftAloneFor(const FileVersion& v, int64_t ns) {
  const int64_t now = FileClockNow();
  return now - v.modified_ns >= ns && now - v.changed_ns >= ns;
}

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
