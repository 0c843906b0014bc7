#include "platform/isapi/ecb_host.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace isapi {
namespace {

std::string Text(const char* s) { return s ? std::string(s) : std::string(); }

constexpr size_t kWritePiece = 8192;
// A single ReadClient never asks for more than this: the body of a history
// request is a handful of parameters, and a declared length is the client's
// word, not a size to allocate.
constexpr size_t kMaxRead = 1 << 20;

}  // namespace

std::string EcbHost::Method() { return Text(ecb_->lpszMethod); }
std::string EcbHost::QueryString() { return Text(ecb_->lpszQueryString); }
std::string EcbHost::PathInfo() { return Text(ecb_->lpszPathInfo); }

std::string EcbHost::Protocol() {
  if (!ecb_->GetServerVariable) return {};
  char name[] = "SERVER_PROTOCOL";
  char buffer[256];
  DWORD size = sizeof(buffer);
  if (!ecb_->GetServerVariable(ecb_->ConnID, name, buffer, &size) || size == 0) return {};
  size = std::min<DWORD>(size, sizeof(buffer));
  // The size counts the terminating zero.
  return std::string(buffer, strnlen(buffer, size));
}

int64_t EcbHost::ContentLength() { return ecb_->cbTotalBytes; }

std::string EcbHost::BodyReceived() {
  if (!ecb_->lpbData) return {};
  DWORD n = std::min(ecb_->cbAvailable, ecb_->cbTotalBytes);
  return std::string(reinterpret_cast<const char*>(ecb_->lpbData), n);
}

std::string EcbHost::ReadClient(size_t count) {
  if (!ecb_->ReadClient || count == 0) return {};
  std::vector<char> buffer(std::min(count, kMaxRead));
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!ecb_->ReadClient(ecb_->ConnID, buffer.data(), &size)) return {};
  return std::string(buffer.data(), std::min<size_t>(size, buffer.size()));
}

void EcbHost::SendHead(const std::string& status_text, const std::string& headers) {
  if (!ecb_->ServerSupportFunction) return;
  // The header block goes to the server as the service made it.
  std::string status = status_text;
  std::string block = headers;
  DWORD size = static_cast<DWORD>(status.size());
  ecb_->ServerSupportFunction(ecb_->ConnID, HSE_REQ_SEND_RESPONSE_HEADER, status.data(), &size,
                              reinterpret_cast<LPDWORD>(block.data()));
}

void EcbHost::Write(const char* data, size_t size) {
  if (!ecb_->WriteClient) return;
  while (size > 0) {
    DWORD n = static_cast<DWORD>(std::min(size, kWritePiece));
    DWORD written = n;
    // A client that has gone away is not reported: the writer carries on.
    ecb_->WriteClient(ecb_->ConnID, const_cast<char*>(data), &written, 0);
    data += n;
    size -= n;
  }
}

void EcbHost::SetStatus(int code) { ecb_->dwHttpStatusCode = static_cast<DWORD>(code); }

}  // namespace isapi
