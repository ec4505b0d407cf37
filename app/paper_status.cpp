// Asking an ESC/POS printer for its paper state over a short connection of
// our own; see paper_status.h.
#include "app/paper_status.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/commands.h"

namespace {

// Waits for `events` on `fd` for at most `wait`; true when they came.
bool waitFor(int fd, short events, std::chrono::milliseconds wait) {
  pollfd entry{fd, events, 0};
  int result;
  do {
    result = poll(&entry, 1, static_cast<int>(wait.count()));
  } while (result < 0 && errno == EINTR);
  return result == 1 && (entry.revents & events) != 0;
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
                     (errno == EINPROGRESS && waitFor(fd, POLLOUT, wait) &&
                      getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
    if (!connected) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

// Sends a query and reads its one-byte answer; false when none came in time.
bool ask(int fd, const uint8_t (&query)[3], uint8_t& answer, std::chrono::milliseconds wait) {
  if (send(fd, query, sizeof query, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof query)) return false;
  return waitFor(fd, POLLIN, wait) && recv(fd, &answer, 1, 0) == 1;
}

}  // namespace

PaperState paperStateFromDleEot(uint8_t answer) {
  if ((answer & 0x93) != 0x12) return PaperState::Unknown;
  if ((answer & 0x60) != 0) return PaperState::Empty;
  return (answer & 0x0C) != 0 ? PaperState::Low : PaperState::Ok;
}

PaperState paperStateFromGsR(uint8_t answer) {
  if ((answer & 0x90) != 0) return PaperState::Unknown;
  if ((answer & 0x0C) != 0) return PaperState::Empty;
  return (answer & 0x03) != 0 ? PaperState::Low : PaperState::Ok;
}

PaperState askSocketPrinter(const char* host, int port, std::chrono::milliseconds wait) {
  int fd = connectTo(host, port, wait);
  if (fd < 0) return PaperState::Unknown;
  uint8_t answer = 0;
  PaperState state = PaperState::Unknown;
  if (ask(fd, command::kPaperSensorNow, answer, wait)) state = paperStateFromDleEot(answer);
  if (state == PaperState::Unknown && ask(fd, command::kPaperSensor, answer, wait)) state = paperStateFromGsR(answer);
  close(fd);
  return state;
}
