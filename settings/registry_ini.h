// The remote settings location: the registry names the organisation's
// settings web host and the path below it; the page found there is saved as
// the local settings file.
#ifndef HISTDATA_SETTINGS_REGISTRY_INI_H_
#define HISTDATA_SETTINGS_REGISTRY_INI_H_

#include <string>

namespace zetini {

// Where a downloaded settings page is saved, relative to the working folder.
inline constexpr char kDownloadedIniFile[] = "./zeturl.ini";
// The page fetched from the settings web host.
inline constexpr char kSettingsPage[] = "zetini.htm";

// The settings web host used when the registry names none: the build's
// HISTDATA_SETTINGS_HOST setting.
const char* ConfiguredSettingsHost();

// Lives for one location search.
class RegistryIni {
 public:
  std::string Server;   // iniServer: the settings web host
  std::string Firm;     // iniFirm
  std::string Role;     // iniRole
  std::string Custom;   // iniCustom
  std::string PageName;  // unused: the page is always kSettingsPage
  bool Succeeded = false;

  // Reads HKEY_LOCAL_MACHINE\Software\Ardan, downloads the settings page
  // into kDownloadedIniFile and sets `location` to that name, whatever the
  // download's outcome. Errors of the registry read (a value that is not a
  // string) and of the download (no exchange) are raised.
  void GetINILocation(std::string& location);

  // Fills Server, Firm, Role and Custom from the registry; a missing key or
  // value reads as empty.
  void ReadRegistry();

  // "http://" + (Server, or the configured host) + "/", then each non-empty
  // Firm, Role, Custom followed by "/", then "zetini.htm".
  std::string IniURL() const;

  // GETs `url`; on a 2xx reply saves the body followed by CR LF as
  // `file_name`, replacing it in one step (a reader sees the old file or
  // the whole new one). A reply of 400 or above writes nothing. Downloads
  // in this process run one at a time. Returns Succeeded.
  bool SaveDownloadFile(const std::string& url, const std::string& file_name);

  // End-of-request notifications of the HTTP exchange.
  void OnSuccess() { Succeeded = true; }
  void OnFailure() { Succeeded = false; }
};

}  // namespace zetini

#endif  // HISTDATA_SETTINGS_REGISTRY_INI_H_
