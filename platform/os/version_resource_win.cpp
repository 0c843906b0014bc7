// The version resource of the executable file, read through the version
// library. Every value is looked up once: the lookups convert text inside
// the block, so reading them later would write to it from const calls.
#ifdef _WIN32

#include "platform/os/version_resource.h"

#include "platform/os/module_file_win.h"
#include "platform/os/win32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace os {

namespace {

constexpr UINT kMaxValue = 254;

// Keys of the string table, indices 1 to 10.
constexpr const char* kKeys[] = {"CompanyName",      "FileDescription", "FileVersion",
                                 "InternalName",     "LegalCopyright",  "LegalTrademarks",
                                 "OriginalFilename", "ProductName",     "ProductVersion",
                                 "Comments"};

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

}  // namespace

bool ReadExecutableVersion(VersionStrings& values, unsigned long& error) {
  values = VersionStrings();
  error = 0;
  const std::string file = ModuleFileName(nullptr);
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &unused);
  if (size == 0) {
    error = GetLastError();
    return false;
  }
  std::vector<unsigned char> block(size);
  // A block that could not be read holds nothing to look up.
  if (!GetFileVersionInfoA(file.c_str(), 0, size, block.data())) return true;

  const uint32_t id = LanguageId(block.data());
  char lang_charset[9];
  std::snprintf(lang_charset, sizeof lang_charset, "%08X", static_cast<unsigned>(id));
  char language[256];
  const DWORD n = VerLanguageNameA(id >> 16, language, sizeof language);
  values[0].assign(language, std::min<DWORD>(n, sizeof language - 1));
  for (size_t i = 1; i < values.size(); ++i) {
    values[i] = StringValue(block.data(), lang_charset, kKeys[i - 1]);
  }
  return true;
}

}  // namespace os

#endif  // _WIN32
