#include "log/ProgVersionInfo.h"

#include "platform/os/debug_output.h"

namespace zetlog {

namespace {

// A web server has no user to show the message to; the debugger output (or
// standard error) is where a developer looks for it.
void ReportNoVersionInfo(unsigned long error) {
  os::DebugOutput("GetFileVersionInfoSize error #:" + std::to_string(error));
}

}  // namespace

TProgramVersionInfo::TProgramVersionInfo() {
  unsigned long error = 0;
  if (!os::ReadExecutableVersion(values_, error)) ReportNoVersionInfo(error);
}

TProgramVersionInfo::TProgramVersionInfo(const os::VersionValues* values)
    : values_(os::VersionStringsOf(values)) {
  // 1813: the platform's "resource type not found".
  if (values == nullptr) ReportNoVersionInfo(1813);
}

std::string TProgramVersionInfo::GetVersionString(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= values_.size()) return "";
  return values_[static_cast<size_t>(index)];
}

}  // namespace zetlog
