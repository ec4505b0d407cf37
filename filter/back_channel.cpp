// The gate of a CUPS job: status queries out through the printer output,
// answers in through the back channel, STATE: and INFO: lines while the job
// waits; see back_channel.h.
#include "filter/back_channel.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sstream>

#include <cups/backend.h>
#include <cups/sidechannel.h>

namespace {

constexpr int kBackChannelFd = 3;  // where cupsd gives filters the back channel

// The keywords this gate sets, with their severity suffix.
constexpr const char* kOurKeywords[] = {"media-empty-error", "cover-open-error", "offline-report", "other-error",
                                        "media-low-warning"};

// The back channel: queries go out with the job's bytes, in order; answers
// come back on descriptor 3.
class BackChannel final : public StatusChannel {
 public:
  explicit BackChannel(OutputSink& out) : out_(out) {}

  bool send(std::span<const uint8_t> bytes) override {
    out_.put(bytes);
    out_.flush();
    return out_.writeError() == 0;
  }

  ssize_t receive(std::span<uint8_t> into, std::chrono::milliseconds wait) override {
    pollfd entry{kBackChannelFd, POLLIN, 0};
    int ready;
    do {
      ready = poll(&entry, 1, static_cast<int>(wait.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return 0;
    if ((entry.revents & (POLLIN | POLLHUP)) == 0) return -1;
    ssize_t n = cupsBackChannelRead(reinterpret_cast<char*>(into.data()), into.size(), 0.0);
    if (n > 0) return n;
    if (n == 0) return -1;  // the backend has closed it
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
  }

 private:
  OutputSink& out_;
};

// Whether a backend that reads the printer's answers serves this job.
bool hasBackChannel(std::chrono::milliseconds wait) {
  const char* uri = std::getenv("DEVICE_URI");
  if (uri == nullptr || *uri == '\0' || std::strncmp(uri, "file:", 5) == 0) return false;
  struct stat side {}, back {};
  if (fstat(CUPS_SC_FD, &side) != 0 || !S_ISSOCK(side.st_mode) || fstat(kBackChannelFd, &back) != 0) return false;
  char bidi = 0;
  int length = 1;
  cups_sc_status_t status =
      cupsSideChannelDoRequest(CUPS_SC_CMD_GET_BIDI, &bidi, &length, static_cast<double>(wait.count()) / 1000.0);
  return status == CUPS_SC_STATUS_OK && length == 1 && bidi == 1;
}

// Those of our keywords that the queue shows now (cupsd passes its
// printer-state-reasons in PRINTER_STATE_REASONS), so a job clears what an
// earlier one left.
std::set<std::string> keywordsShown() {
  std::set<std::string> shown;
  const char* reasons = std::getenv("PRINTER_STATE_REASONS");
  std::istringstream list(reasons != nullptr ? reasons : "");
  for (std::string keyword; std::getline(list, keyword, ',');) {
    for (const char* ours : kOurKeywords) {
      if (keyword == ours) shown.insert(keyword);
    }
  }
  return shown;
}

// What the queue shows while the gate waits: STATE: lines for the reasons
// that change, an INFO: line with the reason to wait.
class StateLines final : public WaitHooks {
 public:
  StateLines(std::set<std::string>& shown, const Diagnostics& log) : shown_(shown), log_(log) {}

  void report(const PrinterStatus& status) override {
    std::set<std::string> now = stateKeywords(status);
    for (const std::string& keyword : shown_) {
      if (now.count(keyword) == 0) log_.printf("STATE: -%s\n", keyword.c_str());
    }
    // While the job waits, its reasons are said again at each answer: cupsd
    // reads all the job's processes through one pipe, and a line of ours
    // written while another filter is half-way through a line of its own
    // (Ghostscript writes some in pieces) becomes part of that line.
    std::string message = waitMessage(status);
    for (const std::string& keyword : now) {
      if (shown_.count(keyword) == 0 || !message.empty()) log_.printf("STATE: +%s\n", keyword.c_str());
    }
    shown_ = now;
    // INFO: lines are said again too: the other filters write their own meanwhile.
    if (!message.empty() || message != message_) {
      log_.printf("INFO: %s\n", message.empty() ? "The printer is ready; printing." : message.c_str());
    }
    message_ = message;
  }

  bool pause(std::chrono::milliseconds time) override {
    timespec rest{static_cast<time_t>(time.count() / 1000), static_cast<long>(time.count() % 1000) * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
    return true;  // SIGTERM ends the process from its handler
  }

 private:
  std::set<std::string>& shown_;
  const Diagnostics& log_;
  std::string message_;
};

}  // namespace

std::set<std::string> stateKeywords(const PrinterStatus& status) {
  std::set<std::string> keywords;
  if (status.paperOut) keywords.insert("media-empty-error");
  if (status.coverOpen) keywords.insert("cover-open-error");
  if (status.error) keywords.insert("other-error");
  if (status.offline && !status.paperOut && !status.coverOpen && !status.error) keywords.insert("offline-report");
  if (status.paperLow && !status.paperOut) keywords.insert("media-low-warning");
  return keywords;
}

PrinterGate::PrinterGate(OutputSink& out, const Diagnostics& log, bool prints, GateTimes times)
    : out_(out), log_(log), times_(times) {
  asking_ = prints && hasBackChannel(times.sideChannel);
  if (!asking_) return;
  shown_ = keywordsShown();
  log.line("DEBUG: The backend passes the printer's answers; the job asks the printer its state.\n");
}

void PrinterGate::beforePage() {
  if (!asking_) return;
  BackChannel channel(out_);
  StateLines lines(shown_, log_);
  Readiness readiness =
      waitUntilReady([&] { return askPrinter(channel, times_.answer); }, lines, times_.interval);
  if (readiness == Readiness::Ready) return;
  asking_ = false;
  log_.line(readiness == Readiness::Gone ? "DEBUG: The back channel has closed; printing without asking.\n"
                                         : "DEBUG: The printer gave no status answer; printing without asking.\n");
}
