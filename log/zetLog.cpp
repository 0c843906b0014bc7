#include "log/zetLog.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>

#include "platform/os/files.h"
#include "platform/os/named_lock.h"
#include "platform/os/process_lifetime.h"
#include "platform/rtl/datetime.h"

namespace zetlog {

namespace {

struct LogState {
  std::string name;         // empty: logging is off
  std::string second_name;  // log of kind-3 messages; empty: dropped
  TLogFile file;
  std::unique_ptr<TProgramVersionInfo> version;  // kept for the life of the process
};

// Never destroyed: request threads may still log while the process exits.
LogState& State() {
  static auto* state = os::KeptForProcess(new LogState);
  return *state;
}

std::mutex& LogLock() {
  static std::mutex& lock = os::NamedLock("FLog");
  return lock;
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::system_error(n < 0 ? errno : EIO, std::generic_category(), "log write");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

// Whole local days of the file's last write.
bool LastWriteDay(const std::string& name, double& day) {
  struct stat st;
  if (stat(name.c_str(), &st) != 0) return false;
  struct tm local;
  if (localtime_r(&st.st_mtime, &local) == nullptr) return false;
  return rtl::TryEncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, day);
}

std::atomic<const char*> g_exception_icon{nullptr};

// Load and unload of the unit: the icon is handed over at load, the log is
// closed at unload.
struct UnitLifetime {
  UnitLifetime() { zetLogSetExceptionIcon(); }
  ~UnitLifetime() { zetLogClose(); }
} g_unit_lifetime;

}  // namespace

void TLogFile::Write(std::string_view bytes) {
  if (fd_ < 0) throw std::system_error(EBADF, std::generic_category(), "log write");
  WriteAll(fd_, bytes);
}

void TLogFile::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void zetLogOpenFile(TLogFile& file, const std::string& name) {
  file.Close();
  // The log holds the current day's lines: a file last written on another
  // day starts over.
  double day;
  const bool today = LastWriteDay(name, day) && day == std::trunc(rtl::Now());
  const int fd = os::OpenForAppend(name, !today);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "log open " + name);
  file.fd_ = fd;
}

void zetLogBanner(const TProgramVersionInfo& info, std::string& line1, std::string& line2) {
  line1 = info.GetVersionString(8);
  if (line1.empty()) line1 = info.GetVersionString(7);
  const std::string internal = info.GetVersionString(4);
  if (!internal.empty()) line1 += "(" + internal + ")";
  line1 += " " + info.GetVersionString(3);

  line2.clear();
  const std::string company = info.GetVersionString(1);
  if (!company.empty()) line2 = company + " ";
  line2 += info.GetVersionString(5);
}

void zetLogOpen(const std::string& log_name, const std::string& second_log_name) {
  std::lock_guard<std::mutex> lock(LogLock());
  LogState& s = State();
  s.file.Close();
  s.name = log_name;
  if (!s.name.empty()) {
    try {
      zetLogOpenFile(s.file, s.name);
    } catch (...) {
      s.name.clear();  // logging stays off for the life of the process
    }
  }
  s.second_name = second_log_name;
  if (s.name.empty()) return;
  try {
    if (!s.version) s.version = std::make_unique<TProgramVersionInfo>();
    std::string line1, line2;
    zetLogBanner(*s.version, line1, line2);
    std::string banner = line1 + "\r\n";
    if (!line2.empty()) banner += line2 + "\r\n";
    s.file.Write(banner);
  } catch (...) {
    // The banner is a courtesy; the log stays open without it.
  }
}

void zetLogMsg(std::string_view message, uint8_t kind) {
  LogState& s = State();
  if (s.name.empty()) return;
  // One buffer per thread, so that a line costs no allocation once warm.
  thread_local std::string line;
  line.clear();
  if (kind == 0) line = "Error: ";
  if (kind == 1) line = "Warning: ";
  line.append(message);
  line += "\r\n";
  if (kind == 3) {
    if (s.second_name.empty()) return;
    const int fd = os::OpenForAppend(s.second_name, false);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "log open " + s.second_name);
    try {
      WriteAll(fd, line);
    } catch (...) {
      close(fd);
      throw;
    }
    close(fd);
    return;
  }
  s.file.Write(line);
}

bool zetLogIsOpen() {
  std::lock_guard<std::mutex> lock(LogLock());
  return !State().name.empty();
}

void zetLogClose() {
  std::lock_guard<std::mutex> lock(LogLock());
  LogState& s = State();
  s.file.Close();
  s.name.clear();
  s.second_name.clear();
}

void zetLogSetExceptionIcon() {
  struct stat st;
  if (stat("except.ico", &st) == 0 && !S_ISDIR(st.st_mode)) {
    // The name lives for the rest of the process.
    static const char* const kIcon = "except.ico";
    g_exception_icon.store(kIcon);
  }
}

const char* zetLogExceptionIcon() { return g_exception_icon.load(); }

}  // namespace zetlog
