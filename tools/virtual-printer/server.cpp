// The poll loop of the virtual printer: accepts job connections, feeds each
// one's bytes to its JobStream, "prints" them when the printer can (holding
// them in the receive buffer when it cannot), answers the status queries,
// takes control commands, and finishes the job when the connection closes.
// Logos a job stores are kept for the jobs after it, as the printer's memory
// keeps them.
#include "tools/virtual-printer/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "tools/virtual-printer/job_files.h"
#include "tools/virtual-printer/job_stream.h"

namespace vprinter {
namespace {

constexpr size_t kChunk = 65536;
constexpr size_t kControlLine = 256;

// One job connection and what the printer has done with its bytes.
struct Connection {
  int fd = -1;
  Link link;  // the connection behaviour in force when it came
  JobStream stream;
  size_t printed = 0;   // bytes of stream.bytes() printed
  size_t received = 0;  // bytes read, status queries included
  size_t waited = 0;    // bytes the printer could not print when they came
  std::deque<FoundQuery> inTurn;  // GS r queries waiting for the data before them
  std::string times;  // "OFFSET MICROSECONDS" lines, one per read (--times)

  size_t held() const { return stream.bytes().size() - printed; }
};

// One client of the control port and its unfinished line.
struct ControlClient {
  int fd = -1;
  std::string line;
};

// A socket listening on 127.0.0.1:`port`, or -1 with `error` set. A
// positive `receiveBuffer` sizes the kernel's buffer of each connection,
// as small as a printer's.
int listenLoopback(uint16_t port, int receiveBuffer, std::string& error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd >= 0 && receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
  }
  return fd;
}

// The port `fd` is bound to.
uint16_t boundPort(int fd) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  return ntohs(addr.sin_port);
}

// "query" or "queries".
const char* queryWord(size_t count) {
  return count == 1 ? "query" : "queries";
}

// Writes job-N.times: when each part of the job arrived, as the offset of
// its first byte and the wall-clock time in microseconds.
void writeTimes(const std::string& dir, size_t number, const std::string& times) {
  std::string path = dir + "/job-" + std::to_string(number) + ".times";
  if (FILE* file = std::fopen(path.c_str(), "w")) {
    std::fputs(times.c_str(), file);
    std::fclose(file);
  }
}

// Writes the warnings about data the printer held back.
void reportHeld(size_t number, const Connection& c) {
  if (c.waited > 0) {
    std::fprintf(stderr, "WARNING: job %zu: %zu bytes came while the printer could not print; they waited in its "
                 "receive buffer\n", number, c.waited);
  }
  if (c.held() > 0) {
    std::fprintf(stderr, "WARNING: job %zu: %zu bytes were still unprinted when the connection closed\n", number,
                 c.held());
  }
}

// Decodes and files the job of a closed connection and reports it; the
// logos it stores stay in `logos` for later jobs.
void finishJob(const ServerOptions& options, const Connection& c, const PrinterState& state,
               preview::LogoStore& logos, ServerTotals& totals) {
  const std::vector<uint8_t>& bytes = c.stream.bytes();
  if (bytes.empty()) {
    std::printf("status only: %zu %s answered (%s)\n", state.answers ? c.stream.queries() : 0,
                queryWord(c.stream.queries()), describe(state.sensors).c_str());
    return;
  }
  size_t number = ++totals.jobs;
  JobReport report = writeJobFiles(options.outDir, number, bytes, options.widthDots, logos, options.pictures);
  if (options.times) writeTimes(options.outDir, number, c.times);
  for (const preview::DecodeError& warning : report.warnings) {
    std::fprintf(stderr, "WARNING: job %zu: offset %zu: %s\n", number, warning.offset, warning.message.c_str());
  }
  reportHeld(number, c);
  if (report.error) {
    std::fprintf(stderr, "ERROR: job %zu rejected: offset %zu: %s\n", number, report.error->offset,
                 report.error->message.c_str());
  }
  if (!report.failure.empty()) std::fprintf(stderr, "ERROR: job %zu: %s\n", number, report.failure.c_str());
  if (report.error || !report.failure.empty()) ++totals.rejected;
  std::printf("job %zu: %zu bytes, %zu commands, %zu status %s, %s -> %s\n", number, bytes.size(), report.commands,
              c.stream.queries(), queryWord(c.stream.queries()), report.error ? "REJECTED" : "ok",
              report.png.c_str());
}

class Server {
 public:
  Server(const ServerOptions& options, ServerTotals& totals)
      : options_(options), state_(options.state), totals_(totals) {}

  // Serves until `stopFd` becomes readable; false with `error` when it cannot listen.
  bool run(int stopFd, std::string& error);

 private:
  bool listenAll(std::string& error);
  void acceptConnection();
  void acceptControl();
  bool readConnection(Connection& c);
  bool readControl(ControlClient& client);
  void take(Connection& c, std::span<const uint8_t> chunk);
  void printUpTo(Connection& c, size_t limit);
  void answer(const Connection& c, const FoundQuery& found);
  void stateChanged();
  void endConnection(Connection& c, bool reset);
  short wantedEvents(const Connection& c) const;
  std::string statusLine() const;

  ServerOptions options_;
  PrinterState state_;
  preview::LogoStore logos_;  // the printer's non-volatile memory
  ServerTotals& totals_;
  int listenFd_ = -1;
  int controlFd_ = -1;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<ControlClient> controls_;
};

bool Server::listenAll(std::string& error) {
  int buffer = static_cast<int>(std::min<size_t>(options_.bufferBytes, 1 << 30));
  listenFd_ = listenLoopback(options_.port, buffer, error);
  if (listenFd_ < 0) return false;
  if (options_.controlPort >= 0) {
    controlFd_ = listenLoopback(static_cast<uint16_t>(options_.controlPort), 0, error);
    if (controlFd_ < 0) return false;
  }
  std::string control = controlFd_ < 0 ? "" : ", control 127.0.0.1:" + std::to_string(boundPort(controlFd_));
  std::printf("talvero-virtual-printer: listening on 127.0.0.1:%u (%s%s, %u dots, jobs in %s)\n",
              boundPort(listenFd_), describe(state_.sensors).c_str(), control.c_str(), options_.widthDots,
              options_.outDir.c_str());
  std::fflush(stdout);
  return true;
}

// The state line the control port answers with: the printer's state and
// the bytes of the jobs still open.
std::string Server::statusLine() const {
  size_t received = 0, held = 0, waited = 0;
  for (const auto& c : connections_) {
    received += c->stream.bytes().size();
    held += c->held();
    waited += c->waited;
  }
  return describe(state_) + " jobs=" + std::to_string(totals_.jobs) + " open=" +
         std::to_string(connections_.size()) + " received=" + std::to_string(received) + " held=" +
         std::to_string(held) + " waited=" + std::to_string(waited);
}

// Prints the held bytes of `c` up to job offset `limit` while the printer
// can, running the roll out where "paper empty after" says; then answers the
// GS r queries whose data is printed.
void Server::printUpTo(Connection& c, size_t limit) {
  size_t end = std::min(limit, c.stream.bytes().size());
  while (c.printed < end && canPrint(state_.sensors)) {
    size_t n = end - c.printed;
    if (state_.emptyAfter) n = std::min(n, *state_.emptyAfter);
    c.printed += n;
    if (state_.emptyAfter && (*state_.emptyAfter -= n) == 0) {
      state_.emptyAfter.reset();
      state_.sensors.paper = Paper::Empty;
      std::printf("state: paper ran out; %s\n", statusLine().c_str());
      std::fflush(stdout);
    }
  }
  while (!c.inTurn.empty() && c.inTurn.front().at <= c.printed) {
    answer(c, c.inTurn.front());
    c.inTurn.pop_front();
  }
}

void Server::answer(const Connection& c, const FoundQuery& found) {
  uint8_t byte = statusAnswer(found.query, state_.sensors);
  send(c.fd, &byte, 1, MSG_NOSIGNAL);
}

// Takes bytes read from `c`: each query is answered as the printer meets
// it (the data before it printed first, as far as the printer can), DLE EOT
// at once and GS r once that data is printed.
void Server::take(Connection& c, std::span<const uint8_t> chunk) {
  size_t before = c.stream.bytes().size();
  for (const FoundQuery& found : c.stream.receive(chunk)) {
    printUpTo(c, found.at);
    if (!state_.answers) continue;
    if (found.query.realTime || c.printed >= found.at) {
      answer(c, found);
    } else {
      c.inTurn.push_back(found);
    }
  }
  printUpTo(c, c.stream.bytes().size());
  // Bytes of a query split over reads were counted before; they are gone now.
  size_t after = c.stream.bytes().size();
  c.waited += std::min(after > before ? after - before : 0, c.held());
}

// Reads what `c` sent, as much as the receive buffer takes; false when the
// connection has ended (closed by the host, or by the printer's link mode).
bool Server::readConnection(Connection& c) {
  size_t room = canPrint(state_.sensors) ? kChunk : options_.bufferBytes - std::min(options_.bufferBytes, c.held());
  bool limited = c.link.mode == LinkMode::CloseAfter || c.link.mode == LinkMode::ResetAfter;
  if (limited) room = std::min(room, c.link.bytes - c.received);
  if (room == 0) return true;
  uint8_t chunk[kChunk];
  ssize_t n = read(c.fd, chunk, std::min(room, sizeof chunk));
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  c.received += size_t(n);
  if (options_.times) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    c.times += std::to_string(c.stream.bytes().size()) + " " +
               std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) + "\n";
  }
  take(c, {chunk, size_t(n)});
  if (limited && c.received >= c.link.bytes) {
    endConnection(c, c.link.mode == LinkMode::ResetAfter);
    return false;
  }
  return true;
}

// Ends a connection from the printer's side: a close, or a reset (RST).
void Server::endConnection(Connection& c, bool reset) {
  if (reset) {
    linger hard{1, 0};
    setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  } else {
    shutdown(c.fd, SHUT_RDWR);
  }
  std::printf("connection %s by the printer after %zu bytes\n", reset ? "reset" : "closed", c.received);
}

void Server::acceptConnection() {
  int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  auto c = std::make_unique<Connection>();
  c->fd = fd;
  c->link = state_.link;
  bool limited = c->link.mode == LinkMode::CloseAfter || c->link.mode == LinkMode::ResetAfter;
  if (limited && c->link.bytes == 0) {
    endConnection(*c, c->link.mode == LinkMode::ResetAfter);
    close(fd);
    finishJob(options_, *c, state_, logos_, totals_);
    std::fflush(stdout);
    return;
  }
  connections_.push_back(std::move(c));
}

void Server::acceptControl() {
  int fd = accept4(controlFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) controls_.push_back(ControlClient{fd, {}});
}

// Runs the whole lines a control client sent, answering each with
// "ok STATE" or "error: WHY"; false when the client has gone.
bool Server::readControl(ControlClient& client) {
  char chunk[kControlLine];
  ssize_t n = read(client.fd, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  client.line.append(chunk, size_t(n));
  for (size_t end; (end = client.line.find('\n')) != std::string::npos;) {
    std::string command = client.line.substr(0, end);
    client.line.erase(0, end + 1);
    std::string before = describe(state_);
    std::string why = applyControl(command, state_);
    if (why.empty() && describe(state_) != before) stateChanged();
    std::string reply = why.empty() ? "ok " + statusLine() + "\n" : "error: " + why + "\n";
    send(client.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
  }
  return client.line.size() < kControlLine;
}

// Logs the new state and lets every open job go on as far as it now can.
void Server::stateChanged() {
  for (const auto& c : connections_) printUpTo(*c, c->stream.bytes().size());
  std::printf("state: %s\n", statusLine().c_str());
  std::fflush(stdout);
}

// What to wait for on a job connection: its data while the printer reads,
// else only the host going away.
short Server::wantedEvents(const Connection& c) const {
  bool reading = state_.link.mode != LinkMode::NeverRead &&
                 (canPrint(state_.sensors) || c.held() < options_.bufferBytes);
  return reading ? POLLIN : POLLRDHUP;
}

bool Server::run(int stopFd, std::string& error) {
  if (!listenAll(error)) return false;
  for (;;) {
    std::vector<pollfd> fds{{stopFd, POLLIN, 0}, {listenFd_, POLLIN, 0}, {controlFd_, POLLIN, 0}};
    for (const auto& c : connections_) fds.push_back({c->fd, wantedEvents(*c), 0});
    for (const ControlClient& client : controls_) fds.push_back({client.fd, POLLIN, 0});
    size_t jobs = connections_.size(), clients = controls_.size();
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;
    for (size_t i = 0; i < jobs; ++i) {
      Connection& c = *connections_[i];
      short got = fds[3 + i].revents;
      if (got == 0 || ((got & POLLIN) && readConnection(c))) continue;
      close(c.fd);
      c.fd = -1;
      finishJob(options_, c, state_, logos_, totals_);
      std::fflush(stdout);
    }
    for (size_t i = 0; i < clients; ++i) {
      if (fds[3 + jobs + i].revents != 0 && !readControl(controls_[i])) {
        close(controls_[i].fd);
        controls_[i].fd = -1;
      }
    }
    std::erase_if(connections_, [](const auto& c) { return c->fd < 0; });
    std::erase_if(controls_, [](const ControlClient& client) { return client.fd < 0; });
    if (fds[1].revents & POLLIN) acceptConnection();
    if (fds[2].revents & POLLIN) acceptControl();
  }
  // Jobs still open when told to stop keep what they sent.
  for (const auto& c : connections_) {
    close(c->fd);
    finishJob(options_, *c, state_, logos_, totals_);
  }
  for (const ControlClient& client : controls_) close(client.fd);
  if (controlFd_ >= 0) close(controlFd_);
  close(listenFd_);
  return true;
}

}  // namespace

bool serve(const ServerOptions& options, int stopFd, ServerTotals& totals, std::string& error) {
  Server server(options, totals);
  return server.run(stopFd, error);
}

}  // namespace vprinter
