// talvero-virtual-printer: a receipt printer without paper for tests and
// demos. It listens on a loopback port like an AppSocket (port 9100)
// printer, answers the status queries, holds jobs while its paper is out or
// its cover open (state changed on a control port while it runs), and turns
// every job it gets into the previewer's files, rejecting loudly what the
// printer would not understand.
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/virtual-printer/server.h"

namespace {

constexpr char kTool[] = "talvero-virtual-printer";
constexpr int kExitRejected = 1;
constexpr int kExitUsage = 2;

constexpr char kHelp[] =
    "Usage: talvero-virtual-printer --out DIR [--port N] [--control-port N] [--paper ok|low|empty]\n"
    "                               [--set COMMAND]... [--buffer BYTES] [--width DOTS]\n"
    "                               [--no-pictures] [--times]\n"
    "\n"
    "A receipt printer on 127.0.0.1 for tests and demos: point a socket:// (AppSocket)\n"
    "device at it. Each connection is one job; when it closes, the job's bytes are\n"
    "decoded and kept in DIR as job-N.bin (the bytes), job-N.txt (one line per\n"
    "command), job-N.png (the printed receipt) and, for a stream the printer would\n"
    "not understand, job-N.error (the byte offset and why). Logos a job stores\n"
    "(GS ( L 67, FS q) are kept while it runs and drawn where later jobs print them.\n"
    "\n"
    "  --out DIR         where the job files go (made if missing).\n"
    "  --port N          TCP port on 127.0.0.1 (default 9100; 0 picks a free one).\n"
    "  --control-port N  also listen on 127.0.0.1:N (0: a free port) for commands\n"
    "                    that change the printer while it runs, one per line, each\n"
    "                    answered by \"ok STATE\" or \"error: WHY\":\n"
    "                      paper ok|low|empty, paper empty after BYTES,\n"
    "                      cover open|closed, offline, online, error, no-error,\n"
    "                      ready, answers on|off, status, connection normal |\n"
    "                      never-read | close-after BYTES | reset-after BYTES\n"
    "                    e.g.  echo 'paper empty' > /dev/tcp/127.0.0.1/N  (bash)\n"
    "  --paper S         the paper sensor at start: ok (default), low or empty.\n"
    "  --set COMMAND     a control command applied at start (repeatable).\n"
    "  --buffer BYTES    the receive buffer (default 4096): while the printer cannot\n"
    "                    print (paper out, cover open, offline, error) it holds what\n"
    "                    comes in it and stops reading when it is full.\n"
    "  --width DOTS      paper width of the pictures: 576 (80 mm, default) or 384 (58 mm).\n"
    "  --no-pictures     no job-N.png (drawing them is most of the work in a long run).\n"
    "  --times           job-N.times: when each part of the job arrived, one line\n"
    "                    each: the offset of its first byte in job-N.bin and the\n"
    "                    wall-clock time in microseconds since 1970.\n"
    "\n"
    "Status queries are answered from the printer's state: DLE EOT 1/2/3/4 at once,\n"
    "GS r 1/2 once the data before them is printed.\n"
    "\n"
    "Standard output: the address it listens on, one line per job and per state\n"
    "change, and a summary when stopped (Ctrl-C or SIGTERM). A rejected job also\n"
    "gets an ERROR line on standard error, data that came while the printer could\n"
    "not print a WARNING line. Exit status: 0, or 1 when a job was rejected, 2 on\n"
    "bad usage.\n";

// Prints `message` and the usage hint to stderr; returns kExitUsage.
int usageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kTool, message.c_str(), kTool);
  return kExitUsage;
}

// Parses a whole decimal number in [low, high]; false when `text` is not one.
template <typename T>
bool parseNumber(const std::string& text, T low, T high, T& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= low && value <= high;
}

// Fills `options` from the command line; returns 0, -1 for --help, or the
// exit status of a usage error.
int parseArguments(int argc, char* argv[], vprinter::ServerOptions& options) {
  const std::string known[] = {"--out", "--port", "--control-port", "--paper", "--set", "--buffer", "--width"};
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help") return -1;
    if (arg == "--no-pictures" || arg == "--times") {
      (arg == "--times" ? options.times : options.pictures) = arg == "--times";
      continue;
    }
    if (std::find(std::begin(known), std::end(known), arg) == std::end(known)) {
      return usageError("unknown argument '" + arg + "'");
    }
    if (i + 1 >= argc) return usageError(arg + " needs a value");
    std::string value = argv[++i];
    std::string why;
    if (arg == "--out") {
      options.outDir = value;
    } else if (arg == "--port" && !parseNumber<uint16_t>(value, 0, 65535, options.port)) {
      return usageError("bad --port '" + value + "'");
    } else if (arg == "--control-port" && !parseNumber<int>(value, 0, 65535, options.controlPort)) {
      return usageError("bad --control-port '" + value + "'");
    } else if (arg == "--buffer" && !parseNumber<size_t>(value, 1, size_t{1} << 30, options.bufferBytes)) {
      return usageError("bad --buffer '" + value + "' (bytes, 1 to 2^30)");
    } else if (arg == "--width" && !parseNumber<uint32_t>(value, 8, 8192, options.widthDots)) {
      return usageError("bad --width '" + value + "' (dots, 8 to 8192)");
    } else if (arg == "--paper" && !vprinter::applyControl("paper " + value, options.state).empty()) {
      return usageError("bad --paper '" + value + "' (ok, low or empty)");
    } else if (arg == "--set" && !(why = vprinter::applyControl(value, options.state)).empty()) {
      return usageError("bad --set '" + value + "': " + why);
    }
  }
  if (options.outDir.empty()) return usageError("--out DIR is needed");
  return 0;
}

// A signalfd that becomes readable on SIGINT or SIGTERM (both blocked).
int stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char* argv[]) {
  vprinter::ServerOptions options;
  if (int status = parseArguments(argc, argv, options); status != 0) {
    if (status > 0) return status;
    std::fputs(kHelp, stdout);
    return 0;
  }
  if (mkdir(options.outDir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "%s: cannot make %s: %s\n", kTool, options.outDir.c_str(), std::strerror(errno));
    return kExitUsage;
  }
  setvbuf(stdout, nullptr, _IOLBF, 0);
  vprinter::ServerTotals totals;
  std::string error;
  if (!vprinter::serve(options, stopSignals(), totals, error)) {
    std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
    return kExitUsage;
  }
  std::printf("%s: %zu jobs, %zu rejected\n", kTool, totals.jobs, totals.rejected);
  return totals.rejected == 0 ? 0 : kExitRejected;
}
