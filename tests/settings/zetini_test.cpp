#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/module_folder.h"
#include "platform/os/http_get.h"
#include "settings/registry_ini.h"
#include "settings/zetini.h"

namespace zetini {
namespace {

// A loopback HTTP server answering every request with one fixed reply and
// recording the request lines it saw.
class TinyHttpServer {
 public:
  TinyHttpServer(int status, std::string body) : status_(status), body_(std::move(body)) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 16);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~TinyHttpServer() {
    stop_ = true;
    shutdown(fd_, SHUT_RDWR);
    close(fd_);
    thread_.join();
  }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> RequestLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

 private:
  void Serve() {
    while (!stop_) {
      const int c = accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string head;
      char buf[1024];
      while (head.find("\r\n\r\n") == std::string::npos) {
        const ssize_t n = read(c, buf, sizeof buf);
        if (n <= 0) break;
        head.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(head.substr(0, head.find("\r\n")));
      }
      const std::string reply = "HTTP/1.1 " + std::to_string(status_) + " X\r\nContent-Length: " +
                                std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" +
                                body_;
      (void)!write(c, reply.data(), reply.size());
      close(c);
    }
  }

  int status_;
  std::string body_;
  int fd_;
  int port_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// A temporary working folder and system settings folder for one test.
class ZetIniTest : public ::testing::Test {
 protected:
  ZetIniTest() {
    char tmpl[] = "/tmp/zetini_test_XXXXXX";
    dir_ = mkdtemp(tmpl);
    work_ = dir_ + "/work";
    sys_ = dir_ + "/sys";
    mkdir(work_.c_str(), 0755);
    mkdir(sys_.c_str(), 0755);
    char cwd[4096];
    old_cwd_ = getcwd(cwd, sizeof cwd);
    EXPECT_EQ(chdir(work_.c_str()), 0);
    setenv("HISTDATA_SYSCONF_DIR", sys_.c_str(), 1);
  }
  void SetUp() override {
    // A settings file beside the test program would be found before the
    // system folder and the download this fixture arranges.
    if (Exists(os::ModuleFolder() + "/zet.ini")) GTEST_SKIP() << "zet.ini beside the test program";
  }
  ~ZetIniTest() override {
    unsetenv("HISTDATA_SYSCONF_DIR");
    EXPECT_EQ(chdir(old_cwd_.c_str()), 0);
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  void WriteRegistry(const std::string& values) {
    std::ofstream(sys_ + "/registry.reg")
        << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Ardan]\r\n"
        << values;
  }

  std::string dir_, work_, sys_, old_cwd_;
};

TEST_F(ZetIniTest, WorkingFolderComesFirst) {
  std::ofstream(work_ + "/zet.ini") << "[KORVA]\nCalcMode=WORK\n";
  std::ofstream(sys_ + "/zet.ini") << "[KORVA]\nCalcMode=SYS\n";
  auto ini = zetIniFile();
  EXPECT_EQ(ini->FileName(), "./zet.ini");
  EXPECT_EQ(ini->ReadString("KORVA", "CalcMode", ""), "WORK");
  // Each call gives a reader of its own.
  EXPECT_NE(zetIniFile().get(), ini.get());
}

TEST_F(ZetIniTest, WorkingFolderBeatsModuleFolder) {
  // The module folder is the folder of this test program; a file put there
  // would be found if the working folder did not come first.
  const std::string module_ini = os::ModuleFolder() + "/zetini_test_probe.ini";
  std::ofstream(module_ini) << "[KORVA]\nCalcMode=MODULE\n";
  EXPECT_EQ(zetIniFile("zetini_test_probe.ini")->ReadString("KORVA", "CalcMode", ""), "MODULE");
  std::ofstream(work_ + "/zetini_test_probe.ini") << "[KORVA]\nCalcMode=WORK\n";
  EXPECT_EQ(zetIniFile("zetini_test_probe.ini")->ReadString("KORVA", "CalcMode", ""), "WORK");
  unlink(module_ini.c_str());
}

TEST_F(ZetIniTest, SystemFolderIsTheLastLocalPlace) {
  std::ofstream(sys_ + "/zet.ini") << "[KORVA]\nCalcMode=SYS\n";
  auto ini = zetIniFile("");
  EXPECT_EQ(ini->FileName(), sys_ + "/zet.ini");
  EXPECT_EQ(ini->ReadString("KORVA", "CalcMode", ""), "SYS");
}

TEST(RegistryIniURL, Composition) {
  RegistryIni r;
  r.Server = "host1";
  r.Firm = "firm1";
  r.Custom = "web1";
  EXPECT_EQ(r.IniURL(), "http://host1/firm1/web1/zetini.htm");
  r.Role = "role1";
  EXPECT_EQ(r.IniURL(), "http://host1/firm1/role1/web1/zetini.htm");
  RegistryIni empty;
  EXPECT_EQ(empty.IniURL(), std::string("http://") + ConfiguredSettingsHost() + "/zetini.htm");
  EXPECT_STRNE(ConfiguredSettingsHost(), "");
  EXPECT_FALSE(empty.Succeeded);
  EXPECT_EQ(empty.PageName, "");
}

TEST_F(ZetIniTest, RegistryValuesBuildTheURL) {
  WriteRegistry("\"iniServer\"=\"host1\"\r\n\"iniFirm\"=\"firm1\"\r\n\"iniRole\"=\"\"\r\n"
                "\"iniCustom\"=\"web1\"\r\n");
  RegistryIni r;
  r.ReadRegistry();
  EXPECT_EQ(r.IniURL(), "http://host1/firm1/web1/zetini.htm");
}

TEST_F(ZetIniTest, RegistryTypeErrorReachesTheCaller) {
  WriteRegistry("\"iniServer\"=dword:00000001\r\n");
  try {
    zetIniFile();
    FAIL() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'iniServer'");
  }
}

TEST_F(ZetIniTest, DownloadWhenNoLocalFile) {
  TinyHttpServer server(200, "[KORVA]\r\nCalcMode=UW\r\nDBMode=SQL");
  WriteRegistry("\"iniServer\"=\"" + server.HostPort() + "\"\r\n\"iniFirm\"=\"firm1\"\r\n");
  auto ini = zetIniFile();
  EXPECT_EQ(ini->FileName(), "./zeturl.ini");
  EXPECT_EQ(server.RequestLines(), std::vector<std::string>{"GET /firm1/zetini.htm HTTP/1.1"});
  // The body without a final line break is saved with one CR LF.
  EXPECT_EQ(ReadFile(work_ + "/zeturl.ini"), "[KORVA]\r\nCalcMode=UW\r\nDBMode=SQL\r\n");
  EXPECT_EQ(ini->ReadString("KORVA", "DBMode", ""), "SQL");
}

TEST_F(ZetIniTest, FailedDownloadWritesNothing) {
  TinyHttpServer server(404, "not here");
  RegistryIni r;
  EXPECT_FALSE(r.SaveDownloadFile("http://" + server.HostPort() + "/zetini.htm", "./zeturl.ini"));
  EXPECT_FALSE(r.Succeeded);
  EXPECT_FALSE(Exists(work_ + "/zeturl.ini"));

  // Through the search: the reader is bound to the missing file and every
  // read yields the caller's default.
  WriteRegistry("\"iniServer\"=\"" + server.HostPort() + "\"\r\n");
  auto ini = zetIniFile();
  EXPECT_EQ(ini->FileName(), "./zeturl.ini");
  EXPECT_EQ(ini->ReadString("KORVA", "CalcMode", "DC"), "DC");
}

TEST_F(ZetIniTest, FailedDownloadKeepsTheEarlierFile) {
  std::ofstream("zeturl.ini") << "[KORVA]\r\nCalcMode=OLD\r\n";
  TinyHttpServer server(500, "oops");
  WriteRegistry("\"iniServer\"=\"" + server.HostPort() + "\"\r\n");
  EXPECT_EQ(zetIniFile()->ReadString("KORVA", "CalcMode", "DC"), "OLD");
}

TEST_F(ZetIniTest, SuccessfulDownloadReplacesTheFile) {
  std::ofstream("zeturl.ini") << "old contents that are longer than the new ones\r\n";
  TinyHttpServer server(200, "new\r\n");
  RegistryIni r;
  EXPECT_TRUE(r.SaveDownloadFile("http://" + server.HostPort() + "/x", "./zeturl.ini"));
  EXPECT_EQ(ReadFile("zeturl.ini"), "new\r\n\r\n");
}

TEST_F(ZetIniTest, UnreachableHostRaises) {
  // A port that was just free: nothing listens there.
  int port;
  {
    TinyHttpServer probe(200, "");
    port = std::stoi(probe.HostPort().substr(10));
  }
  WriteRegistry("\"iniServer\"=\"127.0.0.1:" + std::to_string(port) + "\"\r\n");
  EXPECT_THROW(zetIniFile(), os::EHttpError);
  EXPECT_FALSE(Exists(work_ + "/zeturl.ini"));
}

TEST_F(ZetIniTest, OnlyWebSchemesAreFetched) {
  std::ofstream(dir_ + "/secret") << "s";
  RegistryIni r;
  EXPECT_THROW(r.SaveDownloadFile("file://" + dir_ + "/secret", "./zeturl.ini"), os::EHttpError);
  EXPECT_FALSE(Exists(work_ + "/zeturl.ini"));
}

TEST_F(ZetIniTest, ConcurrentDownloadsNeverShowAHalfWrittenFile) {
  const std::string body = "[KORVA]\r\n" + std::string(200000, 'x') + "=1\r\nCalcMode=UW";
  TinyHttpServer server(200, body);
  const std::string url = "http://" + server.HostPort() + "/zetini.htm";
  {
    RegistryIni first;
    ASSERT_TRUE(first.SaveDownloadFile(url, "./zeturl.ini"));
  }
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop) {
      if (ReadFile("zeturl.ini") != body + "\r\n") torn.fetch_add(1);
    }
  });
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&] {
      for (int i = 0; i < 5; ++i) {
        RegistryIni r;
        r.SaveDownloadFile(url, "./zeturl.ini");
      }
    });
  }
  for (auto& w : writers) w.join();
  stop = true;
  reader.join();
  EXPECT_EQ(torn.load(), 0);
  EXPECT_EQ(server.RequestLines().size(), 21u);
}

}  // namespace
}  // namespace zetini
