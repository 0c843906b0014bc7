#include "log/ProgVersionInfo.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#ifdef _MSC_VER
#pragma comment(lib, "version.lib")
#endif
#endif

namespace zetlog {

namespace {

// A value buffer holds 255 characters with its terminating zero.
constexpr size_t kMaxValue = 254;

// A web server has no user to show the message to; the debugger output is
// where a developer looks for it.
void ReportNoVersionInfo(unsigned long error) {
  const std::string text = "GetFileVersionInfoSize error #:" + std::to_string(error);
#ifdef _WIN32
  OutputDebugStringA(text.c_str());
#else
  std::fputs((text + "\n").c_str(), stderr);
#endif
}

#ifdef _WIN32

// Keys of the string table, indices 1 to 10.
constexpr const char* kKeys[] = {"CompanyName",      "FileDescription", "FileVersion",
                                 "InternalName",     "LegalCopyright",  "LegalTrademarks",
                                 "OriginalFilename", "ProductName",     "ProductVersion",
                                 "Comments"};

std::string ExecutablePath() {
  // A path longer than the buffer comes back cut short and filling it.
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return "";
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return "";
    path.resize(path.size() * 2);
  }
}

// The first entry of the translation table: language in the high 16 bits,
// code page in the low 16 bits; 0 without one. Later entries are ignored.
uint32_t LanguageId(void* block) {
  void* table = nullptr;
  UINT size = 0;
  if (!VerQueryValueA(block, "\\VarFileInfo\\Translation", &table, &size) || table == nullptr ||
      size < 4) {
    return 0;
  }
  const auto* entry = static_cast<const WORD*>(table);
  return (static_cast<uint32_t>(entry[0]) << 16) | entry[1];
}

// One value of the string table under `lang_charset`; empty when it is
// missing or holds nothing. The reported length counts the terminating zero.
std::string StringValue(void* block, const std::string& lang_charset, const char* key) {
  const std::string path = "\\StringFileInfo\\" + lang_charset + "\\" + key;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(block, path.c_str(), &value, &length) || value == nullptr || length <= 1) {
    return "";
  }
  length = std::min<UINT>(length, kMaxValue + 1);
  return std::string(static_cast<const char*>(value), length - 1);
}

#endif  // _WIN32

}  // namespace

#ifdef _WIN32

// Every value is looked up here, once: the lookups convert text inside the
// block, so reading them later would write to it from const calls.
TProgramVersionInfo::TProgramVersionInfo() : from_resource_(true) {
  const std::string file = ExecutablePath();
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &unused);
  if (size == 0) {
    ReportNoVersionInfo(GetLastError());
    return;
  }
  std::vector<unsigned char> block(size);
  // A block that could not be read holds nothing to look up.
  if (!GetFileVersionInfoA(file.c_str(), 0, size, block.data())) return;

  const uint32_t id = LanguageId(block.data());
  char lang_charset[9];
  std::snprintf(lang_charset, sizeof lang_charset, "%08X", static_cast<unsigned>(id));
  char language[256];
  const DWORD n = VerLanguageNameA(id >> 16, language, sizeof language);
  resource_[0].assign(language, std::min<DWORD>(n, sizeof language - 1));
  for (size_t i = 1; i < resource_.size(); ++i) {
    resource_[i] = StringValue(block.data(), lang_charset, kKeys[i - 1]);
  }
}

#else

TProgramVersionInfo::TProgramVersionInfo() : TProgramVersionInfo(os::VersionResource()) {}

#endif

TProgramVersionInfo::TProgramVersionInfo(const os::VersionValues* values) : values_(values) {
  // 1813: the platform's "resource type not found".
  if (values_ == nullptr) ReportNoVersionInfo(1813);
}

std::string TProgramVersionInfo::GetVersionString(int index) const {
#ifdef _WIN32
  if (from_resource_) {
    return index >= 0 && static_cast<size_t>(index) < resource_.size() ? resource_[index] : "";
  }
#endif
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
