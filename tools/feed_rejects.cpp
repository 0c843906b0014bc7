#include "tools/feed_rejects.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/os/files.h"
#include "tools/csv_values.h"

namespace admin {
namespace {

std::string Escaped(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F || c == '\\') {
      AppendHexEscape(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

RejectFile::RejectFile(const std::string& path, int64_t committed_seq) : path_(path) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::string kept, line;
    bool dropped = false;
    while (std::getline(in, line)) {
      const int64_t seq = std::strtoll(line.c_str(), nullptr, 10);
      if (seq <= committed_seq) {
        kept += line + "\n";
      } else {
        dropped = true;
      }
    }
    in.close();
    if (dropped) {
      const int error = os::ReplaceFileContents(path, kept);
      if (error != 0) throw std::runtime_error(path + ": cannot rewrite: " + std::strerror(error));
    }
  }
  // The data folder of a store that lives elsewhere (PostgreSQL) may not
  // be there yet.
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ec;
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ == nullptr) throw std::runtime_error(path + ": cannot open: " + std::strerror(errno));
}

RejectFile::~RejectFile() {
  try {
    Flush();
  } catch (const std::exception&) {
  }
  std::fclose(file_);
}

void RejectFile::Add(int64_t seq, const std::string& file, int64_t line, const std::string& reason,
                     std::string_view text) {
  pending_ += std::to_string(seq) + "\t" + file + ":" + std::to_string(line) + ": " + reason + "\t" +
              Escaped(text) + "\n";
}

void RejectFile::Flush() {
  if (pending_.empty()) return;
  if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size() ||
      std::fflush(file_) != 0) {
    throw std::runtime_error(path_ + ": cannot write: " + std::strerror(errno));
  }
  pending_.clear();
}

}  // namespace admin
