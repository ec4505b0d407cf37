#include "support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace talvero_test {

namespace fs = std::filesystem;

// ---- bytes ----

Bytes hex(const std::string& text) {
  Bytes bytes;
  int pending = -1;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else continue;
    if (pending < 0) {
      pending = digit;
    } else {
      bytes.push_back(static_cast<uint8_t>(pending * 16 + digit));
      pending = -1;
    }
  }
  if (pending >= 0) throw std::invalid_argument("odd number of hex digits: " + text);
  return bytes;
}

std::string hexDump(const std::string& bytes, size_t focus, size_t limit) {
  size_t start = focus > limit / 2 ? focus - limit / 2 : 0;
  size_t end = std::min(bytes.size(), start + limit);
  std::string text = start > 0 ? "... " : "";
  char cell[4];
  for (size_t i = start; i < end; ++i) {
    std::snprintf(cell, sizeof cell, "%02X", static_cast<uint8_t>(bytes[i]));
    text += cell;
    if (i + 1 < end) text += ' ';
  }
  if (end < bytes.size()) text += " ...";
  return text;
}

std::string describeMismatch(const std::string& expected, const std::string& actual) {
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  std::ostringstream out;
  out << "expected " << expected.size() << " bytes, got " << actual.size()
      << "; first difference at offset " << at << "\n  expected: " << hexDump(expected, at)
      << "\n  actual:   " << hexDump(actual, at);
  return out.str();
}

std::string toString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string repeat(uint8_t byte, size_t count) {
  return std::string(count, static_cast<char>(byte));
}

Diagnostics logInto(std::string& into) {
  return Diagnostics([](void* context, const char* line) { static_cast<std::string*>(context)->append(line); },
                     &into);
}

// ---- raster ----

cups_page_header_t makeHeader(uint32_t width, uint32_t height, bool cmyk) {
  cups_page_header_t header{};
  std::strcpy(header.MediaClass, "PwgRaster");
  header.HWResolution[0] = header.HWResolution[1] = 203;
  header.PageSize[0] = width * 72 / 203;
  header.PageSize[1] = height * 72 / 203;
  header.NumCopies = 1;
  header.cupsWidth = width;
  header.cupsHeight = height;
  header.cupsBitsPerColor = 1;
  header.cupsBitsPerPixel = 1;
  if (cmyk) {
    header.cupsColorOrder = CUPS_ORDER_BANDED;
    header.cupsColorSpace = CUPS_CSPACE_CMYK;
    header.cupsBytesPerLine = 4 * ((width + 7) / 8);
  } else {
    header.cupsColorOrder = CUPS_ORDER_CHUNKED;
    header.cupsColorSpace = CUPS_CSPACE_K;
    header.cupsBytesPerLine = (width + 7) / 8;
  }
  return header;
}

RasterPage blankPage(uint32_t width, uint32_t height, bool cmyk) {
  RasterPage page{makeHeader(width, height, cmyk), {}};
  page.pixels.assign(size_t{page.header.cupsHeight} * page.header.cupsBytesPerLine, 0);
  return page;
}

void writeRaster(const std::string& path, const std::vector<RasterPage>& pages, bool compressed) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  cups_raster_t* raster = cupsRasterOpen(fd, compressed ? CUPS_RASTER_WRITE_COMPRESSED : CUPS_RASTER_WRITE);
  for (const RasterPage& page : pages) {
    cups_page_header_t header = page.header;
    cupsRasterWriteHeader(raster, &header);
    if (!page.pixels.empty()) {
      cupsRasterWritePixels(raster, const_cast<uint8_t*>(page.pixels.data()),
                            static_cast<unsigned>(page.pixels.size()));
    }
  }
  cupsRasterClose(raster);
  close(fd);
}

// ---- version-2 raster ----

std::string writeStream(const std::vector<Page2>& pages, size_t cut) {
  std::string path = tempDir() + "/in.ras";
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE);
  for (Page2 page : pages) {
    cupsRasterWriteHeader2(ras, &page.header);
    cupsRasterWritePixels(ras, page.pixels.data(), static_cast<unsigned>(page.pixels.size()));
  }
  cupsRasterClose(ras);
  if (cut != 0) {
    off_t size = lseek(fd, 0, SEEK_END);
    EXPECT_EQ(ftruncate(fd, size - static_cast<off_t>(cut)), 0);
  }
  close(fd);
  return path;
}

// ---- PPD ----

void writePpd(const std::string& path, int model, const std::map<std::string, PpdOption>& options) {
  std::ofstream ppd(path);
  ppd << "*PPD-Adobe: \"4.3\"\n"
         "*FormatVersion: \"4.3\"\n"
         "*FileVersion: \"1.0\"\n"
         "*LanguageVersion: English\n"
         "*LanguageEncoding: ISOLatin1\n"
         "*PCFileName: \"TEST.PPD\"\n"
         "*Manufacturer: \"Test\"\n"
         "*Product: \"(Test)\"\n"
         "*ModelName: \"Test Model\"\n"
         "*ShortNickName: \"Test Model\"\n"
         "*NickName: \"Test Model\"\n"
         "*PSVersion: \"(3010.000) 0\"\n"
         "*LanguageLevel: \"3\"\n"
         "*ColorDevice: False\n"
         "*DefaultColorSpace: Gray\n"
         "*FileSystem: False\n"
         "*Throughput: \"1\"\n"
         "*LandscapeOrientation: Plus90\n"
         "*TTRasterizer: Type42\n"
         "*cupsVersion: 2.4\n"
         "*cupsModelNumber: "
      << model << "\n*cupsFilter: \"application/vnd.cups-raster 0 rastertoTalvero\"\n";
  for (const auto& [keyword, option] : options) {
    std::string fallback = option.choices.empty() ? "" : option.choices.front();
    ppd << "*OpenUI *" << keyword << "/" << keyword << ": PickOne\n"
        << "*Default" << keyword << ": "
        << (option.defaultChoice.empty() ? fallback : option.defaultChoice) << "\n";
    for (const std::string& choice : option.choices) {
      ppd << "*" << keyword << " " << choice << "/" << choice << ": \"\"\n";
    }
    ppd << "*CloseUI: *" << keyword << "\n";
  }
}

std::map<std::string, PpdOption> fixedOptions(const std::map<std::string, std::string>& values) {
  std::map<std::string, PpdOption> options;
  for (const auto& [keyword, value] : values) options[keyword] = PpdOption{{value}, ""};
  return options;
}

// ---- the filter binary ----

std::string filterPath() {
  const char* path = std::getenv("TALVERO_FILTER");
  return path != nullptr ? path : TALVERO_FILTER_DEFAULT;
}

std::string fixturePath(const std::string& name) {
  const char* dir = std::getenv("TALVERO_FIXTURES");
  return std::string(dir != nullptr ? dir : TALVERO_FIXTURES_DEFAULT) + "/" + name;
}

namespace {

struct TempRoot {
  std::string path;
  TempRoot() {
    char pattern[] = "/tmp/talvero-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
  }
  ~TempRoot() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::string tempDir() {
  static TempRoot root;
  static int counter = 0;
  std::string dir = root.path + "/" + std::to_string(++counter);
  fs::create_directories(dir);
  return dir;
}

RunningFilter startFilter(const FilterCall& call, bool stdinPipe, bool stdoutPipe) {
  RunningFilter running;
  std::string dir = tempDir();
  running.outPath = dir + "/stdout";
  running.errPath = dir + "/stderr";

  // The test's environment, less PPD and whatever the call sets itself.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (key != "PPD" && call.env.count(key) == 0) env.push_back(entry);
  }
  if (!call.ppd.empty()) env.push_back("PPD=" + call.ppd);
  for (const auto& [key, value] : call.env) env.push_back(key + "=" + value);

  std::vector<std::string> args{"rastertoTalvero"};
  args.insert(args.end(), call.args.begin(), call.args.end());
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = filterPath();
  std::string in = call.stdinPath.empty() ? "/dev/null" : call.stdinPath;

  int inPipe[2] = {-1, -1};
  int outPipe[2] = {-1, -1};
  if (stdinPipe && pipe2(inPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (stdoutPipe && pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  // Everything the child needs is prepared above: between fork and exec it
  // only makes system calls.
  running.pid = fork();
  if (running.pid < 0) throw std::runtime_error("fork failed");
  if (running.pid == 0) {
    int inFd = stdinPipe ? inPipe[0] : open(in.c_str(), O_RDONLY);
    int outFd = stdoutPipe           ? outPipe[1]
                : call.stdoutFd >= 0 ? call.stdoutFd
                                     : open(running.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int errFd = open(running.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (inFd < 0 || outFd < 0 || errFd < 0) _exit(127);
    dup2(inFd, STDIN_FILENO);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    if (call.stdoutFd == kClosedStdout) close(STDOUT_FILENO);
    if (call.addressSpaceLimit != 0) {
      struct rlimit limit{call.addressSpaceLimit, call.addressSpaceLimit};
      setrlimit(RLIMIT_AS, &limit);
    }
    signal(SIGTERM, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (stdinPipe) {
    close(inPipe[0]);
    running.stdinFd = inPipe[1];
  }
  if (stdoutPipe) {
    close(outPipe[1]);
    running.stdoutFd = outPipe[0];
  }
  return running;
}

size_t readOutput(RunningFilter& running, size_t count) {
  std::string chunk(count, '\0');
  ssize_t n = read(running.stdoutFd, chunk.data(), count);
  if (n <= 0) return 0;
  running.received.append(chunk, 0, static_cast<size_t>(n));
  return static_cast<size_t>(n);
}

bool waitForError(const RunningFilter& running, const std::string& text, int seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (readFile(running.errPath).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

bool runsUnderEmulator(const RunningFilter& running) {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(running.pid) + "/exe", error);
  return !error && exe.filename().string().rfind("qemu-", 0) == 0;
}

bool addressSpaceLimitsHold() {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    constexpr rlim_t kLimit = rlim_t{64} << 20;
    struct rlimit limit{kLimit, kLimit};
    setrlimit(RLIMIT_AS, &limit);
    void* block = mmap(nullptr, size_t{256} << 20, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    _exit(block == MAP_FAILED ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

// The system call /proc/PID/syscall shows for `pid`: its number and first
// argument, or {-1, ""} while it runs or is not in one.
std::pair<long, std::string> blockedSyscall(pid_t pid) {
  std::string number, first;
  std::ifstream("/proc/" + std::to_string(pid) + "/syscall") >> number >> first;
  if (number.empty() || (number[0] < '0' || number[0] > '9')) return {-1, ""};
  return {std::stol(number), first};
}

// The host's number of read(2): under qemu-user a guest's read is made as the
// host's, so it is learned from a host shell blocked in reading a pipe.
long hostReadNumber() {
  static const long number = [] {
    int in[2];
    if (pipe(in) != 0) return -1L;
    pid_t shell = fork();
    if (shell == 0) {
      dup2(in[0], 0);
      close(in[0]);
      close(in[1]);  // or the shell would never see the end of its input
      execl("/bin/sh", "sh", "-c", "read line", static_cast<char*>(nullptr));
      _exit(127);
    }
    long found = -1;
    for (int tries = 0; tries < 20000 && found < 0; ++tries) {
      auto [call, fd] = blockedSyscall(shell);
      if (fd == "0x0") found = call;
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    close(in[1]);
    close(in[0]);
    waitpid(shell, nullptr, 0);
    return found;
  }();
  return number;
}

}  // namespace

bool waitForStdinRead(const RunningFilter& running, int seconds) {
  long read = hostReadNumber();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    auto [call, fd] = blockedSyscall(running.pid);
    if (call == read && fd == "0x0") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool waitForFirstOutput(const RunningFilter& running, int seconds) {
  std::string ioPath = "/proc/" + std::to_string(running.pid) + "/io";
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    // Read the write count first: the error file can only have grown since.
    uint64_t written = 0;
    std::ifstream io(ioPath);
    for (std::string line; std::getline(io, line);) {
      if (line.rfind("wchar:", 0) == 0) written = std::stoull(line.substr(6));
    }
    std::error_code error;
    uint64_t toError = std::filesystem::file_size(running.errPath, error);
    if (!error && written > toError) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

bool waitForSignalHandler(const RunningFilter& running, int signal, int seconds) {
  std::string statusPath = "/proc/" + std::to_string(running.pid) + "/status";
  uint64_t bit = uint64_t{1} << (signal - 1);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status(statusPath);
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) & bit) != 0) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

FilterResult waitFilter(RunningFilter& running) {
  FilterResult result;
  if (running.stdinFd >= 0) {
    close(running.stdinFd);
    running.stdinFd = -1;
  }
  if (running.stdoutFd >= 0) {
    while (readOutput(running, 65536) > 0) {
    }
    close(running.stdoutFd);
    running.stdoutFd = -1;
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  struct rusage usage {};
  while (wait4(running.pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(running.pid, SIGKILL);
      wait4(running.pid, &status, 0, &usage);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  result.peakRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  // Output went either into the pipe or into the file, never both.
  result.out = running.received.empty() ? readFile(running.outPath) : running.received;
  result.err = readFile(running.errPath);
  return result;
}

FilterResult runFilter(const FilterCall& call) {
  RunningFilter running = startFilter(call, false);
  return waitFilter(running);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

}  // namespace talvero_test
