// histdata-server: the history service behind the standalone HTTP host.
//
//   histdata-server --port N [--address A] [--data-dir D] [--aliases FILE]
//                   [--log-dir L] [--workdir W] [connection limits]
//
// The working folder (W, else the current one) is where the settings file
// zet.ini is looked for first. The server runs until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "log/zetUtilities.h"
#include "platform/engine/aliases.h"
#include "platform/http/server.h"
#include "platform/os/open_files.h"
#include "platform/rtl/numbers.h"
#include "service/app.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: histdata-server --port N [--address A] [--data-dir D] [--aliases FILE]\n"
               "                       [--log-dir L] [--workdir W] [connection limits]\n");
  httphost::ServerOptions d;
  std::fprintf(stderr,
               "connection limits:\n"
               "  --max-connections C  connections open at once, idle or served (default %zu);\n"
               "                       a connection beyond them gets 503\n"
               "  --head-timeout S     seconds for a request's whole head to arrive (default %lld)\n"
               "  --idle-timeout S     seconds a kept-alive connection may wait for its next\n"
               "                       request (default %lld)\n",
               d.max_connections, static_cast<long long>(d.head_timeout.count() / 1000),
               static_cast<long long>(d.idle_timeout.count() / 1000));
}

struct Arguments {
  int port = -1;
  std::string address = "0.0.0.0";
  std::string data_dir = ".";
  std::string aliases;
  std::string log_dir;
  std::string workdir;
  httphost::ServerOptions limits;
};

bool Parse(int argc, char** argv, Arguments& args) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    int32_t n = 0;
    if (name == "--port") {
      if (!rtl::TryStrToInt(value, n) || n < 0 || n > 65535) return false;
      args.port = n;
    } else if (name == "--address") {
      args.address = value;
    } else if (name == "--data-dir") {
      args.data_dir = value;
    } else if (name == "--aliases") {
      args.aliases = value;
    } else if (name == "--log-dir") {
      args.log_dir = value;
    } else if (name == "--workdir") {
      args.workdir = value;
    } else if (name == "--max-connections" || name == "--head-timeout" ||
               name == "--idle-timeout") {
      if (!rtl::TryStrToInt(value, n) || n <= 0) return false;
      if (name == "--max-connections") args.limits.max_connections = static_cast<size_t>(n);
      if (name == "--head-timeout") args.limits.head_timeout = std::chrono::seconds(n);
      if (name == "--idle-timeout") args.limits.idle_timeout = std::chrono::seconds(n);
    } else {
      return false;
    }
  }
  return args.port >= 0;
}

// Relative folders given on the command line mean the folder the server was
// started in, not the working folder it moves to.
std::string Absolute(const std::string& path, const std::string& start_folder) {
  if (path.empty() || path[0] == '/') return path;
  return start_folder + "/" + path;
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  if (!Parse(argc, argv, args)) {
    Usage();
    return 2;
  }

  char cwd[4096];
  std::string start_folder = getcwd(cwd, sizeof(cwd)) ? cwd : ".";
  args.data_dir = Absolute(args.data_dir, start_folder);
  args.aliases = Absolute(args.aliases, start_folder);
  args.log_dir = Absolute(args.log_dir, start_folder);
  if (!args.workdir.empty() && chdir(args.workdir.c_str()) != 0) {
    std::fprintf(stderr, "histdata-server: cannot enter %s: %s\n", args.workdir.c_str(),
                 std::strerror(errno));
    return 1;
  }

  // Signals are taken by sigwait below; every thread started from here on
  // inherits the mask. A client that goes away must not kill the process.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Past a file size limit (ulimit -f) a log write fails and is counted;
  // the signal that comes with it would otherwise end the server.
  signal(SIGXFSZ, SIG_IGN);

  if (!args.log_dir.empty()) zetlog::SetLogFolder(args.log_dir);
  try {
    engine::ConfigureAliases(args.data_dir, args.aliases);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "histdata-server: %s\n", e.what());
    return 1;
  }
  hist::StartExtension();

  httphost::ServerOptions options = args.limits;
  options.address = args.address;
  options.port = static_cast<uint16_t>(args.port);
  // Requests beyond the pool's limit must still reach the pool at once,
  // which answers them itself: never fewer handler threads than that.
  int pool_limit = hist::Application()->MaxConnections();
  if (pool_limit > 0 && options.max_handler_threads <= static_cast<size_t>(pool_limit)) {
    options.max_handler_threads = static_cast<size_t>(pool_limit) + 16;
  }
  // Every open connection is a descriptor.
  os::OpenFileLimit files = os::RaiseOpenFileLimit();
  if (files.now > 0) {
    std::printf("histdata-server: open files limit %llu (was %llu), up to %zu connections\n",
                static_cast<unsigned long long>(files.now),
                static_cast<unsigned long long>(files.before), options.max_connections);
  }
  httphost::HttpServer server(options, [](host::Host& h) { hist::HttpExtensionProc(h); });
  try {
    server.Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "histdata-server: %s\n", e.what());
    hist::UnloadExtension();
    return 1;
  }
  std::printf("histdata-server listening on %s:%u\n", args.address.c_str(),
              static_cast<unsigned>(server.Port()));
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  server.Stop();
  hist::UnloadExtension();
  return 0;
}
