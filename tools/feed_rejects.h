// The reject file of a feed: every line that is not a tick, with where it
// stood and why, so that nothing a feed is sent is lost without a trace.
//
// One line per reject: "SEQ<TAB>FILE:LINE: REASON<TAB>TEXT", SEQ being the
// line's number in the whole source (across rotated files) and TEXT the
// line as it came (control bytes shown as \xNN). Rejects reach the file
// before the batch they belong to is committed; at start, those past the
// committed position are dropped, since the feed reads those lines again.
#ifndef HISTDATA_TOOLS_FEED_REJECTS_H_
#define HISTDATA_TOOLS_FEED_REJECTS_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace admin {

class RejectFile {
 public:
  // Opens `path` for appending after dropping its entries past
  // `committed_seq`. Raises std::runtime_error when it cannot.
  RejectFile(const std::string& path, int64_t committed_seq);
  ~RejectFile();
  RejectFile(const RejectFile&) = delete;
  RejectFile& operator=(const RejectFile&) = delete;

  void Add(int64_t seq, const std::string& file, int64_t line, const std::string& reason,
           std::string_view text);
  // Onto the disk; before the commit of the lines added. Raises when the
  // file refuses.
  void Flush();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  std::string pending_;
};

}  // namespace admin

#endif  // HISTDATA_TOOLS_FEED_REJECTS_H_
