// The settings file reader over any bytes. Properties: values are cut to
// 2047 characters; the two ways of reading a section agree (each entry that
// ReadSectionValues lists is what ReadString returns for its name) and list
// a name once.
#include <set>
#include <string>
#include <vector>

#include "platform/rtl/text.h"
#include "settings/zetini.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

// The name of the first "[...]" line, so that sections the input invents
// are read too.
std::string FirstSectionName(std::string_view text) {
  const size_t open = text.find('[');
  if (open == std::string_view::npos) return "";
  const size_t close = text.find(']', open);
  if (close == std::string_view::npos) return "";
  return std::string(text.substr(open + 1, close - open - 1));
}

void CheckSection(const zetini::TIniFile& ini, const std::string& section, bool whole_names) {
  for (const char* key : {"NominalUpdateTimestamp", "CalcMode", "DSN_source", "MaxConnection"}) {
    const std::string value = ini.ReadString(section, key, "default");
    FUZZ_CHECK(value.size() <= 2047);
  }
  std::vector<std::string> list;
  ini.ReadSectionValues(section, list);
  std::set<std::string> names;
  for (const std::string& entry : list) {
    const size_t eq = entry.find('=');
    FUZZ_CHECK(eq != std::string::npos);
    const std::string name = entry.substr(0, eq);
    const std::string value = entry.substr(eq + 1);
    FUZZ_CHECK(!value.empty() && value.size() <= 2047);
    FUZZ_CHECK(names.insert(rtl::LowerAscii(name)).second);
    // Past the key-name buffer a name may be cut short; below it every
    // name is whole and reads the same value both ways.
    if (whole_names) FUZZ_CHECK(ini.ReadString(section, name, "") == value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  const zetini::TIniFile ini(fuzz::WriteScratchFile(text));
  const bool whole_names = size < 16000;
  CheckSection(ini, "KORVA", whole_names);
  CheckSection(ini, "ZET_DATABASE", whole_names);
  CheckSection(ini, FirstSectionName(text), whole_names);
  return 0;
}
