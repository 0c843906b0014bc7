// Where the machine-wide settings of this system live.
#ifndef HISTDATA_PLATFORM_OS_SYSTEM_FOLDER_H_
#define HISTDATA_PLATFORM_OS_SYSTEM_FOLDER_H_

#include <string>

namespace os {

// On Windows the Windows folder. Elsewhere "/etc/histdata", or the folder
// named by the environment variable HISTDATA_SYSCONF_DIR when it is set and
// not empty. No trailing separator (a drive's root "C:\" keeps it). Asked
// afresh on every call so that a changed environment takes effect.
std::string SystemSettingsFolder();

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_SYSTEM_FOLDER_H_
