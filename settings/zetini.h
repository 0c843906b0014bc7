// The settings store: finds the settings file and hands out readers over it.
#ifndef HISTDATA_SETTINGS_ZETINI_H_
#define HISTDATA_SETTINGS_ZETINI_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/files.h"

namespace zetini {

// A read-through reader over one ini file: every read sees the file as it
// is at that moment (a file unchanged since an earlier read, by its
// version, is not read again). Section and key names compare without
// regard to case.
class TIniFile {
 public:
  explicit TIniFile(std::string path) : path_(std::move(path)) {}
  // `seen`: the file's version as the caller found it just now, which the
  // first read takes instead of looking again.
  TIniFile(std::string path, const os::FileVersion* seen) : path_(std::move(path)) {
    if (seen != nullptr) {
      seen_ = *seen;
      has_seen_ = true;
    }
  }
  const std::string& FileName() const { return path_; }
  // The value, cut to 2047 characters; Default when the file, section or
  // key is missing. "key=" gives an empty string.
  std::string ReadString(std::string_view section, std::string_view key,
                         std::string_view default_value) const;
  // The values of several keys, each as ReadString gives it, from one look
  // at the file, so that they all come from the same version of it.
  struct KeyDefault {
    std::string_view key, default_value;
  };
  std::vector<std::string> ReadStrings(std::string_view section, std::initializer_list<KeyDefault> keys) const;
  // Appends "name=value" for each key of the section with a non-empty value,
  // in file order.
  void ReadSectionValues(std::string_view section, std::vector<std::string>& list) const;

 private:
  // The version the first read takes; used once.
  const os::FileVersion* TakeSeen() const {
    if (!has_seen_) return nullptr;
    has_seen_ = false;
    return &seen_;
  }
  std::string path_;
  os::FileVersion seen_;
  mutable bool has_seen_ = false;
};

// Finds the settings file (empty name: "zet.ini") in the working folder, the
// program's (or loaded library's) folder, then the system settings folder;
// failing those, downloads it into "./zeturl.ini". Each call returns a new
// reader. Errors of the download reach the caller. The download's web host,
// when the registry names none, is the build setting HISTDATA_SETTINGS_HOST
// (settings/registry_ini.h).
std::unique_ptr<TIniFile> zetIniFile(std::string_view file_name = "");

// Times a settings file was actually read (a new or changed file) since
// the process started; reads of an unchanged file are not counted.
uint64_t SettingsFileReads();

// Value of the first "name=value" entry whose name matches without regard to
// case; empty when there is none.
std::string ListValue(const std::vector<std::string>& list, std::string_view name);

}  // namespace zetini

#endif  // HISTDATA_SETTINGS_ZETINI_H_
