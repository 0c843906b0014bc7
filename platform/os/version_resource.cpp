#include "platform/os/version_resource.h"

#ifndef _WIN32

// Weak, so that a program without version values still links; the address
// of an undefined weak symbol is null.
extern "C" const os::VersionValues histdata_version_resource __attribute__((weak));

namespace os {

const VersionValues* VersionResource() { return &histdata_version_resource; }

}  // namespace os

#endif  // _WIN32
