// Asking an ESC/POS printer for its paper state over a short connection of
// our own, with the decoder the filter uses; see paper_status.h.
#include "app/paper_status.h"

#include "job/status_query.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace {

// A connection of our own used for nothing but status queries.
class SocketChannel final : public StatusChannel {
 public:
  explicit SocketChannel(int fd) : fd_(fd) {}

  bool send(std::span<const uint8_t> bytes) override {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }

  ssize_t receive(std::span<uint8_t> into, std::chrono::milliseconds wait) override {
    if (waitFor(fd_, POLLIN, wait) == 0) return 0;
    ssize_t n = recv(fd_, into.data(), into.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return n > 0 ? n : -1;
  }

 private:
  int fd_;
};

// The paper state in a printer's status.
PaperState paperOf(const PrinterStatus& status) {
  if (!status.answered) return PaperState::Unknown;
  if (status.paperOut) return PaperState::Empty;
  return status.paperLow ? PaperState::Low : PaperState::Ok;
}

}  // namespace

short waitFor(int fd, short events, std::chrono::milliseconds wait) {
  pollfd entry{fd, events, 0};
  int result;
  do {
    result = poll(&entry, 1, static_cast<int>(wait.count()));
  } while (result < 0 && errno == EINTR);
  return result == 1 ? entry.revents : 0;
}

// A non-blocking TCP connection to host:port, or -1 after `wait`.
int connectTo(const char* host, int port, std::chrono::milliseconds wait) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
    fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
    if (fd < 0) continue;
    int error = 0;
    socklen_t length = sizeof error;
    bool connected = connect(fd, at->ai_addr, at->ai_addrlen) == 0 ||
                     (errno == EINPROGRESS && (waitFor(fd, POLLOUT, wait) & POLLOUT) != 0 &&
                      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
    if (!connected) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

PaperState paperStateFromDleEot(uint8_t answer) {
  PrinterStatus status;
  readPaperSensor(answer, status);
  return paperOf(status);
}

PaperState paperStateFromGsR(uint8_t answer) {
  PrinterStatus status;
  readPaperInTurn(answer, status);
  return paperOf(status);
}

PrinterStatus askSocketStatus(const char* host, int port, std::chrono::milliseconds wait) {
  int fd = connectTo(host, port, wait);
  if (fd < 0) return PrinterStatus{};
  SocketChannel channel(fd);
  PrinterStatus status = askPrinter(channel, wait);
  close(fd);
  return status;
}

PaperState askSocketPrinter(const char* host, int port, std::chrono::milliseconds wait) {
  return paperOf(askSocketStatus(host, port, wait));
}
