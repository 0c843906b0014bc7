// What one look at a database file and its write-ahead log finds: enough to
// tell, without opening either, whether anything wrote to them since an
// earlier look. What this process keeps of a file it only reads (the
// answers of result_cache.h, the packs of engine/pack_cache.h) is checked
// against it.
#ifndef HISTDATA_PLATFORM_ENGINE_SQLITE_FILE_LOOK_H_
#define HISTDATA_PLATFORM_ENGINE_SQLITE_FILE_LOOK_H_

#include <cstdint>
#include <functional>
#include <string>

#include "platform/engine/pack_cache.h"
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

// The pack that `key` names (its table and folded symbol) in the SQLite
// file at `path`, whose write-ahead log is at `log_path`, into `bytes`;
// false when there is none. A kept answer while neither file has changed
// since it was read, else `read(bytes)`'s, which is kept when the file had
// been left alone for a second before (Settled). Where a file's version does
// not tell whether another process wrote it, every call reads.
bool ReadFilePack(engine::PackCache& cache, const std::string& path, const std::string& log_path,
                  const std::string& key, std::string& bytes, const std::function<bool(std::string&)>& read);

}  // namespace engine::sqlite

#endif  // HISTDATA_PLATFORM_ENGINE_SQLITE_FILE_LOOK_H_
