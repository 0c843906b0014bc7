// Opening and replacing files the way this system needs them on every
// platform: bytes as they are (no line-end translation), descriptors not
// inherited by child processes of the host.
#ifndef HISTDATA_PLATFORM_OS_FILES_H_
#define HISTDATA_PLATFORM_OS_FILES_H_

#include <string>
#include <string_view>

namespace os {

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
