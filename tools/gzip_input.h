// Reading gzip-compressed files as they are shipped: a file whose name ends
// in ".gz" reads as its uncompressed bytes, so that a loader never needs the
// file unpacked beside it first.
#ifndef HISTDATA_TOOLS_GZIP_INPUT_H_
#define HISTDATA_TOOLS_GZIP_INPUT_H_

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>

namespace admin {

// Whether `path` names a gzip file (by its ".gz" ending, any case).
bool IsGzipPath(const std::string& path);

// The uncompressed bytes of a gzip file (several members one after the
// other read as one). A damaged or cut-off file raises std::runtime_error
// naming it when the bad part is reached, never reads as shorter data.
class GzipFile {
 public:
  // Raises std::runtime_error when the file cannot be opened.
  explicit GzipFile(const std::string& path);
  ~GzipFile();
  GzipFile(const GzipFile&) = delete;
  GzipFile& operator=(const GzipFile&) = delete;

  // Up to `n` bytes; 0 at the end.
  size_t Read(char* buffer, size_t n);
  // Moves forward to uncompressed offset `offset` (decompressing what lies
  // before it); false when the file is shorter.
  bool SkipTo(int64_t offset);
  int64_t offset() const { return offset_; }

 private:
  std::string path_;
  void* file_ = nullptr;  // gzFile
  int64_t offset_ = 0;
};

// A std::streambuf over a GzipFile, for readers that take a std::istream.
class GzipStreamBuf : public std::streambuf {
 public:
  explicit GzipStreamBuf(const std::string& path) : file_(path) {}

 protected:
  int_type underflow() override;

 private:
  GzipFile file_;
  char buffer_[64 * 1024];
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_GZIP_INPUT_H_
