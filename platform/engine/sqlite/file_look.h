// What one look at a database file and its write-ahead log finds: enough to
// tell, without opening either, whether anything wrote to them since an
// earlier look. What the caches of this process keep of a file it only
// reads is checked against it.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_FILE_LOOK_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_FILE_LOOK_H_

#include <cstdint>
#include <string>

#include "platform/os/files.h"

namespace engine::sqlite {

struct FileLook {
  bool file = false;  // the file is there, and a regular one
  bool log = false;
  os::FileVersion file_version, log_version;
  bool operator==(const FileLook& o) const {
    return file == o.file && log == o.log && file_version == o.file_version && log_version == o.log_version;
  }
  bool operator!=(const FileLook& o) const { return !(*this == o); }
};

// Looks at the file at `path` and the log at `log_path`.
FileLook LookAtFile(const std::string& path, const std::string& log_path);

// Whether the file is there and it and its log had been left alone for a
// second when looked at. File times have the grain of the kernel's clock
// tick (os::LeftAloneFor), so a write in the same tick as a read may leave
// the version unchanged: only what was read from a settled file may be kept.
bool Settled(const FileLook& look);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_FILE_LOOK_H_
