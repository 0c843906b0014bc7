// The settings search and the ini reader on Windows: backslash paths and
// files read as bytes.
#ifdef _WIN32

#include <gtest/gtest.h>

#include "platform/os/win32.h"

#include <fstream>
#include <string>
#include <vector>

#include "platform/os/module_folder.h"
#include "settings/zetini.h"

namespace zetini {
namespace {

// A fresh working folder for one test; the previous one is restored after.
class ZetIniWin : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    ASSERT_GT(n, 0u);
    dir_ = std::string(temp, n) + "zetini_win_" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    char cwd[MAX_PATH + 1];
    old_cwd_.assign(cwd, GetCurrentDirectoryA(sizeof cwd, cwd));
    ASSERT_TRUE(SetCurrentDirectoryA(dir_.c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryA(old_cwd_.c_str());
    for (const std::string& file : written_) DeleteFileA(file.c_str());
    RemoveDirectoryA(dir_.c_str());
  }
  void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    written_.push_back(path);
  }

  std::string dir_, old_cwd_;
  std::vector<std::string> written_;
};

TEST_F(ZetIniWin, WorkingFolderFileUnderItsBackslashPath) {
  Write(dir_ + "\\zetini_win_probe.ini", "[KORVA]\r\nCalcMode=WORK\r\n");
  auto ini = zetIniFile("zetini_win_probe.ini");
  EXPECT_EQ(ini->FileName(), ".\\zetini_win_probe.ini");
  EXPECT_EQ(ini->ReadString("KORVA", "CalcMode", ""), "WORK");
}

TEST_F(ZetIniWin, ModuleFolderFileUnderItsBackslashPath) {
  const std::string path = os::ModuleFolder() + "\\zetini_win_module_probe.ini";
  Write(path, "[KORVA]\r\nCalcMode=MODULE\r\n");
  auto ini = zetIniFile("zetini_win_module_probe.ini");
  EXPECT_EQ(ini->FileName(), path);
  EXPECT_EQ(ini->ReadString("KORVA", "CalcMode", ""), "MODULE");
}

TEST_F(ZetIniWin, CtrlZDoesNotEndTheFile) {
  // Read as text, the file would end at the Ctrl-Z.
  Write(dir_ + "\\zetini_win_probe.ini", "[KORVA]\r\nA=1\r\n\x1a\r\nB=2\r\n");
  auto ini = zetIniFile("zetini_win_probe.ini");
  EXPECT_EQ(ini->ReadString("KORVA", "A", ""), "1");
  EXPECT_EQ(ini->ReadString("KORVA", "B", ""), "2");
}

}  // namespace
}  // namespace zetini

#endif  // _WIN32
