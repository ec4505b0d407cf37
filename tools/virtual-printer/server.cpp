// The poll loop of the virtual printer: accepts connections, feeds each one's
// bytes to its JobStream, sends the status answers, and finishes the job
// when the connection closes.
#include "tools/virtual-printer/server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/virtual-printer/job_files.h"
#include "tools/virtual-printer/job_stream.h"

namespace vprinter {
namespace {

constexpr size_t kChunk = 65536;

struct Connection {
  int fd;
  JobStream stream;
  std::string times;  // "OFFSET MICROSECONDS" lines, one per read (--times)
};

// A socket listening on 127.0.0.1:`port`, or -1 with `error` set.
int listenLoopback(uint16_t port, std::string& error) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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

// The --paper name of a paper state.
const char* paperName(Paper paper) {
  return paper == Paper::Ok ? "ok" : paper == Paper::Low ? "low" : "empty";
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

// Decodes and files the job of a closed connection and reports it.
void finishJob(const ServerOptions& options, const Connection& connection, ServerTotals& totals) {
  const JobStream& stream = connection.stream;
  const std::vector<uint8_t>& bytes = stream.bytes();
  if (bytes.empty()) {
    std::printf("status only: %zu %s answered (paper %s)\n", stream.queries(),
                stream.queries() == 1 ? "query" : "queries", paperName(options.paper));
    return;
  }
  size_t number = ++totals.jobs;
  JobReport report = writeJobFiles(options.outDir, number, bytes, options.widthDots, options.pictures);
  if (options.times) writeTimes(options.outDir, number, connection.times);
  for (const preview::DecodeError& warning : report.warnings) {
    std::fprintf(stderr, "WARNING: job %zu: offset %zu: %s\n", number, warning.offset, warning.message.c_str());
  }
  if (report.error) {
    std::fprintf(stderr, "ERROR: job %zu rejected: offset %zu: %s\n", number, report.error->offset,
                 report.error->message.c_str());
  }
  if (!report.failure.empty()) std::fprintf(stderr, "ERROR: job %zu: %s\n", number, report.failure.c_str());
  if (report.error || !report.failure.empty()) ++totals.rejected;
  std::printf("job %zu: %zu bytes, %zu commands, %zu status %s, %s -> %s\n", number, bytes.size(),
              report.commands, stream.queries(), stream.queries() == 1 ? "query" : "queries",
              report.error ? "REJECTED" : "ok", report.png.c_str());
}

// Reads what `connection` sent and answers its status queries; false when
// the host has closed it (or it failed).
bool readConnection(const ServerOptions& options, Connection& connection) {
  uint8_t chunk[kChunk];
  ssize_t n = read(connection.fd, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) return false;
  if (options.times) {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    connection.times += std::to_string(connection.stream.bytes().size()) + " " +
                        std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) + "\n";
  }
  std::vector<uint8_t> answers = connection.stream.receive({chunk, size_t(n)});
  if (!answers.empty()) send(connection.fd, answers.data(), answers.size(), MSG_NOSIGNAL);
  return true;
}

// Accepts a connection on `listenFd` into `connections`.
void acceptConnection(int listenFd, Paper paper, std::vector<std::unique_ptr<Connection>>& connections) {
  int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) connections.push_back(std::make_unique<Connection>(Connection{fd, JobStream(paper), {}}));
}

}  // namespace

bool serve(const ServerOptions& options, int stopFd, ServerTotals& totals, std::string& error) {
  int listenFd = listenLoopback(options.port, error);
  if (listenFd < 0) return false;
  std::printf("talvero-virtual-printer: listening on 127.0.0.1:%u (paper %s, %u dots, jobs in %s)\n",
              boundPort(listenFd), paperName(options.paper), options.widthDots, options.outDir.c_str());
  std::fflush(stdout);

  std::vector<std::unique_ptr<Connection>> connections;
  for (;;) {
    std::vector<pollfd> fds{{stopFd, POLLIN, 0}, {listenFd, POLLIN, 0}};
    for (const auto& c : connections) fds.push_back({c->fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents != 0) break;
    if (fds[1].revents & POLLIN) acceptConnection(listenFd, options.paper, connections);
    for (size_t i = 2; i < fds.size(); ++i) {
      Connection& c = *connections[i - 2];
      if (fds[i].revents == 0 || readConnection(options, c)) continue;
      close(c.fd);
      finishJob(options, c, totals);
      c.fd = -1;
      std::fflush(stdout);
    }
    std::erase_if(connections, [](const auto& c) { return c->fd < 0; });
  }
  // Jobs still open when told to stop keep what they sent.
  for (const auto& c : connections) {
    close(c->fd);
    finishJob(options, *c, totals);
  }
  close(listenFd);
  return true;
}

}  // namespace vprinter
