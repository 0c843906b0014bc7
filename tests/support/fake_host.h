// FakeHost: an in-memory host::Host for driving the request service (or a
// generator's TWebResponse) without a socket. It serves a request described
// by its public fields and records the head and every Write call separately,
// so a test can check both the bytes and how they were split into writes.
//
//   histtest::FakeHost host;
//   host.query = "symbol=0005&mode=2";
//   hist::TWebRequest request(host);
//   hist::TWebResponse response(host, request);
//   module.GenDelay("0005", response);
//   EXPECT_EQ(host.Body(), "ERROR|Record not found.|");
//   EXPECT_EQ(host.writes.size(), 1u);
#ifndef HISTDATA_TESTS_SUPPORT_FAKE_HOST_H_
#define HISTDATA_TESTS_SUPPORT_FAKE_HOST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/host.h"

namespace histtest {

class FakeHost : public host::Host {
 public:
  // --- The request -------------------------------------------------------
  std::string method = "GET";
  std::string query;
  std::string path_info;
  std::string protocol = "HTTP/1.1";
  // The body the host already holds, and what one ReadClient call returns.
  std::string body_received;
  std::string body_rest;
  // Declared length; -1 means the size of body_received + body_rest.
  int64_t content_length = -1;

  // --- What the service did -----------------------------------------------
  int heads_sent = 0;
  std::string status_text;  // of the last head sent
  std::string headers;      // of the last head sent
  std::vector<std::string> writes;  // one entry per Write call
  int status_code = 0;              // set by SetStatus; 0 when never set
  int read_client_calls = 0;

  // Every Write joined.
  std::string Body() const;

  std::string Method() override { return method; }
  std::string QueryString() override { return query; }
  std::string PathInfo() override { return path_info; }
  std::string Protocol() override { return protocol; }
  int64_t ContentLength() override;
  std::string BodyReceived() override { return body_received; }
  std::string ReadClient(size_t count) override;
  void SendHead(const std::string& status, const std::string& header_block) override;
  void Write(const char* data, size_t size) override { writes.emplace_back(data, size); }
  void SetStatus(int code) override { status_code = code; }
};

}  // namespace histtest

#endif  // HISTDATA_TESTS_SUPPORT_FAKE_HOST_H_
