#include "platform/os/debug_output.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
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
