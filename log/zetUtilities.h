// The process-wide log lock and the append every part of the system logs
// through.
#ifndef HISTDATA_LOG_ZETUTILITIES_H_
#define HISTDATA_LOG_ZETUTILITIES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace zetlog {

// The name callers pass to DumpToFile. The line always goes to the one log
// opened by InitialLock, whatever name is passed.
extern const char* const kLogFileName;

// Where InitialLock opens the log: "C:\HistData\VELD.log" on Windows;
// elsewhere "VELD.log" in the folder set here (command line) or named by the
// environment variable HISTDATA_LOG_DIR. No folder set means no log.
void SetLogFolder(const std::string& folder);
std::string LogPath();

// Creates the log lock and opens the log with its banner (once, at start).
void InitialLock();

// Appends `message` and CR LF to the log and flushes. Never raises; does
// nothing while the log is off. `file_name` and `flag` are not used.
void DumpToFile(std::string_view file_name, std::string_view message, int flag);

// DumpToFile(kLogFileName, message, 1): how the request path logs a line.
inline void Log(std::string_view message) { DumpToFile(kLogFileName, message, 1); }

// Lines lost since the start: each DumpToFile whose write failed (a full
// disk, a file size limit), or that found no log because the one named at
// start could not be opened. For the operator's metrics.
uint64_t LogWriteFailures();

// "yyyy/mm/dd hh:nn:ss =>" of the current local time, the prefix of the
// exception and entry lines.
std::string LogTimePrefix();

}  // namespace zetlog

#endif  // HISTDATA_LOG_ZETUTILITIES_H_
