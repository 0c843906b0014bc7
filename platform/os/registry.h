// Read-only access to HKEY_LOCAL_MACHINE, the stand-in for the registry.
//
// The values come from a registry export file in the text format that
// registry editors write ("Windows Registry Editor Version 5.00", then
// "[HKEY_LOCAL_MACHINE\Key\Path]" headers and "name"="value" lines), kept
// at <system settings folder>/registry.reg. The file is read when a key is
// opened; an administrator edits it like an exported key.
#ifndef HISTDATA_PLATFORM_OS_REGISTRY_H_
#define HISTDATA_PLATFORM_OS_REGISTRY_H_

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>

namespace os {

// Raised when a value cannot be read as asked.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The registry export read by RegistryKey: SystemSettingsFolder() +
// "/registry.reg".
std::string RegistryFilePath();

class RegistryKey {
 public:
  // Opens `key_path` (for instance "Software\Ardan", compared without regard
  // to case) under HKEY_LOCAL_MACHINE as it stands in the export at `file`.
  // False, with no values, when the file or the key is missing.
  bool OpenLocalMachineKey(std::string_view key_path, const std::string& file = RegistryFilePath());

  // A string value ("name"="text" or an expandable string); empty when the
  // value is missing. A value of any other type with data (a dword, binary
  // data) raises ERegistryException "Invalid data type for '<name>'".
  std::string ReadString(std::string_view name) const;

  void CloseKey() { values_.clear(); }

 private:
  struct Value {
    bool is_string;
    bool has_data;
    std::string text;
  };
  // Keyed by the lower-case value name: value names ignore case.
  std::map<std::string, Value, std::less<>> values_;
};

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_REGISTRY_H_
