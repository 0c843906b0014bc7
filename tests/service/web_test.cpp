// Request and response objects, line writes and field decoding.
#include <gtest/gtest.h>

#include <string>

#include "service/request_fields.h"
#include "service/web.h"
#include "tests/support/fake_host.h"

namespace histtest {
namespace {

TEST(WebTest, ErrorMessageIsOneWriteWithItsLineEnd) {
  FakeHost host;
  hist::TWebRequest request(host);
  hist::TWebResponse response(host, request);
  hist::SendErrorMsg("ERROR|Invalid number of parameters.|", response);
  ASSERT_EQ(host.writes.size(), 1u);
  EXPECT_EQ(host.writes[0], "ERROR|Invalid number of parameters.|\r\n");
  EXPECT_EQ(host.writes[0].size(), 38u);
}

TEST(WebTest, LongLinesGoOutInPiecesOfAtMost8192Bytes) {
  FakeHost host;
  hist::TWebRequest request(host);
  hist::TWebResponse response(host, request);
  std::string line(20000, 'x');
  line[8191] = 'a';
  line[8192] = 'b';
  response.SendLine(line);
  ASSERT_EQ(host.writes.size(), 3u);
  EXPECT_EQ(host.writes[0].size(), 8192u);
  EXPECT_EQ(host.writes[1].size(), 8192u);
  EXPECT_EQ(host.writes[2].size(), 20000u - 2 * 8192u);
  EXPECT_EQ(host.writes[0].back(), 'a');
  EXPECT_EQ(host.writes[1].front(), 'b');
  EXPECT_EQ(host.Body(), line);
  response.SendLine("");
  EXPECT_EQ(host.writes.size(), 3u);
}

TEST(WebTest, HeadGoesOutOnceWithTheContentType) {
  FakeHost host;
  hist::TWebRequest request(host);
  hist::TWebResponse response(host, request);
  EXPECT_FALSE(response.HeadSent());
  response.ContentType = "text/plain";
  response.SendResponse();
  response.SendResponse();
  EXPECT_TRUE(response.HeadSent());
  EXPECT_EQ(host.heads_sent, 1);
  EXPECT_EQ(host.status_text, "200 OK");
  EXPECT_EQ(host.headers, "Content-Type: text/plain\r\n");

  FakeHost bare;
  hist::TWebRequest bare_request(bare);
  hist::TWebResponse bare_response(bare, bare_request);
  bare_response.SendResponse();
  EXPECT_EQ(bare.heads_sent, 1);
  EXPECT_EQ(bare.headers, "");
}

TEST(WebTest, RequestReadsTheRestOfTheBodyOnce) {
  FakeHost host;
  host.method = "POST";
  host.query = "a=1";
  host.path_info = "/x";
  host.body_received = "symbol=";
  host.body_rest = "0005&mode=2";
  hist::TWebRequest request(host);
  EXPECT_EQ(request.Method(), "POST");
  EXPECT_EQ(request.Query(), "a=1");
  EXPECT_EQ(request.PathInfo(), "/x");
  EXPECT_EQ(request.ProtocolVersion(), "HTTP/1.1");
  EXPECT_EQ(request.ContentLength(), 18);
  EXPECT_EQ(request.Content(), "symbol=0005&mode=2");
  EXPECT_EQ(request.Content(), "symbol=0005&mode=2");
  EXPECT_EQ(host.read_client_calls, 1);

  // A short read is taken as it comes.
  FakeHost short_host;
  short_host.body_received = "ab";
  short_host.body_rest = "cd";
  short_host.content_length = 10;
  hist::TWebRequest short_request(short_host);
  EXPECT_EQ(short_request.Content(), "abcd");

  FakeHost whole;
  whole.body_received = "abc";
  hist::TWebRequest whole_request(whole);
  EXPECT_EQ(whole_request.Content(), "abc");
  EXPECT_EQ(whole.read_client_calls, 0);
}

TEST(RequestFieldsTest, Decoding) {
  EXPECT_EQ(hist::DecodeField("a+b"), "a b");
  EXPECT_EQ(hist::DecodeField("100%%"), "100%");
  EXPECT_EQ(hist::DecodeField("%41%62%2F%2f"), "Ab//");
  EXPECT_EQ(hist::DecodeField("%e6%b1%87"), "\xe6\xb1\x87");
  EXPECT_EQ(hist::DecodeField(""), "");
  EXPECT_THROW(hist::DecodeField("%"), hist::EFieldDecodeError);
  EXPECT_THROW(hist::DecodeField("%4"), hist::EFieldDecodeError);
  EXPECT_THROW(hist::DecodeField("a%g1"), hist::EFieldDecodeError);
  EXPECT_THROW(hist::DecodeField("%%%"), hist::EFieldDecodeError);
}

TEST(RequestFieldsTest, Lookup) {
  hist::TRequestFields fields("symbol=0005&&mode&DayCount=3&daycount=4&x==y&empty=&mode=2");
  EXPECT_EQ(fields.Value("SYMBOL"), "0005");
  // A piece without "=" is no field: the later mode=2 counts.
  EXPECT_EQ(fields.Value("mode"), "2");
  EXPECT_EQ(fields.Value("DayCount"), "3");
  EXPECT_EQ(fields.Value("x"), "=y");
  EXPECT_EQ(fields.Value("empty"), "");
  EXPECT_EQ(fields.Value("missing"), "");
  EXPECT_EQ(hist::TRequestFields("").Value("symbol"), "");
  EXPECT_THROW(hist::TRequestFields("a=%zz"), hist::EFieldDecodeError);
}

}  // namespace
}  // namespace histtest
