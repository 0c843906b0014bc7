// dladdr names the object that contains a given address, which is what a
// library loaded into a host process needs to find its own files. For the
// main program it reports argv[0], which may be relative or a bare name, so
// the executable's path comes from /proc instead. Windows asks the loader:
// module_folder_win.cpp.
#ifndef _WIN32
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include "platform/os/module_folder.h"

#include <dlfcn.h>
#include <link.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

namespace os {

namespace {

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, static_cast<size_t>(n));
}

std::string ModulePath() {
  Dl_info info;
  struct link_map* map = nullptr;
  if (dladdr1(reinterpret_cast<void*>(&ModulePath), &info, reinterpret_cast<void**>(&map),
              RTLD_DL_LINKMAP) == 0 ||
      map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
    return ExecutablePath();
  }
  char resolved[PATH_MAX];
  if (realpath(map->l_name, resolved) == nullptr) return map->l_name;
  return resolved;
}

}  // namespace

std::string ModuleFolder() {
  // The module cannot move while it is loaded: look it up once.
  static const std::string folder = [] {
    const std::string path = ModulePath();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return std::string();
    if (slash == 0) return std::string("/");
    return path.substr(0, slash);
  }();
  return folder;
}

}  // namespace os

#endif  // _WIN32
