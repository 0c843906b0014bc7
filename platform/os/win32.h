// The Windows API as the Windows files of this folder (and their tests)
// take it: without its rarely used parts, and without the min and max
// macros that would break std::min and std::max.
#ifndef HISTDATA_PLATFORM_OS_WIN32_H_
#define HISTDATA_PLATFORM_OS_WIN32_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#endif  // HISTDATA_PLATFORM_OS_WIN32_H_
