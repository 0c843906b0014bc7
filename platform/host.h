// The operations a hosting web server offers for one request. The standalone
// HTTP server (platform/http) and the ISAPI binding (platform/isapi) each
// implement them; the request service sees nothing else of its host.
#ifndef HISTDATA_PLATFORM_HOST_H_
#define HISTDATA_PLATFORM_HOST_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace host {

class Host {
 public:
  virtual ~Host() = default;
  virtual std::string Method() = 0;       // "GET", "POST", ...
  virtual std::string QueryString() = 0;  // without "?"
  virtual std::string PathInfo() = 0;
  // "HTTP/1.1" and the like; empty when the request carries no version
  // (such a request gets the body alone, without a head).
  virtual std::string Protocol() = 0;
  virtual int64_t ContentLength() = 0;      // declared body length
  virtual std::string BodyReceived() = 0;   // the part the host already holds
  // One read from the client for up to `count` further body bytes.
  virtual std::string ReadClient(size_t count) = 0;
  // Sends the head: a status text ("200 OK") and a block of header lines,
  // each ending in CR LF.
  virtual void SendHead(const std::string& status_text, const std::string& headers) = 0;
  // Writes body bytes to the client at once. A client that has gone away is
  // not reported: the writer carries on.
  virtual void Write(const char* data, size_t size) = 0;
  virtual void SetStatus(int code) = 0;
};

}  // namespace host

#endif  // HISTDATA_PLATFORM_HOST_H_
