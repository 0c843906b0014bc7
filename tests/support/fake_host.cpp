#include "tests/support/fake_host.h"

namespace histtest {

std::string FakeHost::Body() const {
  std::string out;
  for (const std::string& w : writes) out += w;
  return out;
}

int64_t FakeHost::ContentLength() {
  if (content_length >= 0) return content_length;
  return static_cast<int64_t>(body_received.size() + body_rest.size());
}

std::string FakeHost::ReadClient(size_t count) {
  ++read_client_calls;
  std::string out = body_rest.substr(0, count);
  body_rest.erase(0, out.size());
  return out;
}

void FakeHost::SendHead(const std::string& status, const std::string& header_block) {
  ++heads_sent;
  status_text = status;
  headers = header_block;
}

}  // namespace histtest
