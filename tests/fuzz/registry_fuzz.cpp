// The registry export reader over any bytes. Properties: a value that is
// not a string raises the one registry error naming it; the string values
// read, written back as an export, read back unchanged.
#include <map>
#include <string>

#include "platform/os/registry.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const char* const kNames[] = {"iniServer", "iniFirm", "iniRole", "iniCustom"};

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The values that read as strings; the others are left out.
std::map<std::string, std::string> ReadValues(const std::string& file, bool& opened) {
  os::RegistryKey key;
  opened = key.OpenLocalMachineKey("Software\\Ardan", file);
  std::map<std::string, std::string> values;
  for (const char* name : kNames) {
    try {
      values[name] = key.ReadString(name);
    } catch (const os::ERegistryException& e) {
      FUZZ_CHECK(e.what() == "Invalid data type for '" + std::string(name) + "'");
    }
    if (!opened) FUZZ_CHECK(values[name].empty());
  }
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bool opened = false;
  const std::map<std::string, std::string> values =
      ReadValues(fuzz::WriteScratchFile(fuzz::AsText(data, size)), opened);

  std::string export_text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Ardan]\r\n";
  std::map<std::string, std::string> expected;
  for (const auto& [name, value] : values) {
    // A line break cannot stand in a quoted value (data decoded from
    // UTF-16 may hold one), nor can blanks at the end of a line.
    if (value.find_first_of("\r\n") != std::string::npos) continue;
    export_text += Quoted(name) + "=" + Quoted(value) + "\r\n";
    expected[name] = value;
  }
  bool reopened = false;
  const std::map<std::string, std::string> again =
      ReadValues(fuzz::WriteScratchFile(export_text), reopened);
  FUZZ_CHECK(reopened);
  for (const auto& [name, value] : expected) FUZZ_CHECK(again.at(name) == value);
  return 0;
}
