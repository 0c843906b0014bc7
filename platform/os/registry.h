// Read-only access to string values under HKEY_LOCAL_MACHINE.
//
// On Windows this is the machine's registry. Elsewhere the values come from
// a registry export file in the text format that registry editors write
// ("Windows Registry Editor Version 5.00", then
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

#ifndef _WIN32
// The registry export read by RegistryKey: SystemSettingsFolder() +
// "/registry.reg".
std::string RegistryFilePath();
#endif

class RegistryKey {
 public:
#ifdef _WIN32
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() { CloseKey(); }

  // Opens `key_path` (for instance "Software\Ardan") under
  // HKEY_LOCAL_MACHINE, asking for full access although it is only read.
  // False, with no values, when the key is missing or the process lacks
  // those rights.
  bool OpenLocalMachineKey(std::string_view key_path);
#else
  // Opens `key_path` (for instance "Software\Ardan", compared without regard
  // to case) under HKEY_LOCAL_MACHINE as it stands in the export at `file`.
  // False, with no values, when the file or the key is missing.
  bool OpenLocalMachineKey(std::string_view key_path, const std::string& file = RegistryFilePath());
#endif

  // A string value ("name"="text" or an expandable string, not expanded);
  // empty when the value is missing or the key is not open. A value of any
  // other type with data (a dword, binary data) raises ERegistryException
  // "Invalid data type for '<name>'".
  std::string ReadString(std::string_view name) const;

#ifdef _WIN32
  void CloseKey();
#else
  void CloseKey() { values_.clear(); }
#endif

 private:
#ifdef _WIN32
  void* key_ = nullptr;  // the open HKEY
#else
  struct Value {
    bool is_string;
    bool has_data;
    std::string text;
  };
  // Keyed by the lower-case value name: value names ignore case.
  std::map<std::string, Value, std::less<>> values_;
#endif
};

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_REGISTRY_H_
