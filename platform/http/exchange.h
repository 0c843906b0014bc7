// One request and its reply on a connection of the HTTP host: the host
// operations the handler sees, and the framing of what it writes.
#ifndef HISTDATA_PLATFORM_HTTP_EXCHANGE_H_
#define HISTDATA_PLATFORM_HTTP_EXCHANGE_H_

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/host.h"
#include "platform/http/connection.h"

namespace httphost {

class Exchange : public host::Host {
 public:
  using Request = Connection::Request;

  Exchange(Connection& connection, Request& request);

  std::string Method() override;
  std::string QueryString() override;
  std::string PathInfo() override;
  std::string Protocol() override;
  // The declared length; a chunked body counts what was received.
  int64_t ContentLength() override;
  // The whole body: the host reads it before the handler runs.
  std::string BodyReceived() override;
  std::string ReadClient(size_t count) override;
  // Sends the status line, the handler's header lines (up to the first
  // empty line) and the framing lines of the host, together with the first
  // body bytes or the end of the reply, whichever comes first. A second
  // head is dropped: it would corrupt the reply.
  void SendHead(const std::string& status_text, const std::string& headers) override;
  // One chunk for HTTP/1.1, the bytes as they are for HTTP/1.0 or a head
  // with its own Content-Length. Bytes before any head bring a "200 OK"
  // head without header lines.
  void Write(const char* data, size_t size) override;
  void SetStatus(int code) override { status_code_ = code; }

  // Ends the reply after the handler returned (`completed`) or raised.
  // True when the connection can read another request.
  bool Finish(bool completed);

 private:
  enum class Framing { kChunked, kLength, kClose };
  // Finish's sends; the same result.
  bool EndReply(bool completed);
  // Sends the held head, if any, and the pieces (at most three) back to
  // back in one write; after a failed write the client counts as gone, its
  // socket is closed and nothing more is sent. `more`: see Write.
  void Send(std::initializer_list<std::string_view> pieces, bool more = false);

  Connection& connection_;
  Request& request_;
  int status_code_ = 200;
  bool head_sent_ = false;
  std::string held_head_;  // sent, not yet written to the socket
  bool head_only_ = false;  // HEAD: the head goes out, the body does not
  bool keep_alive_;
  bool failed_ = false;  // the client is gone; later writes are dropped
  Framing framing_ = Framing::kChunked;
  uint64_t declared_length_ = 0;
  uint64_t body_written_ = 0;
  std::chrono::steady_clock::time_point last_push_;  // of the last write sent at once
  bool held_back_ = false;  // the socket may hold bytes of this reply back
};

}  // namespace httphost

#endif  // HISTDATA_PLATFORM_HTTP_EXCHANGE_H_
