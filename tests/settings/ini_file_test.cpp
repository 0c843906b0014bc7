#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "settings/zetini.h"

namespace zetini {
namespace {

class IniFileTest : public ::testing::Test {
 protected:
  IniFileTest() {
    char tmpl[] = "/tmp/ini_test_XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/zet.ini";
  }
  ~IniFileTest() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  void Write(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }

  std::string dir_;
  std::string path_;
};

TEST_F(IniFileTest, ReadString) {
  Write("; settings\r\n"
        "[KORVA]\r\n"
        "CalcMode=UW\r\n"
        "  DBMode  =   SQL server  \r\n"
        "Empty=\r\n"
        "Quoted=\"  padded  \"\r\n"
        "NoEquals\r\n"
        ";MaxConnection=99\r\n"
        "MaxConnection=20\r\n"
        "MaxConnection=30\r\n"
        "[ZET_DATABASE]\r\n"
        "DSN_source=zetdata\r\n"
        "[korva]\r\n"
        "Later=ignored\r\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.FileName(), path_);
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", "DC"), "UW");
  EXPECT_EQ(ini.ReadString("korva", "calcmode", "DC"), "UW");
  EXPECT_EQ(ini.ReadString("KORVA", "DBMode", "PARADOX"), "SQL server");
  EXPECT_EQ(ini.ReadString("KORVA", "Empty", "dflt"), "");
  EXPECT_EQ(ini.ReadString("KORVA", "Quoted", ""), "  padded  ");
  EXPECT_EQ(ini.ReadString("KORVA", "NoEquals", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("KORVA", "MaxConnection", "10"), "20");  // first one
  EXPECT_EQ(ini.ReadString("KORVA", ";MaxConnection", "10"), "10");
  EXPECT_EQ(ini.ReadString("KORVA", "Missing", "16:00:00"), "16:00:00");
  EXPECT_EQ(ini.ReadString("KORVA", "Later", "x"), "x");  // only the first section counts
  EXPECT_EQ(ini.ReadString("ZET_DATABASE", "DSN_source", "zetdata2"), "zetdata");
  EXPECT_EQ(ini.ReadString("Nowhere", "DSN_source", "d"), "d");
}

TEST_F(IniFileTest, MissingFileGivesDefaults) {
  TIniFile ini(dir_ + "/none.ini");
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", "DC"), "DC");
  std::vector<std::string> list;
  ini.ReadSectionValues("KORVA", list);
  EXPECT_TRUE(list.empty());
  // A folder or a pipe is not a settings file (reading a pipe would block).
  TIniFile folder(dir_);
  EXPECT_EQ(folder.ReadString("KORVA", "CalcMode", "DC"), "DC");
  ASSERT_EQ(mkfifo((dir_ + "/pipe.ini").c_str(), 0644), 0);
  EXPECT_EQ(TIniFile(dir_ + "/pipe.ini").ReadString("KORVA", "CalcMode", "DC"), "DC");
}

TEST_F(IniFileTest, ReadsThroughToTheFileOnEveryCall) {
  Write("[KORVA]\nCalcMode=DC\n");
  TIniFile ini(path_);
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", ""), "DC");
  Write("[KORVA]\nCalcMode=UW\n");
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", ""), "UW");
}

TEST_F(IniFileTest, AnUnchangedFileIsNotReadAgainAndAChangeIsSeenAtOnce) {
  Write("[KORVA]\nCalcMode=DC\n");
  TIniFile ini(path_);
  // A file changed moments ago is read on every call; wait until a call
  // no longer reads it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const uint64_t before = SettingsFileReads();
    ASSERT_EQ(ini.ReadString("KORVA", "CalcMode", ""), "DC");
    if (SettingsFileReads() == before) break;
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "every call still reads the file";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const uint64_t settled = SettingsFileReads();
  std::vector<std::string> list;
  for (int i = 0; i < 50; ++i) {
    EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", ""), "DC");
    TIniFile(path_).ReadSectionValues("KORVA", list);
  }
  EXPECT_EQ(list, std::vector<std::string>{"CalcMode=DC"});
  EXPECT_EQ(SettingsFileReads(), settled);
  // The same size, at once: the change time tells.
  Write("[KORVA]\nCalcMode=UW\n");
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", ""), "UW");
  EXPECT_EQ(SettingsFileReads(), settled + 1);
  // Replaced by another file of the same text, and removed.
  const std::string other = dir_ + "/other.ini";
  std::ofstream(other, std::ios::binary) << "[KORVA]\nCalcMode=XY\n";
  ASSERT_EQ(std::rename(other.c_str(), path_.c_str()), 0);
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", ""), "XY");
  ASSERT_EQ(std::remove(path_.c_str()), 0);
  EXPECT_EQ(ini.ReadString("KORVA", "CalcMode", "gone"), "gone");
}

TEST_F(IniFileTest, ValuesAreCutTo2047Characters) {
  const std::string long_value(5000, 'v');
  Write("[S]\nK=" + long_value + "\n");
  EXPECT_EQ(TIniFile(path_).ReadString("S", "K", ""), long_value.substr(0, 2047));
  EXPECT_EQ(TIniFile(path_).ReadString("S", "none", std::string(3000, 'd')).size(), 2047u);
}

TEST_F(IniFileTest, ReadSectionValues) {
  Write("[ZET_DATABASE]\n"
        "DSN_source = zetdata\n"
        "DSN_user=\n"
        "DSN_password=secret\n"
        "Flag\n"
        "; DSN_user=commented\n"
        "DSN_SOURCE=second\n"
        "[Other]\n"
        "x=1\n");
  std::vector<std::string> list;
  TIniFile(path_).ReadSectionValues("zet_database", list);
  // A repeated name keeps its place and the first value, under the spelling
  // it was last listed with.
  EXPECT_EQ(list, (std::vector<std::string>{"DSN_SOURCE=zetdata", "DSN_password=secret"}));
  EXPECT_EQ(ListValue(list, "dsn_source"), "zetdata");
  EXPECT_EQ(ListValue(list, "DSN_password"), "secret");
  EXPECT_EQ(ListValue(list, "DSN_user"), "");
  EXPECT_EQ(ListValue(list, "DSN"), "");
}

TEST_F(IniFileTest, ReadSectionValuesSeesOnlyWhatTheKeyNameBufferHolds) {
  // 20-character names take 21 buffer characters each: 780 fit in the 16382
  // usable characters, the 781st is cut to its first 2 characters.
  std::string text = "[S]\n";
  for (int i = 0; i < 800; ++i) {
    char name[32];
    snprintf(name, sizeof name, "key%017d", i);
    text += std::string(name) + "=v" + std::to_string(i) + "\n";
  }
  text += "ke=cut\n";
  Write(text);
  std::vector<std::string> list;
  TIniFile(path_).ReadSectionValues("S", list);
  ASSERT_EQ(list.size(), 781u);
  EXPECT_EQ(list[779], "key00000000000000779=v779");
  EXPECT_EQ(list[780], "ke=cut");  // the cut name reads the key of that name
}

TEST_F(IniFileTest, ListValueOnHandMadeLists) {
  const std::vector<std::string> list = {"novalue", "A=1", "a=2", "B==x", "=y"};
  EXPECT_EQ(ListValue(list, "a"), "1");
  EXPECT_EQ(ListValue(list, "B"), "=x");
  EXPECT_EQ(ListValue(list, ""), "y");
  EXPECT_EQ(ListValue(list, "novalue"), "");
}

TEST_F(IniFileTest, SurvivesMalformedFiles) {
  std::string junk;
  for (int i = 0; i < 100000; ++i) junk += static_cast<char>((i * 7919) % 256);
  const std::vector<std::string> cases = {
      junk,
      "CalcMode=UW\nno section at all\n",
      std::string(3 << 20, 'x') + "\n[KORVA]\nCalcMode=UW\n",
      "[KORVA\nCalcMode=UW\n[]\n=\n==\n[KORVA]]\n",
      std::string("[KORVA]\nCalc\0Mode=UW\nCalcMode=U\0W\n", 32),
      "\xEF\xBB\xBF[KORVA]\r\nCalcMode=UW",
  };
  for (const std::string& c : cases) {
    Write(c);
    TIniFile ini(path_);
    EXPECT_NO_THROW(ini.ReadString("KORVA", "CalcMode", "DC"));
    std::vector<std::string> list;
    EXPECT_NO_THROW(ini.ReadSectionValues("KORVA", list));
  }
  Write(cases[2]);
  EXPECT_EQ(TIniFile(path_).ReadString("KORVA", "CalcMode", "DC"), "UW");
  Write(cases[5]);  // byte-order mark, no final line break
  EXPECT_EQ(TIniFile(path_).ReadString("KORVA", "CalcMode", "DC"), "UW");
  Write(cases[1]);
  EXPECT_EQ(TIniFile(path_).ReadString("KORVA", "CalcMode", "DC"), "DC");
}

}  // namespace
}  // namespace zetini
