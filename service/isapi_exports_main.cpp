// The extension library's exports: the ISAPI entry points over the same
// application object, pool and handler as the standalone server.
//
// The start sequence runs once, before the first request: at the first
// GetExtensionVersion (the host's first call), or at the first request when a
// host skips it. Heavy work is kept out of the loader's own notification,
// where Windows forbids most of it. The unload steps run when the library is
// unloaded.
//
// The stores are found through the environment: HISTDATA_DATA_DIR (data
// folder, default ".") and HISTDATA_ALIASES (alias configuration file).
// The log is "C:\HistData\VELD.log" on Windows; elsewhere it goes to the
// folder named by HISTDATA_LOG_DIR.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/engine/aliases.h"
#include "platform/isapi/ecb_host.h"
#include "platform/isapi/isapi.h"
#include "service/app.h"

#ifdef _WIN32
#define HISTDATA_EXPORT extern "C" __declspec(dllexport)
#else
#define HISTDATA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::once_flag g_started;
bool g_running = false;
// Set by the process's exit handlers. A library still loaded when the
// process exits gets its unload call only after those handlers have
// destroyed its static objects, so the unload steps must not run then; the
// process's end frees everything anyway. An unload by the host (dlclose)
// runs before the static objects go.
bool g_process_exiting = false;

const char* Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

void Start() {
  std::call_once(g_started, [] {
    try {
      engine::ConfigureAliases(Env("HISTDATA_DATA_DIR", "."), Env("HISTDATA_ALIASES", ""));
    } catch (...) {
      // A broken alias configuration leaves the defaults; the stores then
      // report their own errors per request, in the log.
    }
    hist::StartExtension();
    g_running = true;
    std::atexit([] { g_process_exiting = true; });
  });
}

void Unload() {
  if (!g_running || g_process_exiting) return;
  g_running = false;
  hist::UnloadExtension();
}

// Windows' TRUE of this interface has every bit set.
constexpr BOOL kTrue = static_cast<BOOL>(~0u);

// 2.0, major version in the high 16 bits: the interface version this
// extension reports. Newer platform headers name a later one in
// HSE_VERSION_MAJOR, which is not what is reported.
constexpr DWORD kExtensionVersion = (2u << 16) | 0u;

}  // namespace

HISTDATA_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* info) {
  try {
    Start();
    info->dwExtensionVersion = kExtensionVersion;
    const std::string& title = hist::Application()->Title();
    size_t n = std::min<size_t>(title.size(), HSE_MAX_EXT_DLL_NAME_LEN - 1);
    std::memcpy(info->lpszExtensionDesc, title.data(), n);
    info->lpszExtensionDesc[n] = '\0';
    return kTrue;
  } catch (...) {
    return FALSE;
  }
}

HISTDATA_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  try {
    Start();
    isapi::EcbHost host(ecb);
    return hist::HttpExtensionProc(host) == hist::kStatusSuccess ? HSE_STATUS_SUCCESS
                                                                 : HSE_STATUS_ERROR;
  } catch (...) {
    return HSE_STATUS_ERROR;
  }
}

// Modules stay alive until the library itself is unloaded.
HISTDATA_EXPORT BOOL WINAPI TerminateExtension(DWORD /*flags*/) { return kTrue; }

#ifdef _WIN32
// Unmangled, or the runtime would call its own empty one instead.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  // At process exit (reserved non-null) other threads are already gone and
  // the modules' resources go with the process.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) Unload();
  return TRUE;
}
#else
__attribute__((destructor)) static void OnUnload() { Unload(); }
#endif
