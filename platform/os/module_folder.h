// The folder of the code that is running: the shared library that holds
// this code when it was loaded as one, else the executable.
#ifndef HISTDATA_PLATFORM_OS_MODULE_FOLDER_H_
#define HISTDATA_PLATFORM_OS_MODULE_FOLDER_H_

#include <string>

namespace os {

// Absolute folder without a trailing separator ("/" stays "/", as a Windows
// drive's root "C:\" does); empty when the platform cannot tell.
std::string ModuleFolder();

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_MODULE_FOLDER_H_
