// Opening and replacing files the way this system needs them on every
// platform: bytes as they are (no line-end translation), descriptors not
// inherited by child processes of the host.
#ifndef HISTDATA_PLATFORM_OS_FILES_H_
#define HISTDATA_PLATFORM_OS_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace os {

// What tells one version of a regular file from another without reading
// it: the file's identity on its volume, its size and the times of its
// last changes, in nanoseconds since 1970 (to the file system's step).
struct FileVersion {
  uint64_t volume = 0;
  uint64_t file = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;
  int64_t changed_ns = 0;

  bool operator==(const FileVersion& o) const {
    return volume == o.volume && file == o.file && size == o.size &&
           modified_ns == o.modified_ns && changed_ns == o.changed_ns;
  }
  bool operator!=(const FileVersion& o) const { return !(*this == o); }
};

// The version of the open file `fd`, or of the file at `path`; false when
// it is not a regular file (or not there).
bool RegularFileVersion(int fd, FileVersion& out);
bool RegularFileVersion(const std::string& path, FileVersion& out);

// The version of the folder at `path`, whose modification time moves when
// an entry comes, goes or is renamed. False when it is not a folder, or
// where the system's folder times do not say so (Windows).
bool FolderVersion(const std::string& path, FileVersion& out);

// What one look at `path` finds; for a regular file, its version too.
enum class PathKind { kMissing, kFolder, kRegularFile, kOther };
PathKind LookAt(const std::string& path, FileVersion& version);

// Now, by the clock that stamps file times, in nanoseconds since 1970.
int64_t FileClockNow();

// Whether the file of version `v` was last written (or its entry changed)
// at least `ns` ago. File times have the grain of the kernel's clock tick,
// so two writes within one tick can leave one version: what was read of a
// file is only worth keeping by its version once the file has been left
// alone for longer than that.
bool LeftAloneFor(const FileVersion& v, int64_t ns);

// Whether a file's version moves at each write to it, even while its writer
// keeps it open, so that an unchanged version means unchanged content under
// another process's writes. Not on Windows, where the times of a file
// written through a handle may be stamped only when that handle closes.
bool VersionMovesWithEachWrite();

// Opens `path` for reading; a descriptor, or -1 with errno set. A FIFO in
// the file's place does not block the open.
int OpenForReading(const std::string& path);

// Opens `path` for appending, creating it (readable by all) when missing
// and emptying it when `truncate`; a descriptor, or -1 with errno set.
int OpenForAppend(const std::string& path, bool truncate);

// Writes `bytes` to a temporary file beside `path`, then moves it over
// `path` in one step, so that a concurrent reader sees the old file or the
// new one, never half of it. 0 on success, else an errno value; the
// temporary file is gone either way.
int ReplaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_FILES_H_
