// The printer's paper state, asked of the printer itself: DLE EOT 4 (real-time
// roll paper sensor status) and, when that gets no valid answer, GS r 1
// (paper sensor status). Answers are one byte each.
#pragma once

#include <chrono>
#include <cstdint>

enum class PaperState : uint8_t {
  Unknown,  // no valid answer: the state stays as it was
  Ok,
  Low,      // near its end
  Empty,
};

// The state in an answer to DLE EOT 4: bits 0x0C paper near its end, 0x60
// paper out; bits 0x12 are always set and 0x81 never, else the byte is no
// answer (Unknown).
PaperState paperStateFromDleEot(uint8_t answer);

// The state in an answer to GS r 1: bits 0x03 near its end, 0x0C paper out;
// bits 0x90 are never set, else the byte is no answer (Unknown).
PaperState paperStateFromGsR(uint8_t answer);

// Asks the AppSocket printer at `host`:`port` on a connection of its own,
// waiting at most `wait` for the connection and for each answer.
PaperState askSocketPrinter(const char* host, int port, std::chrono::milliseconds wait);
