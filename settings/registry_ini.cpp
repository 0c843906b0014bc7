#include "settings/registry_ini.h"

#include <string.h>

#include <mutex>
#include <stdexcept>

#include "platform/os/files.h"
#include "platform/os/http_get.h"
#include "platform/os/named_lock.h"
#include "platform/os/registry.h"

#ifndef HISTDATA_SETTINGS_HOST
#define HISTDATA_SETTINGS_HOST "settings.histdata.invalid"
#endif

namespace zetini {

namespace {

[[noreturn]] void RaiseCreateError(const std::string& file_name, int err) {
  throw std::runtime_error("Cannot create file \"" + file_name + "\". " + strerror(err));
}

// The file is replaced in one step, so that a concurrent reader never sees
// a half-written settings file.
void ReplaceFile(const std::string& file_name, const std::string& text) {
  const int err = os::ReplaceFileContents(file_name, text);
  if (err != 0) RaiseCreateError(file_name, err);
}

}  // namespace

const char* ConfiguredSettingsHost() { return HISTDATA_SETTINGS_HOST; }

void RegistryIni::ReadRegistry() {
  os::RegistryKey key;
  key.OpenLocalMachineKey("Software\\Ardan");
  Server = key.ReadString("iniServer");
  Firm = key.ReadString("iniFirm");
  Role = key.ReadString("iniRole");
  Custom = key.ReadString("iniCustom");
}

std::string RegistryIni::IniURL() const {
  std::string url = "http://";
  url += Server.empty() ? ConfiguredSettingsHost() : Server;
  url += '/';
  for (const std::string* segment : {&Firm, &Role, &Custom}) {
    if (!segment->empty()) {
      url += *segment;
      url += '/';
    }
  }
  url += kSettingsPage;
  return url;
}

void RegistryIni::GetINILocation(std::string& location) {
  ReadRegistry();
  SaveDownloadFile(IniURL(), kDownloadedIniFile);
  location = kDownloadedIniFile;
}

bool RegistryIni::SaveDownloadFile(const std::string& url, const std::string& file_name) {
  // One download at a time: two requests that both miss the local file
  // would otherwise fetch and replace the same file at once.
  static std::mutex& download_lock = os::NamedLock("zeturl.ini");
  std::lock_guard<std::mutex> lock(download_lock);
  const os::HttpReply reply = os::HttpGet(url);
  if (reply.status >= 200 && reply.status < 300) {
    OnSuccess();
  } else if (reply.status >= 400) {
    OnFailure();
  }
  if (Succeeded) ReplaceFile(file_name, reply.body + "\r\n");
  return Succeeded;
}

}  // namespace zetini
