// The version information of a Windows executable, read from its resource.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "log/ProgVersionInfo.h"

namespace zetlog {
namespace {

TEST(ProgramVersionInfoWin, ExecutableWithoutVersionResource) {
  TProgramVersionInfo info;  // the test program carries none
  for (int i = -1; i <= 11; ++i) EXPECT_EQ(info.GetVersionString(i), "") << i;
}

TEST(ProgramVersionInfoWin, GivenValuesStillServed) {
  const os::VersionValues v{"Co", "", "1.0", "", "", "", "", "Product", "", ""};
  TProgramVersionInfo info(&v);
  EXPECT_EQ(info.GetVersionString(1), "Co");
  EXPECT_EQ(info.GetVersionString(3), "1.0");
  EXPECT_EQ(info.GetVersionString(8), "Product");
}

}  // namespace
}  // namespace zetlog

#endif  // _WIN32
