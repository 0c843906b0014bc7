// Messages for a developer from a program that may have no user to show
// them to (a library inside a web server).
#ifndef HISTDATA_PLATFORM_OS_DEBUG_OUTPUT_H_
#define HISTDATA_PLATFORM_OS_DEBUG_OUTPUT_H_

#include <string>

namespace os {

// On Windows the debugger output; elsewhere a line on standard error.
void DebugOutput(const std::string& text);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_DEBUG_OUTPUT_H_
