#include "platform/os/debug_output.h"

#ifdef _WIN32
#include "platform/os/win32.h"
#else
#include <cstdio>
#endif

namespace os {

void DebugOutput(const std::string& text) {
#ifdef _WIN32
  OutputDebugStringA(text.c_str());
#else
  std::fputs((text + "\n").c_str(), stderr);
#endif
}

}  // namespace os
