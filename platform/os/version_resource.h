// The version values compiled into a program (product, version, company,
// copyright), the stand-in for an executable's version resource.
#ifndef HISTDATA_PLATFORM_OS_VERSION_RESOURCE_H_
#define HISTDATA_PLATFORM_OS_VERSION_RESOURCE_H_

#include <array>
#include <string>

namespace os {

// Each value is a NUL-terminated text, possibly empty.
struct VersionValues {
  const char* company;
  const char* description;
  const char* file_version;
  const char* internal_name;
  const char* copyright;
  const char* trademarks;
  const char* original_filename;
  const char* product_name;
  const char* product_version;
  const char* comments;
};

#ifndef _WIN32
// The values of the running program, or nullptr when it was built without
// them. A program provides them by defining
//   extern "C" const os::VersionValues histdata_version_resource
// (cmake/version generates that definition for each program). Windows
// programs carry a real version resource in their executable file instead,
// which is read from there.
const VersionValues* VersionResource();
#endif

// The version values by index: 0 the name of their language, 1 CompanyName,
// 2 FileDescription, 3 FileVersion, 4 InternalName, 5 LegalCopyright,
// 6 LegalTrademarks, 7 OriginalFilename, 8 ProductName, 9 ProductVersion,
// 10 Comments. Each is cut to 254 characters.
using VersionStrings = std::array<std::string, 11>;

// The values of the executable that started the process (inside a web
// server, the server's): on Windows from the first translation of its
// version resource, elsewhere those compiled into the program, whose
// language is "Language Neutral". False, with every value empty and `error`
// the platform's error code, when it has none.
bool ReadExecutableVersion(VersionStrings& values, unsigned long& error);

// Compiled-in values by index, as above; all empty for nullptr.
VersionStrings VersionStringsOf(const VersionValues* values);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_VERSION_RESOURCE_H_
