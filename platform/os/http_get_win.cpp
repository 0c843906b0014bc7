// WinHTTP, the platform's HTTP client meant for services: WinINet is made
// for interactive programs and is not supported inside a web server's
// worker process. Redirections are followed by the client itself (never from
// https back to http).
#ifdef _WIN32

#include "platform/os/http_get.h"

#include "platform/os/win32.h"
#include <winhttp.h>

#include <vector>

namespace os {

namespace {

constexpr size_t kMaxBody = 16u << 20;
constexpr int kConnectMs = 10000;  // name resolution and connection, each
constexpr int kStepMs = 60000;     // sending the request, waiting for each read
constexpr DWORD kMaxRedirects = 10;

class Handle {
 public:
  explicit Handle(HINTERNET h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h_ != nullptr) WinHttpCloseHandle(h_);
  }
  HINTERNET get() const { return h_; }

 private:
  HINTERNET h_;
};

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  }
  return wide;
}

// The client's own text for its error codes lives in its module.
std::string ErrorText(DWORD error) {
  char buffer[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                           GetModuleHandleA("winhttp.dll"), error, 0, buffer, sizeof buffer,
                           nullptr);
  if (n == 0) {
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                       0, buffer, sizeof buffer, nullptr);
  }
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ')) --n;
  std::string text = "error " + std::to_string(error);
  if (n > 0) text += " (" + std::string(buffer, n) + ")";
  return text;
}

[[noreturn]] void Fail(const std::string& url, const char* step) {
  const DWORD error = GetLastError();
  throw EHttpError("HTTP GET " + url + ": " + step + " failed, " + ErrorText(error));
}

}  // namespace

HttpReply HttpGet(const std::string& url) {
  const std::wstring wide_url = Widen(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
      parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  // Only web schemes: the URL is built from registry text.
  if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts) ||
      (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
    throw EHttpError("HTTP GET " + url + ": not an http or https URL");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  // No proxy, not even the machine's configured one.
  Handle session(WinHttpOpen(L"histdata", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (session.get() == nullptr) Fail(url, "WinHttpOpen");
  if (!WinHttpSetTimeouts(session.get(), kConnectMs, kConnectMs, kStepMs, kStepMs)) {
    Fail(url, "WinHttpSetTimeouts");
  }
  Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (connection.get() == nullptr) Fail(url, "WinHttpConnect");
  Handle request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                    WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                    parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE
                                                                           : 0));
  if (request.get() == nullptr) Fail(url, "WinHttpOpenRequest");
  DWORD redirects = kMaxRedirects;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirects,
                   sizeof redirects);
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    Fail(url, "sending the request");
  }
  if (!WinHttpReceiveResponse(request.get(), nullptr)) Fail(url, "receiving the reply");

  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    Fail(url, "reading the status");
  }
  HttpReply reply{static_cast<long>(status), {}};
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    DWORD got = 0;
    if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
      Fail(url, "reading the body");
    }
    if (got == 0) break;
    if (reply.body.size() + got > kMaxBody) {
      throw EHttpError("HTTP GET " + url + ": body larger than " + std::to_string(kMaxBody) +
                       " bytes");
    }
    reply.body.append(buffer.data(), got);
  }
  return reply;
}

}  // namespace os

#endif  // _WIN32
