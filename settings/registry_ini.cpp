#include "settings/registry_ini.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#endif

#include "platform/os/named_lock.h"
#include "platform/os/registry.h"
#include "settings/http_get.h"

#ifndef HISTDATA_SETTINGS_HOST
#define HISTDATA_SETTINGS_HOST "settings.histdata.invalid"
#endif

namespace zetini {

namespace {

[[noreturn]] void RaiseCreateError(const std::string& file_name, int err) {
  throw std::runtime_error("Cannot create file \"" + file_name + "\". " + strerror(err));
}

#ifdef _WIN32
// rename refuses to replace an existing file here; MoveFileEx replaces it
// in one step, but not while a reader has it open: such a reader holds it
// only for one read, so the move is tried again for a while. Sets errno on
// failure, as rename does.
int MoveOver(const char* from, const char* to) {
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 50; ++attempt) {
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return 0;
    error = GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
        error != ERROR_LOCK_VIOLATION) {
      break;
    }
    Sleep(10);
  }
  errno = (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
           error == ERROR_LOCK_VIOLATION)
              ? EACCES
              : EIO;
  return -1;
}
#else
int MoveOver(const char* from, const char* to) { return rename(from, to); }
#endif

// Writes `text` to a temporary file beside `file_name`, then renames it
// over `file_name`: rename replaces a file in one step, so a concurrent
// reader never sees a half-written settings file.
void ReplaceFile(const std::string& file_name, const std::string& text) {
  std::string temp = file_name + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) RaiseCreateError(file_name, errno);
#ifdef _WIN32
  _setmode(fd, _O_BINARY);  // the line break is written as given
#else
  fchmod(fd, 0644);  // readable by all, as a file made by other means
#endif
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      close(fd);
      unlink(temp.c_str());
      RaiseCreateError(file_name, err);
    }
    done += static_cast<size_t>(n);
  }
  if (close(fd) != 0 || MoveOver(temp.c_str(), file_name.c_str()) != 0) {
    const int err = errno;
    unlink(temp.c_str());
    RaiseCreateError(file_name, err);
  }
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
  const HttpReply reply = HttpGet(url);
  if (reply.status >= 200 && reply.status < 300) {
    OnSuccess();
  } else if (reply.status >= 400) {
    OnFailure();
  }
  if (Succeeded) ReplaceFile(file_name, reply.body + "\r\n");
  return Succeeded;
}

}  // namespace zetini
