// The version values compiled into a program (product, version, company,
// copyright), the stand-in for an executable's version resource.
#ifndef HISTDATA_PLATFORM_OS_VERSION_RESOURCE_H_
#define HISTDATA_PLATFORM_OS_VERSION_RESOURCE_H_

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

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_VERSION_RESOURCE_H_
