// Drives an ISAPI extension library as a web server would: loads it with the
// platform's loader, fills extension control blocks in memory and records
// every callback the library makes. Safe to use from several threads at once
// (each call has its own control block and record).
#ifndef HISTDATA_PLATFORM_ISAPI_EXTENSION_DRIVER_H_
#define HISTDATA_PLATFORM_ISAPI_EXTENSION_DRIVER_H_

#include <functional>
#include <string>
#include <vector>

#include "platform/isapi/isapi.h"

namespace isapi {

struct IsapiRequest {
  std::string method = "GET";
  std::string query;
  std::string path_info;
  std::string protocol = "HTTP/1.1";  // empty: the server has no such variable
  std::string body;
  // Bytes of the body already in the control block; the rest comes through
  // ReadClient. -1 means all of it.
  long available = -1;
  // Called inside each WriteClient before it is recorded: a test can hold
  // the request there, in progress.
  std::function<void()> on_write;
};

struct IsapiReply {
  DWORD result = 0;                 // what HttpExtensionProc returned
  DWORD status_code = 0;            // dwHttpStatusCode after the call
  int head_calls = 0;               // HSE_REQ_SEND_RESPONSE_HEADER calls
  std::string status_text;          // of the last head
  std::string headers;              // of the last head
  std::vector<std::string> writes;  // one entry per WriteClient call
  int read_calls = 0;
  std::string Body() const;
};

class IsapiLibrary {
 public:
  // Loads the library; throws std::runtime_error with the loader's message.
  explicit IsapiLibrary(const std::string& path);
  ~IsapiLibrary();  // unloads it
  IsapiLibrary(const IsapiLibrary&) = delete;
  IsapiLibrary& operator=(const IsapiLibrary&) = delete;

  BOOL GetExtensionVersion(HSE_VERSION_INFO* info);
  IsapiReply Call(const IsapiRequest& request);
  BOOL TerminateExtension(DWORD flags);

 private:
  void* handle_ = nullptr;
  GetExtensionVersionFn get_version_ = nullptr;
  HttpExtensionProcFn proc_ = nullptr;
  TerminateExtensionFn terminate_ = nullptr;
};

}  // namespace isapi

#endif  // HISTDATA_PLATFORM_ISAPI_EXTENSION_DRIVER_H_
