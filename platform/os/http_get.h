// A blocking HTTP GET, the client the settings download uses: libcurl, or
// WinHTTP on Windows.
#ifndef HISTDATA_PLATFORM_OS_HTTP_GET_H_
#define HISTDATA_PLATFORM_OS_HTTP_GET_H_

#include <stdexcept>
#include <string>

namespace os {

// Raised when no exchange takes place: the host cannot be resolved, the
// connection fails or times out, the reply is malformed or too large.
class EHttpError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct HttpReply {
  long status;       // of the final reply, after redirections
  std::string body;
};

// GETs an "http://" (or "https://") URL, following up to 10 redirections,
// with no proxy, a 10-second connect time-out and a 60-second limit on the
// whole exchange (on Windows: on each step of it). Bodies beyond 16 MiB
// are refused (EHttpError). Safe to call from many threads.
HttpReply HttpGet(const std::string& url);

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_HTTP_GET_H_
