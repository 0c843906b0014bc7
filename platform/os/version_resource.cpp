#include "platform/os/version_resource.h"

#include <cstring>

namespace os {

namespace {

// A value buffer of the platform holds 255 characters with its zero.
constexpr size_t kMaxValue = 254;

std::string Cut(const char* text) {
  return text == nullptr ? std::string() : std::string(text, strnlen(text, kMaxValue));
}

}  // namespace

VersionStrings VersionStringsOf(const VersionValues* v) {
  VersionStrings s;
  if (v == nullptr) return s;
  // Compiled-in values carry no translation table: theirs is translation 0.
  s = {"Language Neutral",     Cut(v->company),       Cut(v->description),
       Cut(v->file_version),   Cut(v->internal_name), Cut(v->copyright),
       Cut(v->trademarks),     Cut(v->original_filename), Cut(v->product_name),
       Cut(v->product_version), Cut(v->comments)};
  return s;
}

}  // namespace os

// Windows reads the executable's version resource: version_resource_win.cpp.
#ifndef _WIN32

// Weak, so that a program without version values still links; the address
// of an undefined weak symbol is null.
extern "C" const os::VersionValues histdata_version_resource __attribute__((weak));

namespace os {

const VersionValues* VersionResource() { return &histdata_version_resource; }

bool ReadExecutableVersion(VersionStrings& values, unsigned long& error) {
  const VersionValues* v = VersionResource();
  values = VersionStringsOf(v);
  // 1813: the platform's "resource type not found".
  error = v == nullptr ? 1813 : 0;
  return v != nullptr;
}

}  // namespace os

#endif  // _WIN32
