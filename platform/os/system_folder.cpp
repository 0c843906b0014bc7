#include "platform/os/system_folder.h"

#include <cstdlib>

namespace os {

std::string SystemSettingsFolder() {
  const char* dir = std::getenv("HISTDATA_SYSCONF_DIR");
  std::string folder = (dir != nullptr && *dir != '\0') ? dir : "/etc/histdata";
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace os
