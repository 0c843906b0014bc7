// How this platform writes paths, and which of the system's files sit at
// fixed places on it.
#ifndef HISTDATA_PLATFORM_OS_PATHS_H_
#define HISTDATA_PLATFORM_OS_PATHS_H_

namespace os {

#ifdef _WIN32
inline constexpr char kPathSeparator[] = "\\";
// The log is "C:\HistData\VELD.log", whatever the command line says.
inline constexpr bool kLogAtFixedPath = true;
#else
inline constexpr char kPathSeparator[] = "/";
// The command line or the environment names the log's folder.
inline constexpr bool kLogAtFixedPath = false;
#endif

}  // namespace os

#endif  // HISTDATA_PLATFORM_OS_PATHS_H_
