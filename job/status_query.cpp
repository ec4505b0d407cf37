// The status queries, the meaning of their answer bytes, and the wait of a
// job while the printer cannot print; see status_query.h.
#include "job/status_query.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "core/commands.h"

namespace {

// The bytes of `parts` one after another.
template <size_t... N>
constexpr std::array<uint8_t, (N + ...)> joined(const uint8_t (&... parts)[N]) {
  std::array<uint8_t, (N + ...)> all{};
  size_t at = 0;
  ((std::copy(std::begin(parts), std::end(parts), all.begin() + at), at += N), ...);
  return all;
}

// DLE EOT 1, 2 and 4, sent together.
constexpr auto kRealTimeQueries =
    joined(command::kPrinterStatusNow, command::kOfflineCauseNow, command::kPaperSensorNow);

// Every DLE EOT answer: bits 0x12 set, 0x81 clear.
constexpr uint8_t kEotMask = 0x93;
constexpr uint8_t kEotFixed = 0x12;
// GS r 1 answers have bits 0x90 clear.
constexpr uint8_t kGsrMask = 0x90;

// Answers to kRealTimeQueries, in order.
constexpr size_t kRealTimeAnswers = 3;

bool isEotAnswer(uint8_t answer) {
  return (answer & kEotMask) == kEotFixed;
}

// Reads the answers that came to kRealTimeQueries, in the order asked;
// bytes that answer no DLE EOT are skipped.
void readRealTimeAnswers(std::span<const uint8_t> answers, PrinterStatus& status) {
  bool (*const readers[kRealTimeAnswers])(uint8_t, PrinterStatus&) = {readPrinterStatus, readOfflineCause,
                                                                      readPaperSensor};
  size_t next = 0;
  for (uint8_t answer : answers) {
    if (next < kRealTimeAnswers && readers[next](answer, status)) ++next;
  }
}

// Collects up to `count` answer bytes within `wait`; returns how many came,
// -1 when the connection ended before any.
ssize_t collect(StatusChannel& channel, uint8_t* into, size_t count, std::chrono::milliseconds wait) {
  auto deadline = std::chrono::steady_clock::now() + wait;
  size_t got = 0;
  while (got < count) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    ssize_t n = channel.receive(std::span<uint8_t>(into + got, count - got), left);
    if (n < 0) return got > 0 ? static_cast<ssize_t>(got) : -1;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Drops bytes left on the channel (a late answer to an earlier query);
// false when the connection has ended.
bool dropStale(StatusChannel& channel) {
  uint8_t stale[64];
  for (;;) {
    ssize_t n = channel.receive(stale, std::chrono::milliseconds(0));
    if (n < 0) return false;
    if (n == 0) return true;
  }
}

}  // namespace

bool mustWait(const PrinterStatus& status) {
  return status.paperOut || status.coverOpen || status.offline || status.error;
}

std::string waitMessage(const PrinterStatus& status) {
  if (status.coverOpen) return "Waiting for the printer's cover to be closed";
  if (status.paperOut) return "Waiting for paper";
  if (status.error) return "Waiting for the printer to recover from an error";
  if (status.offline) return "Waiting for the printer to come online";
  return "";
}

bool readPrinterStatus(uint8_t answer, PrinterStatus& status) {
  if (!isEotAnswer(answer)) return false;
  status.answered = true;
  status.offline = (answer & 0x08) != 0;
  return true;
}

bool readOfflineCause(uint8_t answer, PrinterStatus& status) {
  if (!isEotAnswer(answer)) return false;
  status.answered = true;
  status.coverOpen = (answer & 0x04) != 0;
  status.paperOut = status.paperOut || (answer & 0x20) != 0;
  status.error = (answer & 0x40) != 0;
  return true;
}

bool readPaperSensor(uint8_t answer, PrinterStatus& status) {
  if (!isEotAnswer(answer)) return false;
  status.answered = true;
  status.paperOut = status.paperOut || (answer & 0x60) != 0;
  status.paperLow = (answer & 0x0C) != 0;
  return true;
}

bool readPaperInTurn(uint8_t answer, PrinterStatus& status) {
  if ((answer & kGsrMask) != 0) return false;
  status.answered = true;
  status.paperOut = (answer & 0x0C) != 0;
  status.paperLow = (answer & 0x03) != 0;
  return true;
}

PrinterStatus askPrinter(StatusChannel& channel, std::chrono::milliseconds wait) {
  PrinterStatus status;
  uint8_t answers[kRealTimeAnswers];
  if (!dropStale(channel) || !channel.send(kRealTimeQueries)) {
    status.gone = true;
    return status;
  }
  ssize_t got = collect(channel, answers, kRealTimeAnswers, wait);
  if (got > 0) readRealTimeAnswers(std::span<const uint8_t>(answers, static_cast<size_t>(got)), status);
  if (got < 0) status.gone = true;
  if (status.answered || status.gone) return status;
  if (!channel.send(command::kPaperSensor)) {
    status.gone = true;
    return status;
  }
  got = collect(channel, answers, 1, wait / 2);
  if (got == 1) readPaperInTurn(answers[0], status);
  status.gone = got < 0;
  return status;
}

Readiness waitUntilReady(const std::function<PrinterStatus()>& ask, WaitHooks& hooks,
                         std::chrono::milliseconds interval) {
  for (bool first = true;; first = false) {
    if (!first && !hooks.pause(interval)) return Readiness::Stopped;
    PrinterStatus status = ask();
    if (status.gone) return Readiness::Gone;
    if (!status.answered) {
      if (first) return Readiness::NoAnswer;
      continue;
    }
    hooks.report(status);
    if (!mustWait(status)) return Readiness::Ready;
  }
}
