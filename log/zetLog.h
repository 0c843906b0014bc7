// The text log: one file per process, opened at load with a version
// banner, written one flushed line at a time.
//
// zetLogMsg takes no lock; callers on several threads go through
// DumpToFile (log/zetUtilities.h), which serialises them.
#ifndef HISTDATA_LOG_ZETLOG_H_
#define HISTDATA_LOG_ZETLOG_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "log/ProgVersionInfo.h"

namespace zetlog {

// An open log file. Each Write is one system call, so a line is on its way
// to disk (in the kernel) when Write returns and no buffer needs a flush.
class TLogFile {
 public:
  TLogFile() = default;
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;
  ~TLogFile() { Close(); }

  bool IsOpen() const { return fd_ >= 0; }
  // Raises std::system_error when the bytes cannot all be written.
  void Write(std::string_view bytes);
  void Close();

 private:
  friend void zetLogOpenFile(TLogFile& file, const std::string& name);
  int fd_ = -1;
};

// Opens `name` into `file` by the day rule: a file last written today (local
// date) is appended to, any other is created anew (emptied). Raises
// std::system_error when it cannot be opened; no folder is created.
void zetLogOpenFile(TLogFile& file, const std::string& name);

// Opens the log and writes its banner. An empty name, or a file that cannot
// be opened, leaves logging off. `second_log_name` names the log of kind-3
// messages; empty drops them. Opening again closes the previous log first.
void zetLogOpen(const std::string& log_name, const std::string& second_log_name);

// Writes one line: kind 0 prefixes "Error: ", kind 1 "Warning: ", kind 3
// goes to the second log, any other kind is written unchanged. Does nothing
// while the log is off. Raises std::system_error on a write error.
void zetLogMsg(std::string_view message, uint8_t kind);

// Whether a log is open (the last zetLogOpen succeeded).
bool zetLogIsOpen();

// Closes the log and empties both names.
void zetLogClose();

// Records "except.ico" as the exception icon when that file exists in the
// working folder. Runs when the log unit is loaded.
void zetLogSetExceptionIcon();
// The recorded icon file name, or nullptr.
const char* zetLogExceptionIcon();

// The two banner lines: line 1 is the product name (else the original file
// name), "(" + internal name + ")" when there is one, a blank and the file
// version; line 2 is the company name and a blank (when there is one) and
// the copyright. Line 2 is written only when it is not empty.
void zetLogBanner(const TProgramVersionInfo& info, std::string& line1, std::string& line2);

}  // namespace zetlog

#endif  // HISTDATA_LOG_ZETLOG_H_
