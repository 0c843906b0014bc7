#include "platform/isapi/extension_driver.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace isapi {
namespace {

// What one call's callbacks see through the connection handle.
struct Connection {
  const IsapiRequest* request;
  IsapiReply* reply;
  size_t read_pos;  // next body byte ReadClient hands out
};

Connection* Of(HCONN c) { return static_cast<Connection*>(c); }

BOOL WINAPI GetServerVariable(HCONN c, LPSTR name, LPVOID buffer, LPDWORD size) {
  const IsapiRequest& r = *Of(c)->request;
  if (std::strcmp(name, "SERVER_PROTOCOL") != 0 || r.protocol.empty()) return FALSE;
  if (*size < r.protocol.size() + 1) {
    *size = static_cast<DWORD>(r.protocol.size() + 1);
    return FALSE;
  }
  std::memcpy(buffer, r.protocol.c_str(), r.protocol.size() + 1);
  *size = static_cast<DWORD>(r.protocol.size() + 1);
  return TRUE;
}

BOOL WINAPI WriteClient(HCONN c, LPVOID buffer, LPDWORD bytes, DWORD) {
  if (Of(c)->request->on_write) Of(c)->request->on_write();
  Of(c)->reply->writes.emplace_back(static_cast<const char*>(buffer), *bytes);
  return TRUE;
}

BOOL WINAPI ReadClient(HCONN c, LPVOID buffer, LPDWORD size) {
  Connection& conn = *Of(c);
  conn.reply->read_calls++;
  const std::string& body = conn.request->body;
  size_t n = std::min<size_t>(*size, body.size() - conn.read_pos);
  std::memcpy(buffer, body.data() + conn.read_pos, n);
  conn.read_pos += n;
  *size = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI ServerSupportFunction(HCONN c, DWORD request, LPVOID buffer, LPDWORD size,
                                  LPDWORD data_type) {
  if (request != HSE_REQ_SEND_RESPONSE_HEADER) return FALSE;
  IsapiReply& reply = *Of(c)->reply;
  reply.head_calls++;
  reply.status_text.assign(static_cast<const char*>(buffer), size ? *size : 0);
  reply.headers = data_type ? reinterpret_cast<const char*>(data_type) : "";
  return TRUE;
}

#ifdef _WIN32
void* OpenLibrary(const std::string& path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    throw std::runtime_error("cannot load " + path + ": error " + std::to_string(GetLastError()));
  }
  return module;
}
void* Symbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
#else
void* OpenLibrary(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) throw std::runtime_error(dlerror());
  return handle;
}
void* Symbol(void* handle, const char* name) { return dlsym(handle, name); }
void CloseLibrary(void* handle) { dlclose(handle); }
#endif

template <typename Fn>
Fn Lookup(void* handle, const char* name) {
  void* sym = Symbol(handle, name);
  if (!sym) throw std::runtime_error(std::string("missing export ") + name);
  return reinterpret_cast<Fn>(sym);
}

}  // namespace

std::string IsapiReply::Body() const {
  std::string body;
  for (const std::string& w : writes) body += w;
  return body;
}

IsapiLibrary::IsapiLibrary(const std::string& path) {
  handle_ = OpenLibrary(path);
  get_version_ = Lookup<GetExtensionVersionFn>(handle_, "GetExtensionVersion");
  proc_ = Lookup<HttpExtensionProcFn>(handle_, "HttpExtensionProc");
  terminate_ = Lookup<TerminateExtensionFn>(handle_, "TerminateExtension");
}

IsapiLibrary::~IsapiLibrary() {
  if (handle_) CloseLibrary(handle_);
}

BOOL IsapiLibrary::GetExtensionVersion(HSE_VERSION_INFO* info) { return get_version_(info); }

BOOL IsapiLibrary::TerminateExtension(DWORD flags) { return terminate_(flags); }

IsapiReply IsapiLibrary::Call(const IsapiRequest& request) {
  IsapiReply reply;
  size_t available = request.available < 0
                         ? request.body.size()
                         : std::min<size_t>(request.available, request.body.size());
  Connection conn{&request, &reply, available};
  std::string method = request.method, query = request.query, path = request.path_info;
  std::string body = request.body;

  EXTENSION_CONTROL_BLOCK ecb{};
  ecb.cbSize = sizeof(ecb);
  ecb.dwVersion = (HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR;
  ecb.ConnID = &conn;
  ecb.dwHttpStatusCode = 200;
  ecb.lpszMethod = method.data();
  ecb.lpszQueryString = query.data();
  ecb.lpszPathInfo = path.data();
  ecb.lpszPathTranslated = path.data();
  ecb.cbTotalBytes = static_cast<DWORD>(body.size());
  ecb.cbAvailable = static_cast<DWORD>(available);
  ecb.lpbData = reinterpret_cast<LPBYTE>(body.data());
  char content_type[] = "application/x-www-form-urlencoded";
  ecb.lpszContentType = content_type;
  ecb.GetServerVariable = GetServerVariable;
  ecb.WriteClient = WriteClient;
  ecb.ReadClient = ReadClient;
  ecb.ServerSupportFunction = ServerSupportFunction;

  reply.result = proc_(&ecb);
  reply.status_code = ecb.dwHttpStatusCode;
  return reply;
}

}  // namespace isapi
