// Request and response objects over the host of one request.
#include "service/web.h"

#include <algorithm>
#include <string>

namespace hist {

namespace {

// A line write goes to the client in pieces no larger than this.
constexpr size_t kWritePiece = 8192;

}  // namespace

TWebRequest::TWebRequest(host::Host& host)
    : host_(host),
      method_(host.Method()),
      query_(host.QueryString()),
      path_info_(host.PathInfo()),
      protocol_(host.Protocol()),
      content_length_(host.ContentLength()) {}

const std::string& TWebRequest::Content() {
  if (content_read_) return content_;
  content_read_ = true;
  content_ = host_.BodyReceived();
  if (content_length_ > 0 && static_cast<int64_t>(content_.size()) < content_length_) {
    // One read for the rest; whatever it returns is taken as it comes.
    content_ += host_.ReadClient(static_cast<size_t>(content_length_) - content_.size());
  }
  return content_;
}

TWebResponse::TWebResponse(host::Host& host, const TWebRequest& request)
    : host_(host), has_protocol_(!request.ProtocolVersion().empty()) {}

void TWebResponse::SendResponse() {
  if (head_sent_) return;
  head_sent_ = true;
  if (!has_protocol_) return;
  std::string headers;
  if (!ContentType.empty()) headers = "Content-Type: " + ContentType + "\r\n";
  host_.SendHead("200 OK", headers);
}

void TWebResponse::SendLine(std::string_view text) {
  ++Tally.lines;
  Tally.bytes += text.size();
  if (text.substr(0, 6) == "ERROR|") Tally.error_line = true;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t n = std::min(kWritePiece, text.size() - pos);
    host_.Write(text.data() + pos, n);
    pos += n;
  }
}

void SendErrorMsg(std::string_view msg, TWebResponse& response) {
  std::string text;
  text.reserve(msg.size() + 2);
  text.append(msg);
  text.append("\r\n");
  response.SendLine(text);
}

}  // namespace hist
