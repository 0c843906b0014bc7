// The Windows HTTP client's failures: each is an EHttpError, none hangs.
// Its successful download is shown end to end by scripts/windows/wine-check.sh.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/os/http_get.h"

namespace os {
namespace {

TEST(HttpGetWin, OnlyWebSchemes) {
  EXPECT_THROW(HttpGet("file://C:/Windows/win.ini"), EHttpError);
  EXPECT_THROW(HttpGet("ftp://127.0.0.1/zetini.htm"), EHttpError);
  EXPECT_THROW(HttpGet("not a url"), EHttpError);
}

TEST(HttpGetWin, RefusedConnectionIsAnError) {
  // Port 1 on the loopback: nothing listens there.
  try {
    HttpGet("http://127.0.0.1:1/zetini.htm");
    FAIL() << "no error";
  } catch (const EHttpError& e) {
    EXPECT_NE(std::string(e.what()).find("http://127.0.0.1:1/zetini.htm"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace os

#endif  // _WIN32
