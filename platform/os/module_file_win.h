// The file a loaded module was loaded from, as the Windows loader names it.
// Shared by the lookups that need the library's or the executable's path.
#ifndef HISTDATA_PLATFORM_OS_MODULE_FILE_WIN_H_
#define HISTDATA_PLATFORM_OS_MODULE_FILE_WIN_H_
#ifdef _WIN32

#include <string>

#include "platform/os/win32.h"

namespace os {

// Full path of `module`'s file (null: the executable); empty when the loader
// cannot tell or the path is longer than any the platform hands out.
std::string ModuleFileName(HMODULE module);

}  // namespace os

#endif  // _WIN32
#endif  // HISTDATA_PLATFORM_OS_MODULE_FILE_WIN_H_
