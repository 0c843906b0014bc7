// The version values of the running program, handed out by index for the
// log banner.
#ifndef HISTDATA_LOG_PROGVERSIONINFO_H_
#define HISTDATA_LOG_PROGVERSIONINFO_H_

#include <string>

#ifdef _WIN32
#include <array>
#endif

#include "platform/os/version_resource.h"

namespace zetlog {

class TProgramVersionInfo {
 public:
#ifdef _WIN32
  // The version resource of the executable file that started the process
  // (inside a web server, the server's), read once here. Without one the
  // values are empty, and "GetFileVersionInfoSize error #:" with the
  // platform's error code goes to the debugger output.
#else
  // The values compiled into the running program (os::VersionResource()).
  // A program without them gets empty values, and the message
  // "GetFileVersionInfoSize error #:1813" goes to standard error once per
  // object, 1813 being the platform's "resource type not found".
#endif
  TProgramVersionInfo();
  // The given values; nullptr stands for a program without any.
  explicit TProgramVersionInfo(const os::VersionValues* values);

  // 0 the language name, 1 CompanyName, 2 FileDescription, 3 FileVersion,
  // 4 InternalName, 5 LegalCopyright, 6 LegalTrademarks, 7 OriginalFilename,
  // 8 ProductName, 9 ProductVersion, 10 Comments; any other index gives an
  // empty text. Values are cut to 254 characters.
  std::string GetVersionString(int index) const;

 private:
  const os::VersionValues* values_ = nullptr;
#ifdef _WIN32
  // Filled by the default constructor: index 0 the language name, 1 to 10
  // the string values, each looked up once.
  bool from_resource_ = false;
  std::array<std::string, 11> resource_;
#endif
};

}  // namespace zetlog

#endif  // HISTDATA_LOG_PROGVERSIONINFO_H_
