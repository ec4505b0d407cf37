// talvero-preview: reads the bytes rastertoTalvero sends to the printer,
// lists the commands (--list) and/or draws the receipt they print as a PNG.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tools/preview/decode.h"
#include "tools/preview/receipt.h"
#include "tools/preview/render.h"

namespace {

constexpr char kTool[] = "talvero-preview";
constexpr int kExitBadInput = 1;
constexpr int kExitUsage = 2;
constexpr uint32_t kMaxPaperWidth = 8192;

constexpr char kHelp[] =
    "Usage: talvero-preview [--list] [--width N] [-o OUT.png] [INPUT|-]\n"
    "\n"
    "Reads the printer bytes written by rastertoTalvero (a file, or standard\n"
    "input for '-' or no INPUT) and draws the receipt they print as a PNG.\n"
    "\n"
    "  --list       print one line per command: byte offset, command, fields.\n"
    "               Alone, writes no PNG; with -o, does both.\n"
    "  --width N    paper width in dots: 576 (80 mm roll, the default) or 384\n"
    "               (58 mm). An image wider than the paper widens the picture\n"
    "               and gives a warning: the printer would not print it whole.\n"
    "  -o OUT.png   where to write the PNG ('-' for standard output). Default:\n"
    "               INPUT.png, or preview.png when reading standard input.\n"
    "  --help       show this text.\n"
    "\n"
    "The picture: one pixel per printer dot (203 dpi). Black dots are black,\n"
    "second-colour dots red; a dot set in both planes is drawn black. Text is\n"
    "drawn in 12 x 24 dot cells, 34 dots (1/6 inch) per line. What the printer\n"
    "does not print itself is blue: stored logos as labelled boxes (a logo the\n"
    "input itself stored first, with GS ( L 67 or FS q, is drawn as its dots),\n"
    "cuts as a dashed line (with an 8-dot gap the paper does not have), and\n"
    "labels in the grey margin for cuts, drawer kicks and stored logos. Orange\n"
    "notes mark a cancelled job and the place where decoding stopped.\n"
    "\n"
    "Exit status: 0 when the whole input decodes; 1 when it does not (the\n"
    "error names the byte offset; the lines and picture of everything before\n"
    "it are still produced) or the output cannot be written; 2 on bad usage.\n"
    "Warnings about output that the printer would lose go to standard error.\n";

struct Arguments {
  bool list = false;
  bool help = false;
  uint32_t width = 576;
  std::optional<std::string> output;
  std::string input = "-";
};

// Prints `message` and the usage hint to stderr; returns kExitUsage.
int usageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kTool, message.c_str(), kTool);
  return kExitUsage;
}

// Parses a paper width in dots; false when `text` is not one.
bool parseWidth(const std::string& text, uint32_t& width) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), width);
  return ec == std::errc() && end == text.data() + text.size() && width >= 8 && width <= kMaxPaperWidth;
}

// Fills `args` from the command line; returns 0, or the exit status of a usage error.
int parseArguments(int argc, char* argv[], Arguments& args) {
  bool haveInput = false;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    // The value of an option given as the next argument.
    auto next = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (!optionsDone && arg == "--") {
      optionsDone = true;
    } else if (!optionsDone && arg == "--help") {
      args.help = true;
    } else if (!optionsDone && arg == "--list") {
      args.list = true;
    } else if (!optionsDone && (arg == "--width" || arg.rfind("--width=", 0) == 0)) {
      std::optional<std::string> text = arg == "--width" ? next() : arg.substr(8);
      if (!text) return usageError("--width needs a number of dots");
      if (!parseWidth(*text, args.width)) {
        return usageError("bad --width '" + *text + "' (dots, 8 to " + std::to_string(kMaxPaperWidth) + ")");
      }
    } else if (!optionsDone && arg == "-o") {
      args.output = next();
      if (!args.output || args.output->empty()) return usageError("-o needs a file name");
    } else if (!optionsDone && arg.size() > 1 && arg[0] == '-' && arg != "-") {
      return usageError("unknown option '" + arg + "'");
    } else if (haveInput) {
      return usageError("more than one input given");
    } else {
      args.input = arg;
      haveInput = true;
    }
  }
  if (args.list && args.output && *args.output == "-") {
    return usageError("--list and -o - both write to standard output");
  }
  return 0;
}

// Reads all of `fd` into `bytes`; false with errno set on a read error.
bool readAll(int fd, std::vector<uint8_t>& bytes) {
  uint8_t chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
}

// Reads the input file (or standard input for "-"); false after printing why not.
bool readInput(const std::string& path, std::vector<uint8_t>& bytes) {
  FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: cannot open %s: %s\n", kTool, path.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = readAll(fileno(file), bytes);
  int readErrno = errno;
  if (file != stdin) std::fclose(file);
  if (!ok) {
    std::fprintf(stderr, "%s: cannot read %s: %s\n", kTool, path == "-" ? "standard input" : path.c_str(),
                 std::strerror(readErrno));
  }
  return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
  Arguments args;
  if (int status = parseArguments(argc, argv, args); status != 0) return status;
  if (args.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }

  std::vector<uint8_t> bytes;
  if (!readInput(args.input, bytes)) return kExitBadInput;

  preview::Preview result = preview::previewBytes(bytes, preview::ReceiptOptions{args.width});
  if (args.list) {
    for (const preview::Command& command : result.decoded.commands) {
      std::fputs((preview::listLine(command) + "\n").c_str(), stdout);
    }
    std::fflush(stdout);
  }
  for (const preview::DecodeError& warning : result.receipt.warnings) {
    std::fprintf(stderr, "%s: offset %zu: warning: %s\n", kTool, warning.offset, warning.message.c_str());
  }
  if (result.decoded.error) {
    std::fprintf(stderr, "%s: offset %zu: %s\n", kTool, result.decoded.error->offset,
                 result.decoded.error->message.c_str());
  }
  int status = result.decoded.error ? kExitBadInput : 0;

  if (args.list && !args.output) return status;
  std::string output = args.output ? *args.output : args.input == "-" ? "preview.png" : args.input + ".png";
  preview::Canvas canvas;
  std::string error;
  if (!preview::renderReceipt(result.receipt, preview::RenderOptions{args.width}, canvas, error) ||
      !preview::writePng(canvas, output, error)) {
    std::fprintf(stderr, "%s: %s\n", kTool, error.c_str());
    return kExitBadInput;
  }
  return status;
}
