// The few declarations of the ISAPI extension interface this binding uses.
// On Windows they come from the platform's own <httpext.h>; elsewhere they are
// declared here from the interface's public documentation, with the same
// layout, so that a test host can drive the library as a web server would.
#ifndef HISTDATA_PLATFORM_ISAPI_ISAPI_H_
#define HISTDATA_PLATFORM_ISAPI_ISAPI_H_

#ifdef _WIN32
// No min and max macros: they would break std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <httpext.h>
#else
#include <cstdint>

using DWORD = uint32_t;
using BOOL = int32_t;
using BYTE = uint8_t;
using CHAR = char;
using LPSTR = char*;
using LPBYTE = BYTE*;
using LPVOID = void*;
using LPDWORD = DWORD*;
using HCONN = void*;
#define WINAPI

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

inline constexpr DWORD HSE_VERSION_MAJOR = 2;
inline constexpr DWORD HSE_VERSION_MINOR = 0;
inline constexpr int HSE_LOG_BUFFER_LEN = 80;
inline constexpr int HSE_MAX_EXT_DLL_NAME_LEN = 256;

inline constexpr DWORD HSE_STATUS_SUCCESS = 1;
inline constexpr DWORD HSE_STATUS_SUCCESS_AND_KEEP_CONN = 2;
inline constexpr DWORD HSE_STATUS_PENDING = 3;
inline constexpr DWORD HSE_STATUS_ERROR = 4;

inline constexpr DWORD HSE_REQ_SEND_RESPONSE_HEADER = 3;

struct HSE_VERSION_INFO {
  DWORD dwExtensionVersion;
  CHAR lpszExtensionDesc[HSE_MAX_EXT_DLL_NAME_LEN];
};

struct EXTENSION_CONTROL_BLOCK {
  DWORD cbSize;
  DWORD dwVersion;
  HCONN ConnID;
  DWORD dwHttpStatusCode;
  CHAR lpszLogData[HSE_LOG_BUFFER_LEN];
  LPSTR lpszMethod;
  LPSTR lpszQueryString;
  LPSTR lpszPathInfo;
  LPSTR lpszPathTranslated;
  DWORD cbTotalBytes;
  DWORD cbAvailable;
  LPBYTE lpbData;
  LPSTR lpszContentType;
  BOOL(WINAPI* GetServerVariable)(HCONN hConn, LPSTR lpszVariableName, LPVOID lpvBuffer,
                                  LPDWORD lpdwSize);
  BOOL(WINAPI* WriteClient)(HCONN ConnID, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
  BOOL(WINAPI* ReadClient)(HCONN ConnID, LPVOID lpvBuffer, LPDWORD lpdwSize);
  BOOL(WINAPI* ServerSupportFunction)(HCONN hConn, DWORD dwHSERequest, LPVOID lpvBuffer,
                                      LPDWORD lpdwSize, LPDWORD lpdwDataType);
};
#endif

// The three exports, as the host looks them up by name.
using GetExtensionVersionFn = BOOL(WINAPI*)(HSE_VERSION_INFO*);
using HttpExtensionProcFn = DWORD(WINAPI*)(EXTENSION_CONTROL_BLOCK*);
using TerminateExtensionFn = BOOL(WINAPI*)(DWORD);

#endif  // HISTDATA_PLATFORM_ISAPI_ISAPI_H_
