// The printer's paper state, asked of the printer itself on a short
// connection of our own (filter/status_query.h: DLE EOT 1, 2 and 4, and GS r
// 1 when those get no answer), and the socket helpers the application's
// printer links share.
#pragma once

#include <chrono>
#include <cstdint>

#include "job/status_query.h"

enum class PaperState : uint8_t {
  Unknown,  // no valid answer: the state stays as it was
  Ok,
  Low,      // near its end
  Empty,
};

// The state in an answer to DLE EOT 4 (roll paper sensor); Unknown when the
// byte is no such answer.
PaperState paperStateFromDleEot(uint8_t answer);

// The state in an answer to GS r 1 (paper sensor); Unknown when the byte is
// no such answer.
PaperState paperStateFromGsR(uint8_t answer);

// Asks the AppSocket printer at `host`:`port` on a connection of its own,
// waiting at most `wait` for the connection and for the answers.
PrinterStatus askSocketStatus(const char* host, int port, std::chrono::milliseconds wait);

// The paper state of the same answers.
PaperState askSocketPrinter(const char* host, int port, std::chrono::milliseconds wait);

// Waits for `events` on `fd` for at most `wait`; the events that came (0
// when none did).
short waitFor(int fd, short events, std::chrono::milliseconds wait);

// A non-blocking TCP connection to host:port, or -1 after `wait`.
int connectTo(const char* host, int port, std::chrono::milliseconds wait);
