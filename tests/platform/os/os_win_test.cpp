// The Windows side of the stand-ins, checked against the platform itself.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/os/win32.h"

#include <string>

#include "platform/os/module_folder.h"
#include "platform/os/registry.h"
#include "platform/os/system_folder.h"

namespace os {
namespace {

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

TEST(ModuleFolderWin, FolderOfTheExecutableThatHoldsTheCode) {
  // The test program is linked with the code, so its module is the program.
  char buffer[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof buffer);
  const std::string program(buffer, n);
  const std::string folder = ModuleFolder();
  EXPECT_EQ(folder, program.substr(0, program.find_last_of("\\/")));
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(IsFolder(folder)) << folder;
}

TEST(SystemFolderWin, TheWindowsFolder) {
  const std::string folder = SystemSettingsFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '\\');
  EXPECT_TRUE(IsFolder(folder + "\\System32")) << folder;
}

// A key of its own under HKEY_LOCAL_MACHINE\Software, removed afterwards.
// Making it needs administrator rights; without them the cases are skipped.
class RegistryWin : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "Software\\HistDataTest" + std::to_string(GetCurrentProcessId());
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key_, nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
      GTEST_SKIP() << "no write access to HKEY_LOCAL_MACHINE";
    }
  }
  void TearDown() override {
    if (key_ == nullptr) return;
    RegCloseKey(key_);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, path_.c_str());
  }
  void Set(const char* name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
  }

  std::string path_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryWin, ReadsStringValues) {
  Set("iniServer", REG_SZ, "host1", 6);
  Set("Expand", REG_EXPAND_SZ, "%WINDIR%\\x", 11);
  Set("NoZero", REG_SZ, "abc", 3);  // stored without its terminating zero
  Set("Empty", REG_SZ, "", 1);
  RegistryKey key;
  ASSERT_TRUE(key.OpenLocalMachineKey(path_));
  EXPECT_EQ(key.ReadString("iniServer"), "host1");
  EXPECT_EQ(key.ReadString("INISERVER"), "host1");  // value names ignore case
  EXPECT_EQ(key.ReadString("Expand"), "%WINDIR%\\x");  // as stored, not expanded
  EXPECT_EQ(key.ReadString("NoZero"), "abc");
  EXPECT_EQ(key.ReadString("Empty"), "");
  EXPECT_EQ(key.ReadString("iniCustom"), "");  // missing
}

TEST_F(RegistryWin, OtherTypesRaiseInvalidDataType) {
  const DWORD one = 1;
  Set("iniRole", REG_DWORD, &one, sizeof one);
  Set("Blob", REG_BINARY, "\x01\x02", 2);
  Set("NoData", REG_BINARY, nullptr, 0);
  RegistryKey key;
  ASSERT_TRUE(key.OpenLocalMachineKey(path_));
  try {
    key.ReadString("iniRole");
    FAIL() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'iniRole'");
  }
  EXPECT_THROW(key.ReadString("Blob"), ERegistryException);
  EXPECT_EQ(key.ReadString("NoData"), "");  // no data to tell a type by
}

TEST_F(RegistryWin, ClosedKeyReadsEmpty) {
  Set("iniServer", REG_SZ, "host1", 6);
  RegistryKey key;
  ASSERT_TRUE(key.OpenLocalMachineKey(path_));
  key.CloseKey();
  EXPECT_EQ(key.ReadString("iniServer"), "");
}

TEST(RegistryWinMissing, MissingKeyReadsEmpty) {
  RegistryKey key;
  EXPECT_FALSE(key.OpenLocalMachineKey("Software\\HistDataTestMissing\\Nowhere"));
  EXPECT_EQ(key.ReadString("iniServer"), "");
}

}  // namespace
}  // namespace os

#endif  // _WIN32
