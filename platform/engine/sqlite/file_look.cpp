#include "platform/engine/sqlite/file_look.h"

#include <utility>

namespace engine::sqlite {

namespace {

constexpr int64_t kSettledNs = 1'000'000'000;

void AppendVersion(std::string& out, const os::FileVersion& v) {
  for (uint64_t field : {v.volume, v.file, v.size, static_cast<uint64_t>(v.modified_ns),
                         static_cast<uint64_t>(v.changed_ns)}) {
    out.append(reinterpret_cast<const char*>(&field), sizeof field);
  }
}

// A look at a file and its log as a version string: equal strings, equal
// looks.
std::string VersionOf(const FileLook& look) {
  std::string version;
  version += look.file ? 'f' : '-';
  version += look.log ? 'l' : '-';
  AppendVersion(version, look.file_version);
  AppendVersion(version, look.log_version);
  return version;
}

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

bool ReadFilePack(engine::PackCache& cache, const std::string& path, const std::string& log_path,
                  const std::string& key, std::string& bytes, const std::function<bool(std::string&)>& read) {
  if (!os::VersionMovesWithEachWrite() || !cache.Enabled()) return read(bytes);
  std::string name = path;
  name += '\0';
  name += key;
  // Looked at before the pack is read: a write after the look leaves a
  // later version, which the next look sees as a change.
  const FileLook look = LookAtFile(path, log_path);
  const bool settled = Settled(look);
  std::string version = VersionOf(look);
  engine::PackCache::Kept kept;
  if (settled && cache.Find(name, kept) && kept.version == version) {
    cache.CountHit();
    if (kept.bytes == nullptr) return false;
    bytes.assign(*kept.bytes);
    return true;
  }
  const bool found = read(bytes);
  if (settled) {
    cache.Keep(name, {std::move(version), found ? std::make_shared<const std::string>(bytes) : nullptr});
  } else {
    cache.Drop(name);
  }
  return found;
}

}  // namespace engine::sqlite
