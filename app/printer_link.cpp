// The line from one job to its printer; see printer_link.h.
#include "app/printer_link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "app/paper_status.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kTick{100};          // how often a waiting write looks at the job
constexpr milliseconds kStuckShown{3000};   // no progress this long: shown as not taking data
constexpr milliseconds kAnswerWait{500};    // for the status answers (GS r 1: half)
constexpr milliseconds kConnectWait{5000};  // for a connection opened anew
constexpr uint64_t kInFlight = 64 * 1024;   // bytes written but not yet taken by the printer
constexpr int kAppSocketPort = 9100;

constexpr char kClosed[] = "the printer closed it";

// The printer-state-reasons the link sets while the printer takes no data.
constexpr pappl_preason_t kStuckReason = PAPPL_PREASON_OFFLINE;

std::atomic<bool> sigtermSeen{false};
struct sigaction papplSigterm {};  // PAPPL's own handler, run from ours

void onSigterm(int signal) {
  sigtermSeen.store(true);
  if (papplSigterm.sa_handler != SIG_DFL && papplSigterm.sa_handler != SIG_IGN) papplSigterm.sa_handler(signal);
}

// Bytes sent on `fd` that the printer's TCP stack has not acknowledged.
uint64_t unacknowledged(int fd) {
  int count = 0;
  return ioctl(fd, SIOCOUTQ, &count) == 0 && count > 0 ? static_cast<uint64_t>(count) : 0;
}

// The port of the peer of `fd`; -1 when it has none (any more).
int peerPort(int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return -1;
  if (peer.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
  if (peer.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
  return -1;
}

// How long the `round`-th look for acknowledged bytes waits: 1 ms, doubling
// up to kTick (an acknowledgement on a LAN takes well under a millisecond).
milliseconds backOff(int round) {
  return std::min(kTick, milliseconds(1L << std::min(round, 7)));
}

// The AppSocket connection of a socket:// device. PAPPL 1.3 keeps the
// connection's descriptor as the first member of the device's data; it is
// taken only when it is a stream socket connected to the URI's port (or no
// longer connected at all), else -1 and the link writes through PAPPL.
int connectionOf(pappl_device_t* device, int port) {
  const auto* data = static_cast<const int*>(papplDeviceGetData(device));
  if (data == nullptr || *data < 0) return -1;
  int fd = *data;
  struct stat info {};
  int type = 0;
  socklen_t length = sizeof type;
  if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode) ||
      getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM) {
    return -1;
  }
  int peer = peerPort(fd);
  return peer == port || (peer < 0 && errno == ENOTCONN) ? fd : -1;
}

// True when the printer has closed or reset the connection.
bool connectionEnded(int fd) {
  short events = waitFor(fd, POLLIN | POLLRDHUP, milliseconds(0));
  if ((events & (POLLERR | POLLHUP | POLLRDHUP)) != 0) return true;
  uint8_t byte;
  return (events & POLLIN) != 0 && recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

}  // namespace

PrinterLink::PrinterLink(pappl_job_t* job, pappl_device_t* device) : job_(job), device_(device) {
  const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
  char scheme[32], user[256], host[256], resource[256];
  if (uri == nullptr || httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host,
                                        sizeof host, &port_, resource, sizeof resource) < HTTP_URI_STATUS_OK) {
    return;
  }
  usb_ = std::strcmp(scheme, "usb") == 0;
  if (std::strcmp(scheme, "socket") != 0) return;
  host_ = host;
  if (port_ <= 0) port_ = kAppSocketPort;
  fd_ = connectionOf(device, port_);
  if (fd_ < 0) papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer's connection is not known: no status, no delivery check.");
}

PrinterLink::~PrinterLink() {
  if (shownStuck_) papplPrinterSetReasons(papplJobGetPrinter(job_), PAPPL_PREASON_NONE, kStuckReason);
}

void PrinterLink::prepare() {
  lastProgress_ = Clock::now();
  if (fd_ < 0 || !connectionEnded(fd_)) return;
  papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "The printer closed the connection since the last job; connecting anew.");
  int fresh = connectTo(host_.c_str(), port_, kConnectWait);
  if (fresh < 0) return;  // the first write or status query finds it broken
  fcntl(fresh, F_SETFL, fcntl(fresh, F_GETFL) & ~O_NONBLOCK);
  dup2(fresh, fd_);  // PAPPL keeps using, and closes, the same descriptor
  close(fresh);
}

ssize_t PrinterLink::writeOut(void* context, const uint8_t* data, size_t length) {
  return static_cast<PrinterLink*>(context)->write(data, length);
}

bool PrinterLink::stopRequested() const {
  return papplJobIsCanceled(job_) || serverStopping(papplPrinterGetSystem(papplJobGetPrinter(job_)));
}

// Whether a write may go on waiting: before a deadline when one is set,
// else while the job goes on.
bool PrinterLink::mayWait() const {
  return hasDeadline_ ? Clock::now() < deadline_ : !stopRequested();
}

void PrinterLink::finalWrites(milliseconds time) {
  hasDeadline_ = true;
  deadline_ = Clock::now() + time;
}

void PrinterLink::fail(const char* why) {
  if (failure_.empty()) {
    failure_ = std::string("The connection to the printer broke (") + why + ") after the job had sent " +
               std::to_string(written_) + " bytes; the receipt was not printed whole";
  }
}

// True (with failure_ set) when the connection has failed or the printer
// has closed it with bytes not yet taken.
bool PrinterLink::brokenNow() {
  if (!failure_.empty()) return true;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error != 0) {
    fail(std::strerror(error));
    return true;
  }
  bool unread = written_ > acked_;
  if (unread && connectionEnded(fd_)) {
    fail(kClosed);
    return true;
  }
  return false;
}

// Counts what the printer has taken; shows the job as waiting for the
// printer once it has taken nothing for a while, and clears that when it
// takes data again.
void PrinterLink::noteProgress() {
  uint64_t acked = written_ - std::min(written_, unacknowledged(fd_));
  pappl_printer_t* printer = papplJobGetPrinter(job_);
  if (acked > acked_ || acked == written_) {
    acked_ = acked;
    lastProgress_ = Clock::now();
    if (shownStuck_) {
      shownStuck_ = false;
      papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, kStuckReason);
      papplJobSetMessage(job_, "Printing.");
      papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "The printer takes data again.");
    }
  } else if (!shownStuck_ && Clock::now() - lastProgress_ >= kStuckShown) {
    shownStuck_ = true;
    papplPrinterSetReasons(printer, kStuckReason, PAPPL_PREASON_NONE);
    papplJobSetMessage(job_, "Waiting for the printer to take data (out of paper? cover open?)");
    papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "The printer has taken no data for %d seconds; the job waits.",
                static_cast<int>(kStuckShown.count() / 1000));
  }
}

// Waits until the connection can take more bytes and fewer than kInFlight
// are waiting for the printer; false when it broke or the wait must end.
bool PrinterLink::waitForRoom() {
  for (int round = 0;; ++round) {
    if (brokenNow()) return false;
    noteProgress();
    bool inFlightFull = written_ - acked_ >= kInFlight;
    if (!inFlightFull && (waitFor(fd_, POLLOUT, milliseconds(0)) & POLLOUT) != 0) return true;
    if (!mayWait()) return false;
    // No event says the printer has taken bytes: look again soon, then less often.
    waitFor(fd_, inFlightFull ? POLLRDHUP : POLLOUT, inFlightFull ? backOff(round) : kTick);
  }
}

ssize_t PrinterLink::write(const uint8_t* data, size_t length) {
  if (fd_ < 0) return papplDeviceWrite(device_, data, length) == static_cast<ssize_t>(length) ? static_cast<ssize_t>(length) : -1;
  for (size_t done = 0; done < length;) {
    if (!waitForRoom()) {
      errno = failure_.empty() ? ECANCELED : EPIPE;
      return -1;
    }
    size_t room = static_cast<size_t>(kInFlight - (written_ - acked_));
    ssize_t n = ::send(fd_, data + done, std::min(length - done, room), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      fail(n < 0 ? std::strerror(errno) : kClosed);
      errno = EPIPE;
      return -1;
    }
    done += static_cast<size_t>(n);
    written_ += static_cast<uint64_t>(n);
  }
  return static_cast<ssize_t>(length);
}

Delivery PrinterLink::confirm() {
  if (fd_ < 0) return papplDeviceFlush(device_), Delivery::Delivered;
  for (int round = 0;; ++round) {
    if (brokenNow()) return Delivery::Broken;
    noteProgress();
    if (acked_ == written_) return Delivery::Delivered;
    if (!mayWait()) return Delivery::Stopped;
    waitFor(fd_, POLLRDHUP, backOff(round));
  }
}

PrinterStatus PrinterLink::ask() {
  if (fd_ >= 0) {
    return askPrinter(*this, kAnswerWait);
  }
  return usb_ ? usbPortStatus(device_) : PrinterStatus{};
}

bool PrinterLink::send(std::span<const uint8_t> bytes) {
  return write(bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

ssize_t PrinterLink::receive(std::span<uint8_t> into, milliseconds wait) {
  if ((waitFor(fd_, POLLIN, wait) & (POLLIN | POLLHUP | POLLERR)) == 0) return 0;
  ssize_t n = recv(fd_, into.data(), into.size(), MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
  if (n <= 0) fail(n < 0 ? std::strerror(errno) : kClosed);
  return n > 0 ? n : -1;
}

void PrinterLink::abandon() {
  if (fd_ < 0) return;
  // Connecting a TCP socket to AF_UNSPEC resets the connection and drops
  // what is still queued; PAPPL closes the descriptor later as usual.
  sockaddr none{};
  none.sa_family = AF_UNSPEC;
  connect(fd_, &none, sizeof none);
  if (failure_.empty()) failure_ = "The connection to the printer was closed";
}

PrinterStatus usbPortStatus(pappl_device_t* device) {
  pappl_preason_t reasons = papplDeviceGetStatus(device);
  PrinterStatus status;
  status.answered = true;
  status.paperOut = (reasons & PAPPL_PREASON_MEDIA_EMPTY) != 0;
  status.coverOpen = (reasons & PAPPL_PREASON_COVER_OPEN) != 0;
  status.error = (reasons & (PAPPL_PREASON_OTHER | PAPPL_PREASON_MEDIA_JAM)) != 0;
  return status;
}

bool serverStopping(pappl_system_t* system) {
  return sigtermSeen.load() || papplSystemIsShutdown(system);
}

void watchForSigterm() {
  struct sigaction ours {};
  ours.sa_handler = onSigterm;
  ours.sa_flags = SA_RESTART;
  sigemptyset(&ours.sa_mask);
  sigaction(SIGTERM, &ours, &papplSigterm);
}
