#include "tools/gzip_input.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace admin {

bool IsGzipPath(const std::string& path) {
  if (path.size() < 3) return false;
  const std::string end = path.substr(path.size() - 3);
  return end == ".gz" || end == ".GZ" || end == ".Gz" || end == ".gZ";
}

GzipFile::GzipFile(const std::string& path) : path_(path) {
  errno = 0;
  gzFile file = gzopen(path.c_str(), "rb");
  if (file == nullptr) {
    throw std::runtime_error(path + ": cannot open: " +
                             (errno != 0 ? std::strerror(errno) : "out of memory"));
  }
  gzbuffer(file, 256 * 1024);
  file_ = file;
}

GzipFile::~GzipFile() {
  if (file_ != nullptr) gzclose_r(static_cast<gzFile>(file_));
}

size_t GzipFile::Read(char* buffer, size_t n) {
  gzFile file = static_cast<gzFile>(file_);
  const int got = gzread(file, buffer, static_cast<unsigned>(n));
  if (got < 0) {
    int code = 0;
    const char* message = gzerror(file, &code);
    throw std::runtime_error(path_ + ": bad gzip data: " + (message ? message : "unknown error"));
  }
  if (got == 0 && !gzeof(file)) {
    int code = 0;
    const char* message = gzerror(file, &code);
    if (code != Z_OK) throw std::runtime_error(path_ + ": bad gzip data: " + message);
  }
  if (got == 0) {
    // zlib reads a file cut off inside a member as a short one; its error
    // state says so.
    int code = 0;
    gzerror(file, &code);
    if (code == Z_BUF_ERROR) throw std::runtime_error(path_ + ": gzip data cut off (unexpected end of file)");
  }
  offset_ += got;
  return static_cast<size_t>(got);
}

bool GzipFile::SkipTo(int64_t offset) {
  char buffer[64 * 1024];
  while (offset_ < offset) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(sizeof buffer, offset - offset_));
    if (Read(buffer, want) == 0) return false;
  }
  return offset_ == offset;
}

GzipStreamBuf::int_type GzipStreamBuf::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  const size_t got = file_.Read(buffer_, sizeof buffer_);
  if (got == 0) return traits_type::eof();
  setg(buffer_, buffer_, buffer_ + got);
  return traits_type::to_int_type(*gptr());
}

}  // namespace admin
