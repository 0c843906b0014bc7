// The request and response objects made for each request over the host.
#ifndef HISTDATA_SERVICE_WEB_H_
#define HISTDATA_SERVICE_WEB_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/host.h"
#include "service/request_metrics.h"

namespace hist {

// A read-only view of the HTTP request.
class TWebRequest {
 public:
  explicit TWebRequest(host::Host& host);
  const std::string& Method() const { return method_; }
  const std::string& Query() const { return query_; }
  const std::string& PathInfo() const { return path_info_; }
  const std::string& ProtocolVersion() const { return protocol_; }
  int64_t ContentLength() const { return content_length_; }
  // The body: what the host holds, then, when that is shorter than the
  // declared length, one read from the client for the rest, appended as it
  // comes. Read once, on first use.
  const std::string& Content();

 private:
  host::Host& host_;
  std::string method_, query_, path_info_, protocol_;
  int64_t content_length_ = 0;
  bool content_read_ = false;
  std::string content_;
};

// Status, content type, the head (sent at most once) and direct writes of
// reply lines to the client. The body is never collected.
class TWebResponse {
 public:
  TWebResponse(host::Host& host, const TWebRequest& request);
  std::string ContentType;
  int StatusCode = 200;
  bool HeadSent() const { return head_sent_; }
  // Sends "200 OK" with one "Content-Type: ...\r\n" line per set header;
  // a request without a protocol version gets no head.
  void SendResponse();
  // One line write: the bytes go to the client at once, in pieces of at
  // most 8192 bytes, before the caller forms its next line.
  void SendLine(std::string_view text);
  host::Host& Host() { return host_; }
  // What this reply has held so far, for the metrics.
  ReplyTally Tally;

 private:
  host::Host& host_;
  bool has_protocol_;
  bool head_sent_ = false;
};

// Writes Msg followed by CR LF as one line write.
void SendErrorMsg(std::string_view msg, TWebResponse& response);

}  // namespace hist

#endif  // HISTDATA_SERVICE_WEB_H_
