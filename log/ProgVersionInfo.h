// The version values of the running program, handed out by index for the
// log banner.
#ifndef HISTDATA_LOG_PROGVERSIONINFO_H_
#define HISTDATA_LOG_PROGVERSIONINFO_H_

#include <string>

#include "platform/os/version_resource.h"

namespace zetlog {

class TProgramVersionInfo {
 public:
  // The values of the executable that started the process (inside a web
  // server, the server's; os::ReadExecutableVersion), read once here.
  // Without any the values are empty, and "GetFileVersionInfoSize error #:"
  // with the platform's error code goes to os::DebugOutput (the debugger
  // output on Windows, standard error elsewhere, where the code is 1813,
  // the platform's "resource type not found").
  TProgramVersionInfo();
  // The given values; nullptr stands for a program without any.
  explicit TProgramVersionInfo(const os::VersionValues* values);

  // 0 the language name, 1 CompanyName, 2 FileDescription, 3 FileVersion,
  // 4 InternalName, 5 LegalCopyright, 6 LegalTrademarks, 7 OriginalFilename,
  // 8 ProductName, 9 ProductVersion, 10 Comments; any other index gives an
  // empty text. Values are cut to 254 characters.
  std::string GetVersionString(int index) const;

 private:
  os::VersionStrings values_;
};

}  // namespace zetlog

#endif  // HISTDATA_LOG_PROGVERSIONINFO_H_
