// The alias registry: the data folder and the aliases the configuration file
// sends elsewhere. Read under a lock; replaced whole by ConfigureAliases.
#include "platform/engine/aliases.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>

#include "platform/engine/errors.h"
#include "platform/engine/pool.h"
#include "platform/os/process_lifetime.h"
#include "platform/rtl/text.h"

namespace engine {

namespace {

struct Registry {
  std::mutex mu;
  std::string data_dir = "data";
  std::map<std::string, AliasTarget> configured;  // by lower-case alias
};

Registry& TheRegistry() {
  static Registry* registry = os::KeptForProcess(new Registry);
  return *registry;
}

using rtl::LowerAscii;

std::string Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

bool IsDayTableAlias(std::string_view alias) { return LowerAscii(alias) == "histdata"; }

// An alias becomes a file name: nothing that leaves the data folder.
void CheckAliasName(const std::string& alias) {
  if (alias.empty()) throw EDatabaseError("Alias name is empty");
  for (char c : alias) {
    if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < ' ') {
      throw EDatabaseError("Invalid alias name '" + alias + "'");
    }
  }
  if (alias.front() == '.') throw EDatabaseError("Invalid alias name '" + alias + "'");
}

struct Section {
  std::string alias;
  int line = 0;
  std::map<std::string, std::string> keys;  // lower-case key -> value
};

AliasTarget TargetOf(const Section& section, const std::string& data_dir, const std::string& file) {
  auto where = [&] { return " for alias '" + section.alias + "' in " + file; };
  auto value = [&](const char* key) {
    auto it = section.keys.find(key);
    return it == section.keys.end() ? std::string() : it->second;
  };
  AliasTarget target;
  target.day_tables = IsDayTableAlias(section.alias);
  std::string layout = LowerAscii(value("daytables"));
  if (layout == "1" || layout == "yes" || layout == "true") target.day_tables = true;
  if (layout == "0" || layout == "no" || layout == "false") target.day_tables = false;
  std::string driver = LowerAscii(value("driver"));
  if (driver == "postgres" || driver == "postgresql") {
    target.driver = AliasTarget::Driver::kPostgres;
    target.location = value("conninfo");
    if (target.location.empty()) throw EDatabaseError("ConnInfo missing" + where());
  } else if (driver == "sqlite" || driver.empty()) {
    target.driver = AliasTarget::Driver::kSQLite;
    std::string path = value("path");
    if (path.empty()) {
      CheckAliasName(section.alias);
      path = target.day_tables ? LowerAscii(section.alias) : LowerAscii(section.alias) + ".db";
    }
    target.location = path.front() == '/' ? path : JoinPath(data_dir, path);
  } else {
    throw EDatabaseError("Unknown driver '" + value("driver") + "'" + where());
  }
  return target;
}

std::map<std::string, AliasTarget> ReadConfiguration(const std::string& file, const std::string& data_dir) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw EDatabaseError("Cannot read alias configuration " + file);
  std::vector<Section> sections;
  std::string raw;
  int line_no = 0;
  while (std::getline(in, raw)) {
    ++line_no;
    std::string line = Trim(raw);
    if (line_no == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line = Trim(line.substr(3));
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      if (line.back() != ']') {
        throw EDatabaseError("Malformed section at " + file + " line " + std::to_string(line_no));
      }
      std::string alias = Trim(std::string_view(line).substr(1, line.size() - 2));
      if (alias.empty()) throw EDatabaseError("Empty section name at " + file + " line " + std::to_string(line_no));
      sections.push_back(Section{alias, line_no, {}});
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos || sections.empty()) {
      throw EDatabaseError("Malformed line at " + file + " line " + std::to_string(line_no));
    }
    sections.back().keys[LowerAscii(Trim(std::string_view(line).substr(0, eq)))] =
        Trim(std::string_view(line).substr(eq + 1));
  }
  std::map<std::string, AliasTarget> out;
  for (const Section& s : sections) out[LowerAscii(s.alias)] = TargetOf(s, data_dir, file);
  return out;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

void ConfigureAliases(const std::string& data_dir, const std::string& config_file) {
  std::string file = config_file;
  if (file.empty() && FileExists(JoinPath(data_dir, "aliases.ini"))) file = JoinPath(data_dir, "aliases.ini");
  std::map<std::string, AliasTarget> configured;
  if (!file.empty()) configured = ReadConfiguration(file, data_dir);
  {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mu);
    r.data_dir = data_dir;
    r.configured = std::move(configured);
  }
  DropPooledConnections();
}

AliasTarget ResolveAlias(const std::string& alias) {
  Registry& r = TheRegistry();
  std::string key = LowerAscii(alias);
  std::lock_guard<std::mutex> lock(r.mu);
  auto it = r.configured.find(key);
  if (it != r.configured.end()) return it->second;
  CheckAliasName(alias);
  AliasTarget target;
  target.driver = AliasTarget::Driver::kSQLite;
  target.day_tables = IsDayTableAlias(alias);
  target.location = JoinPath(r.data_dir, target.day_tables ? key : key + ".db");
  return target;
}

const std::string& DataDir() {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mu);
  return r.data_dir;
}

std::unique_ptr<Connection> ConnectAlias(const std::string& alias, const Credentials& credentials,
                                         bool writable) {
  return ConnectTarget(ResolveAlias(alias), credentials, writable);
}

}  // namespace engine
