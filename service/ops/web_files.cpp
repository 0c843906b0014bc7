#include "service/ops/web_files.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace hist::ops {

namespace {

const char* ContentType(const std::string& name) {
  static const struct {
    const char* ext;
    const char* type;
  } kTypes[] = {{".html", "text/html; charset=utf-8"},
                {".js", "text/javascript; charset=utf-8"},
                {".css", "text/css; charset=utf-8"},
                {".png", "image/png"},
                {".json", "application/json"},
                {".map", "application/json"}};
  for (const auto& t : kTypes) {
    const std::string ext = t.ext;
    if (name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
      return t.type;
  }
  return nullptr;
}

bool SafeName(const std::string& name) {
  if (name.empty() || name.front() == '/') return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '-' || c == '/';
    if (!ok) return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string segment = name.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string RealPath(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<WebFile> FindWebFile(const std::string& folder, const std::string& name) {
  if (folder.empty() || !SafeName(name)) return std::nullopt;
  const char* type = ContentType(name);
  if (type == nullptr) return std::nullopt;
  const std::string root = RealPath(folder);
  const std::string file = RealPath(folder + "/" + name);
  // A link inside the folder may still lead out of it.
  if (root.empty() || file.empty() || file.compare(0, root.size() + 1, root + "/") != 0) {
    return std::nullopt;
  }
  struct stat st;
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return WebFile{file, type};
}

std::string DefaultWebFolder(const std::string& program_folder) {
  if (program_folder.empty()) return std::string();
  for (const char* sub : {"/web", "/../share/histdata/web"}) {
    const std::string path = RealPath(program_folder + sub);
    if (!path.empty() && IsFolder(path)) return path;
  }
  return std::string();
}

}  // namespace hist::ops
