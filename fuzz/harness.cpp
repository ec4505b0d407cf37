// Shared fuzz harness: see harness.h. The filter reads its raster from
// descriptor 0, so each job gets a fresh in-memory file duplicated onto it;
// its printer output goes into a string through the job's output sink.
#include "fuzz/harness.h"

#include <sys/mman.h>
#include <unistd.h>

#include <sanitizer/common_interface_defs.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "filter/filter_job.h"
#include "tools/preview/decode.h"

namespace fuzz {

namespace {

// A memory file holding `bytes`, positioned at its start; aborts on failure.
int makeMemoryFd(std::span<const uint8_t> bytes) {
  int fd = memfd_create("fuzz-input", MFD_CLOEXEC);
  check(fd >= 0, "memfd_create failed");
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    check(n > 0, "write to the memory file failed");
    done += static_cast<size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  return fd;
}

}  // namespace

const std::vector<std::string>& shippedPpds() {
  static const std::vector<std::string> ppds = [] {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(TALVERO_PPD_DIR)) {
      std::string name = entry.path().filename().string();
      if (name.rfind("tlv", 0) == 0 && entry.path().extension() == ".ppd") found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    check(!found.empty(), "no PPD files in " TALVERO_PPD_DIR);
    return found;
  }();
  return ppds;
}

JobInput splitJobInput(std::span<const uint8_t> input) {
  JobInput job;
  const auto& ppds = shippedPpds();
  job.ppd = ppds[input.empty() ? 0 : input[0] % ppds.size()];
  std::span<const uint8_t> rest = input.empty() ? input : input.subspan(1);
  auto newline = std::find(rest.begin(), rest.end(), uint8_t{'\n'});
  job.options.assign(rest.begin(), newline);
  job.data = newline == rest.end() ? std::span<const uint8_t>{} : rest.subspan(newline - rest.begin() + 1);
  return job;
}

std::string memoryFile(std::span<const uint8_t> bytes) {
  static int fd = -1;
  if (fd >= 0) close(fd);
  fd = makeMemoryFd(bytes);
  return "/proc/self/fd/" + std::to_string(fd);
}

JobResult runJob(const std::string& ppd, const std::string& options, std::span<const uint8_t> stdinBytes,
                 const std::string& textFile) {
  int in = makeMemoryFd(stdinBytes);
  check(dup2(in, STDIN_FILENO) == STDIN_FILENO, "dup2 onto standard input failed");
  close(in);
  setenv("PPD", ppd.c_str(), 1);

  std::vector<std::string> args{"rastertoTalvero", "1", "user", "title", "1", options};
  if (!textFile.empty()) args.push_back(textFile);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  JobResult result;
  OutputSink out(appendToString, &result.out);
  result.status = runFilter(static_cast<int>(args.size()), argv.data(), out, Diagnostics());
  out.flush();
  return result;
}

void check(bool ok, std::string_view what, std::string_view bytes) {
  if (ok) return;
  std::string message = "CHECK FAILED: " + std::string(what);
  for (size_t i = 0; i < bytes.size() && i < 256; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X%c", static_cast<uint8_t>(bytes[i]), i % 32 == 31 ? '\n' : ' ');
    message += (i == 0 ? "\n" : "") + std::string(hex);
  }
  if (!bytes.empty()) message += (bytes.size() > 256 ? "...\n(" : "\n(") + std::to_string(bytes.size()) + " bytes)";
  // libFuzzer runs the targets with standard error closed (-close_fd_mask=2);
  // the sanitizers' report descriptor stays open.
  __sanitizer_report_error_summary(message.c_str());
  std::abort();
}

void checkJobResult(const JobResult& result) {
  check(result.status == 0 || result.status == 1, "exit status " + std::to_string(result.status));
  check(result.out.empty() || result.out.rfind("\x1B\x40", 0) == 0, "output does not begin with ESC @",
        result.out);
  auto bytes = std::span(reinterpret_cast<const uint8_t*>(result.out.data()), result.out.size());
  preview::DecodeResult decoded = preview::decodeStream(bytes);
  if (decoded.error) {
    check(false, "undecodable output at offset " + std::to_string(decoded.error->offset) + ": " +
                     decoded.error->message,
          std::string_view(result.out).substr(decoded.error->offset > 32 ? decoded.error->offset - 32 : 0));
  }
}

}  // namespace fuzz
