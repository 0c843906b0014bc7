// The loader names the module that contains a given address, which is what
// a library loaded into a host process needs to find its own files.
#ifdef _WIN32

#include "platform/os/module_folder.h"

#include "platform/os/module_file_win.h"
#include "platform/os/win32.h"

namespace os {

namespace {

// Any address inside this module will do.
const char kAnchor = 0;

// Longest path the platform hands out, with room for its terminating zero.
constexpr size_t kMaxPath = 32768;

std::string ModulePath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          &kAnchor, &module)) {
    return "";
  }
  return ModuleFileName(module);
}

}  // namespace

std::string ModuleFileName(HMODULE module) {
  // A path longer than the buffer comes back cut short and filling it.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= kMaxPath) return "";
    path.resize(path.size() * 2);
  }
}

std::string ModuleFolder() {
  // The module cannot move while it is loaded: look it up once.
  static const std::string folder = [] {
    const std::string path = ModulePath();
    const size_t sep = path.find_last_of("\\/");
    if (sep == std::string::npos) return std::string();
    // A drive's root keeps its separator ("C:\"), as "/" does elsewhere.
    if (sep == 0 || path[sep - 1] == ':') return path.substr(0, sep + 1);
    return path.substr(0, sep);
  }();
  return folder;
}

}  // namespace os

#endif  // _WIN32
