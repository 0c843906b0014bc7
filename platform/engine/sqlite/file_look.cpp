#include "platform/engine/sqlite/file_look.h"

namespace engine::sqlite {

namespace {

constexpr int64_t kSettledNs = 1'000'000'000;

}  // namespace

FileLook LookAtFile(const std::string& path, const std::string& log_path) {
  FileLook look;
  look.file = os::RegularFileVersion(path, look.file_version);
  look.log = os::RegularFileVersion(log_path, look.log_version);
  return look;
}

bool Settled(const FileLook& look) {
  return look.file && os::LeftAloneFor(look.file_version, kSettledNs) &&
         (!look.log || os::LeftAloneFor(look.log_version, kSettledNs));
}

}  // namespace engine::sqlite
