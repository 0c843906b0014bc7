// histdata-server: the history service behind the standalone HTTP host, and
// the operator's listener on a second port. `histdata-server --help` tells
// every option; the server runs until SIGINT or SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "log/zetUtilities.h"
#include "platform/engine/aliases.h"
#include "platform/engine/pack_cache.h"
#include "platform/http/server.h"
#include "platform/metrics/metrics.h"
#include "platform/os/module_folder.h"
#include "platform/os/open_files.h"
#include "platform/os/version_resource.h"
#include "platform/rtl/numbers.h"
#include "service/app.h"
#include "service/ops/ops_handler.h"
#include "service/ops/web_files.h"

namespace {

constexpr int kExitStartFailed = 1;
constexpr int kExitUsage = 2;

struct Arguments {
  int port = -1;
  std::string address = "127.0.0.1";
  int admin_port = -1;
  std::string admin_address = "127.0.0.1";
  std::string data_dir = ".";
  std::string aliases;
  std::string log_dir;
  std::string workdir;
  std::string web_dir;
  int max_connections = 0;  // 0: the host's defaults
  int head_timeout = 0;
  int idle_timeout = 0;
  int pack_cache_mb = -1;  // -1: the cache's own default
};

// A value checker: false when the text is not acceptable.
using Setter = std::function<bool(Arguments&, const std::string&)>;

struct Option {
  const char* name;
  const char* value;  // what the value is, for the help
  const char* help;   // meaning and default
  const char* expected;  // what a bad value should have been
  Setter set;
};

Setter Text(std::string Arguments::*field) {
  return [field](Arguments& a, const std::string& v) {
    a.*field = v;
    return !v.empty();
  };
}

Setter Number(int Arguments::*field, int low, int high) {
  return [=](Arguments& a, const std::string& v) {
    int32_t n = 0;
    if (!rtl::TryStrToInt(v, n) || n < low || n > high) return false;
    a.*field = n;
    return true;
  };
}

const Option kOptions[] = {
    {"--port", "N", "history port (required; 0 picks a free one)", "a port number 0-65535",
     Number(&Arguments::port, 0, 65535)},
    {"--address", "A",
     "address of the history port (default 127.0.0.1; 0.0.0.0 for every interface)",
     "an address", Text(&Arguments::address)},
    {"--admin-port", "N",
     "operator's port: /metrics, /health, /chart, /history (default: none, off)",
     "a port number 0-65535", Number(&Arguments::admin_port, 0, 65535)},
    {"--admin-address", "A", "address of the operator's port (default 127.0.0.1)", "an address",
     Text(&Arguments::admin_address)},
    {"--data-dir", "D", "folder of the embedded stores (default: the starting folder)", "a folder",
     Text(&Arguments::data_dir)},
    {"--aliases", "FILE", "alias configuration (default D/aliases.ini when it exists)", "a file",
     Text(&Arguments::aliases)},
    {"--log-dir", "L", "folder of VELD.log (default $HISTDATA_LOG_DIR)", "a folder",
     Text(&Arguments::log_dir)},
    {"--workdir", "W", "working folder, searched first for zet.ini (default: the current one)",
     "a folder", Text(&Arguments::workdir)},
    {"--max-connections", "C",
     "connections open at once, idle or served; one beyond them gets 503 (default 10000)",
     "a whole number above 0", Number(&Arguments::max_connections, 1, 100000000)},
    {"--head-timeout", "S", "seconds for a request's whole head to arrive (default 10)",
     "a whole number of seconds above 0", Number(&Arguments::head_timeout, 1, 86400)},
    {"--idle-timeout", "S",
     "seconds a kept-alive connection may wait for its next request (default 30)",
     "a whole number of seconds above 0", Number(&Arguments::idle_timeout, 1, 86400)},
    {"--pack-cache-mb", "MB",
     "memory for the packs of unchanged days last read, kept for the requests to come "
     "(default 64; 0: none)",
     "a whole number of megabytes, 0 or more", Number(&Arguments::pack_cache_mb, 0, 1048576)},
    {"--web-dir", "DIR",
     "folder of the chart page (default <program folder>/web, else "
     "<program folder>/../share/histdata/web)",
     "a folder", Text(&Arguments::web_dir)},
};

void Help() {
  std::printf(
      "usage: histdata-server --port N [OPTION VALUE]...\n"
      "\n"
      "Serves history requests over HTTP on --port and, with --admin-port, the\n"
      "operator's metrics, health check and chart page on a second port.\n"
      "\n"
      "Options:\n");
  for (const Option& o : kOptions) {
    // The meaning wraps at 78 columns under its own column.
    std::string line = "  " + std::string(o.name) + " " + o.value;
    line.resize(23, ' ');
    size_t width = line.size();
    std::string word;
    for (const char* p = o.help;; ++p) {
      if (*p != ' ' && *p != '\0') {
        word += *p;
        continue;
      }
      if (width + 1 + word.size() > 78 && width > 23) {
        line += "\n" + std::string(23, ' ');
        width = 23;
      } else if (width > 23) {
        line += ' ';
        ++width;
      }
      line += word;
      width += word.size();
      word.clear();
      if (*p == '\0') break;
    }
    std::printf("%s\n", line.c_str());
  }
  std::printf(
      "  %-20s %s\n"
      "\n"
      "Settings: zet.ini is read from the working folder, else beside the program,\n"
      "else from /etc/histdata (or $HISTDATA_SYSCONF_DIR); with none of them it is\n"
      "downloaded from the settings host of registry.reg in that folder. Its [KORVA]\n"
      "request settings are read at every request; MaxConnection once, at start;\n"
      "the logins (DBUSER, DBPASSWORD, [ZET_DATABASE]) when a module is made.\n"
      "Log: VELD.log in --log-dir, else in $HISTDATA_LOG_DIR; the folder must exist.\n"
      "Without either the server runs without a log. Startup errors go to stderr.\n"
      "\n"
      "Exit status: 0 stopped by SIGINT or SIGTERM; 1 could not start (a port in\n"
      "use, an unreadable alias configuration, a missing working folder); 2 a bad\n"
      "command line.\n",
      "--help", "this text");
}

// One line naming what is wrong; the caller exits with kExitUsage.
bool UsageError(const std::string& message) {
  std::fprintf(stderr, "histdata-server: %s (see --help)\n", message.c_str());
  return false;
}

bool Parse(int argc, char** argv, Arguments& args, bool& help) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i], value;
    if (name == "--help" || name == "-h") {
      help = true;
      return true;
    }
    bool has_value = false;
    if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      has_value = true;
    }
    const Option* option = nullptr;
    for (const Option& o : kOptions) {
      if (name == o.name) option = &o;
    }
    if (option == nullptr) return UsageError("unknown option " + name);
    if (!has_value) {
      if (i + 1 >= argc) return UsageError(name + " needs a value");
      value = argv[++i];
    }
    if (!option->set(args, value)) {
      return UsageError(name + ": \"" + value + "\" is not " + option->expected);
    }
  }
  if (args.port < 0) return UsageError("--port is required");
  return true;
}

// Relative folders given on the command line mean the folder the server was
// started in, not the working folder it moves to.
std::string Absolute(const std::string& path, const std::string& start_folder) {
  if (path.empty() || path[0] == '/') return path;
  return start_folder + "/" + path;
}

std::string BuildVersion() {
  const os::VersionValues* v = os::VersionResource();
  return v != nullptr && v->product_version[0] != '\0' ? v->product_version : "unknown";
}

}  // namespace

int main(int argc, char** argv) {
  Arguments args;
  bool help = false;
  if (!Parse(argc, argv, args, help)) return kExitUsage;
  if (help) {
    Help();
    return 0;
  }

  char cwd[4096];
  std::string start_folder = getcwd(cwd, sizeof(cwd)) ? cwd : ".";
  args.data_dir = Absolute(args.data_dir, start_folder);
  args.aliases = Absolute(args.aliases, start_folder);
  args.log_dir = Absolute(args.log_dir, start_folder);
  args.web_dir = args.web_dir.empty() ? hist::ops::DefaultWebFolder(os::ModuleFolder())
                                      : Absolute(args.web_dir, start_folder);
  if (!args.workdir.empty() && chdir(args.workdir.c_str()) != 0) {
    std::fprintf(stderr, "histdata-server: cannot enter %s: %s\n", args.workdir.c_str(),
                 std::strerror(errno));
    return kExitStartFailed;
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
    return kExitStartFailed;
  }
  if (args.pack_cache_mb >= 0) {
    engine::PackCache::Default().SetBudget(static_cast<size_t>(args.pack_cache_mb) << 20);
  }
  hist::ops::StartOpsMetrics(BuildVersion());
  hist::StartExtension();

  httphost::ServerOptions options;
  options.address = args.address;
  options.port = static_cast<uint16_t>(args.port);
  if (args.max_connections > 0) options.max_connections = static_cast<size_t>(args.max_connections);
  if (args.head_timeout > 0) options.head_timeout = std::chrono::seconds(args.head_timeout);
  if (args.idle_timeout > 0) options.idle_timeout = std::chrono::seconds(args.idle_timeout);
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

  std::unique_ptr<httphost::HttpServer> admin;
  if (args.admin_port >= 0) {
    httphost::ServerOptions admin_options;
    admin_options.address = args.admin_address;
    admin_options.port = static_cast<uint16_t>(args.admin_port);
    admin_options.max_connections = 64;  // people and one scraper, not clients
    hist::ops::OpsOptions ops;
    ops.web_folder = args.web_dir;
    // The history port's connections, read when the metrics are asked for.
    metrics::Gauge& open = metrics::Default().AddGauge(
        "histdata_connections_open", "Connections open on the history port, waiting or served.");
    metrics::Gauge& idle = metrics::Default().AddGauge(
        "histdata_connections_idle", "Connections of the history port waiting for a request.");
    ops.before_metrics = [&server, &open, &idle] {
      open.Set(static_cast<double>(server.OpenConnections()));
      idle.Set(static_cast<double>(server.IdleConnections()));
    };
    admin = std::make_unique<httphost::HttpServer>(
        admin_options, [ops](host::Host& h) { hist::ops::ServeOps(ops, h); });
  }
  try {
    server.Start();
    if (admin) admin->Start();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "histdata-server: %s\n", e.what());
    server.Stop();
    hist::UnloadExtension();
    return kExitStartFailed;
  }
  std::printf("histdata-server listening on %s:%u\n", args.address.c_str(),
              static_cast<unsigned>(server.Port()));
  if (admin) {
    std::printf("operator's port on %s:%u\n", args.admin_address.c_str(),
                static_cast<unsigned>(admin->Port()));
  }
  std::fflush(stdout);

  int signal_number = 0;
  sigwait(&stop_signals, &signal_number);
  // The operator's port goes first: its pages read the pool that unloads.
  if (admin) admin->Stop();
  server.Stop();
  hist::UnloadExtension();
  return 0;
}
