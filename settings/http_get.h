// A blocking HTTP GET, the client the settings download uses.
#ifndef HISTDATA_SETTINGS_HTTP_GET_H_
#define HISTDATA_SETTINGS_HTTP_GET_H_

#include <stdexcept>
#include <string>

namespace zetini {

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
// with no proxy, a 10-second connect and a 60-second total time-out. Bodies
// beyond 16 MiB are refused (EHttpError). Safe to call from many threads.
HttpReply HttpGet(const std::string& url);

}  // namespace zetini

#endif  // HISTDATA_SETTINGS_HTTP_GET_H_
