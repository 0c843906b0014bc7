#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/module_folder.h"
#include "platform/os/named_lock.h"
#include "platform/os/registry.h"
#include "platform/os/system_folder.h"
#include "platform/os/version_resource.h"

namespace os {
namespace {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/os_test_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& text) const {
    const std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << text;
    return p;
  }

 private:
  std::string path_;
};

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvVar() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

const char kExport[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
    "\"iniServer\"=\"wrong\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Ardan]\r\n"
    "\"iniServer\"=\"host1\"\r\n"
    "\"iniFirm\"=\"firm \\\"1\\\" \\\\x\"\r\n"
    "\"iniRole\"=dword:00000001\r\n"
    "\"Blob\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\"Expand\"=hex(2):25,00,41,00,00,00\r\n"
    "\"Gone\"=\"x\"\r\n"
    "\"Gone\"=-\r\n"
    "@=\"default\"\r\n";

TEST(Registry, ReadsStringValuesOfTheKey) {
  TempDir dir;
  const std::string file = dir.Write("registry.reg", kExport);
  RegistryKey key;
  ASSERT_TRUE(key.OpenLocalMachineKey("Software\\Ardan", file));
  EXPECT_EQ(key.ReadString("iniServer"), "host1");
  EXPECT_EQ(key.ReadString("INISERVER"), "host1");  // value names ignore case
  EXPECT_EQ(key.ReadString("iniFirm"), "firm \"1\" \\x");
  EXPECT_EQ(key.ReadString("iniCustom"), "");  // missing
  EXPECT_EQ(key.ReadString("Gone"), "");       // deleted by a later line
  EXPECT_EQ(key.ReadString("Expand"), "%A");
  EXPECT_EQ(key.ReadString(""), "default");
  // The key path ignores case too.
  RegistryKey lower;
  EXPECT_TRUE(lower.OpenLocalMachineKey("software\\ardan\\", file));
  EXPECT_EQ(lower.ReadString("iniServer"), "host1");
}

TEST(Registry, OtherTypesRaiseInvalidDataType) {
  TempDir dir;
  RegistryKey key;
  ASSERT_TRUE(key.OpenLocalMachineKey("Software\\Ardan", dir.Write("registry.reg", kExport)));
  try {
    key.ReadString("iniRole");
    FAIL() << "no error";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'iniRole'");
  }
  EXPECT_THROW(key.ReadString("Blob"), ERegistryException);
}

TEST(Registry, MissingFileOrKeyReadsEmpty) {
  TempDir dir;
  RegistryKey key;
  EXPECT_FALSE(key.OpenLocalMachineKey("Software\\Ardan", dir.path() + "/none.reg"));
  EXPECT_EQ(key.ReadString("iniServer"), "");
  EXPECT_FALSE(key.OpenLocalMachineKey("Software\\Ardan",
                                       dir.Write("other.reg", "[HKEY_CURRENT_USER\\Software\\Ardan]\n"
                                                              "\"iniServer\"=\"x\"\n")));
  EXPECT_EQ(key.ReadString("iniServer"), "");
  // A deleted key is missing.
  EXPECT_FALSE(key.OpenLocalMachineKey(
      "Software\\Ardan", dir.Write("del.reg", std::string(kExport) + "[-HKEY_LOCAL_MACHINE\\Software\\Ardan]\n")));
}

TEST(Registry, Utf16ExportWithByteOrderMark) {
  TempDir dir;
  const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Ardan]\r\n\"iniServer\"=\"h\xc3\xa9\"\r\n";
  // Encode as UTF-16LE (the one non-ASCII character by hand).
  std::string utf16 = "\xFF\xFE";
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) == 0xC3) {
      utf16 += "\xE9";
      utf16 += '\0';
      ++i;
      continue;
    }
    utf16 += text[i];
    utf16 += '\0';
  }
  RegistryKey key;
  ASSERT_TRUE(key.OpenLocalMachineKey("Software\\Ardan", dir.Write("u.reg", utf16)));
  EXPECT_EQ(key.ReadString("iniServer"), "h\xc3\xa9");
}

TEST(Registry, SurvivesMalformedFiles) {
  TempDir dir;
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 131) % 256);
  const std::string cases[] = {
      junk,
      "[HKEY_LOCAL_MACHINE\\Software\\Ardan]\n\"iniServer\"=\"unterminated\n\"iniFirm\n=\n@@\n\"x\"=\\\n",
      "[HKEY_LOCAL_MACHINE\\Software\\Ardan\n\"iniServer\"=\"x\"\n",
      std::string(1 << 20, 'a') + "\n[HKEY_LOCAL_MACHINE\\Software\\Ardan]\n\"iniServer\"=\"ok\"\n",
  };
  for (const std::string& c : cases) {
    RegistryKey key;
    key.OpenLocalMachineKey("Software\\Ardan", dir.Write("bad.reg", c));
    EXPECT_NO_THROW(key.ReadString("iniServer"));
  }
  RegistryKey key;
  EXPECT_TRUE(key.OpenLocalMachineKey("Software\\Ardan", dir.Write("bad.reg", cases[3])));
  EXPECT_EQ(key.ReadString("iniServer"), "ok");
}

TEST(SystemSettingsFolder, DefaultAndEnvironment) {
  {
    EnvVar env("HISTDATA_SYSCONF_DIR", nullptr);
    EXPECT_EQ(SystemSettingsFolder(), "/etc/histdata");
    EXPECT_EQ(RegistryFilePath(), "/etc/histdata/registry.reg");
  }
  {
    EnvVar env("HISTDATA_SYSCONF_DIR", "/srv/conf/");
    EXPECT_EQ(SystemSettingsFolder(), "/srv/conf");
  }
  {
    EnvVar env("HISTDATA_SYSCONF_DIR", "");
    EXPECT_EQ(SystemSettingsFolder(), "/etc/histdata");
  }
}

TEST(ModuleFolder, IsTheFolderOfThisTestProgram) {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  ASSERT_GT(n, 0);
  std::string exe(buf, static_cast<size_t>(n));
  EXPECT_EQ(ModuleFolder(), exe.substr(0, exe.rfind('/')));
  EXPECT_NE(ModuleFolder().back(), '/');
}

TEST(NamedLock, SameNameSameMutex) {
  EXPECT_EQ(&NamedLock("FLog"), &NamedLock(std::string("FLog")));
  EXPECT_NE(&NamedLock("FLog"), &NamedLock("DB"));
  // The lock serialises: a counter bumped under it by many threads adds up.
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<std::mutex> lock(NamedLock("counter"));
        ++counter;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 80000);
}

TEST(VersionResource, AbsentFromAProgramThatDefinesNone) {
  // Test programs are built without the generated version values.
  EXPECT_EQ(VersionResource(), nullptr);
}

}  // namespace
}  // namespace os
