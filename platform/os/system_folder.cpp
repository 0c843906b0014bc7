#include "platform/os/system_folder.h"

#ifdef _WIN32
#include "platform/os/win32.h"
#else
#include <cstdlib>
#endif

namespace os {

#ifdef _WIN32

std::string SystemSettingsFolder() {
  std::string folder(MAX_PATH, '\0');
  UINT n = GetWindowsDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
  if (n >= folder.size()) {
    // Too small: n is the size needed, terminating zero included.
    folder.resize(n);
    n = GetWindowsDirectoryA(folder.data(), static_cast<UINT>(folder.size()));
    if (n >= folder.size()) n = 0;
  }
  folder.resize(n);
  // Only a drive's root ("C:\") keeps its separator.
  while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
         folder[folder.size() - 2] != ':') {
    folder.pop_back();
  }
  return folder;
}

#else

std::string SystemSettingsFolder() {
  const char* dir = std::getenv("HISTDATA_SYSCONF_DIR");
  std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/etc/histdata";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

#endif

}  // namespace os
