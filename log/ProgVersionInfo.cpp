#include "log/ProgVersionInfo.h"

#include <cstdio>
#include <cstring>

namespace zetlog {

namespace {

// A value buffer holds 255 characters with its terminating zero.
constexpr size_t kMaxValue = 254;

}  // namespace

TProgramVersionInfo::TProgramVersionInfo() : TProgramVersionInfo(os::VersionResource()) {}

TProgramVersionInfo::TProgramVersionInfo(const os::VersionValues* values) : values_(values) {
  if (values_ == nullptr) std::fputs("GetFileVersionInfoSize error #:1813\n", stderr);
}

std::string TProgramVersionInfo::GetVersionString(int index) const {
  if (values_ == nullptr) return "";
  const char* text = nullptr;
  switch (index) {
    // The compiled-in values carry no translation table, so their language
    // is the one of translation 0.
    case 0: text = "Language Neutral"; break;
    case 1: text = values_->company; break;
    case 2: text = values_->description; break;
    case 3: text = values_->file_version; break;
    case 4: text = values_->internal_name; break;
    case 5: text = values_->copyright; break;
    case 6: text = values_->trademarks; break;
    case 7: text = values_->original_filename; break;
    case 8: text = values_->product_name; break;
    case 9: text = values_->product_version; break;
    case 10: text = values_->comments; break;
    default: return "";
  }
  if (text == nullptr) return "";
  return std::string(text, strnlen(text, kMaxValue));
}

}  // namespace zetlog
