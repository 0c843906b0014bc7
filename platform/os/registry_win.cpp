// The machine's registry. A value is asked for its size first: one whose
// data has no length reads as empty whatever its type, as there is nothing
// to read; otherwise only string data is accepted, and an expandable string
// comes back as stored, unexpanded, as the export reader does elsewhere.
#ifdef _WIN32

#include "platform/os/registry.h"

#include "platform/os/win32.h"

namespace os {

namespace {

HKEY Handle(void* key) { return static_cast<HKEY>(key); }

}  // namespace

bool RegistryKey::OpenLocalMachineKey(std::string_view key_path) {
  CloseKey();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, std::string(key_path).c_str(), 0, KEY_ALL_ACCESS, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  key_ = key;
  return true;
}

std::string RegistryKey::ReadString(std::string_view name) const {
  if (key_ == nullptr) return "";
  const std::string value_name(name);
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(Handle(key_), value_name.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      size == 0) {
    return "";  // missing, or no data to tell a type by
  }
  std::string data;
  for (;;) {
    data.resize(size);
    DWORD got = size;
    const LONG rc = RegQueryValueExA(Handle(key_), value_name.c_str(), nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &got);
    if (rc == ERROR_MORE_DATA && got > size) {
      size = got;  // the value grew since its size was asked
      continue;
    }
    if (rc != ERROR_SUCCESS) return "";  // removed in the meantime
    data.resize(got);
    break;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) {
    throw ERegistryException("Invalid data type for '" + value_name + "'");
  }
  // Stored text need not end in a zero; where it holds one, it ends there.
  const size_t end = data.find('\0');
  if (end != std::string::npos) data.resize(end);
  return data;
}

void RegistryKey::CloseKey() {
  if (key_ != nullptr) RegCloseKey(Handle(key_));
  key_ = nullptr;
}

}  // namespace os

#endif  // _WIN32
