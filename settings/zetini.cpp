#include "settings/zetini.h"

#include "platform/os/files.h"
#include "platform/os/module_folder.h"
#include "platform/os/paths.h"
#include "platform/os/system_folder.h"
#include "platform/rtl/text.h"
#include "settings/registry_ini.h"

namespace zetini {

namespace {

using rtl::LowerAscii;

}  // namespace

std::unique_ptr<TIniFile> zetIniFile(std::string_view file_name) {
  const std::string name = file_name.empty() ? "zet.ini" : std::string(file_name);
  const std::string sep = os::kPathSeparator;
  for (const std::string& path : {"." + sep + name, os::ModuleFolder() + sep + name,
                                  os::SystemSettingsFolder() + sep + name}) {
    // One look serves both the search and the reader's first read.
    os::FileVersion version;
    switch (os::LookAt(path, version)) {
      case os::PathKind::kMissing:
      case os::PathKind::kFolder:
        continue;
      case os::PathKind::kRegularFile:
        return std::make_unique<TIniFile>(path, &version);
      case os::PathKind::kOther:
        return std::make_unique<TIniFile>(path);
    }
  }
  // No local file: the registry says where to download it from. The
  // downloaded file is used whatever the outcome, so that a failed download
  // falls back on the file an earlier one left.
  std::string path;
  RegistryIni registry;
  registry.GetINILocation(path);
  return std::make_unique<TIniFile>(path);
}

std::string ListValue(const std::vector<std::string>& list, std::string_view name) {
  for (const std::string& entry : list) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || eq != name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < eq && same; ++i) same = LowerAscii(entry[i]) == LowerAscii(name[i]);
    if (same) return entry.substr(eq + 1);
  }
  return "";
}

}  // namespace zetini
