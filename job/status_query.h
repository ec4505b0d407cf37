// Asking an ESC/POS printer for its state, and waiting while it cannot print.
//
// The printer answers each status query with one byte:
//   DLE EOT 1 (10 04 01), printer status, real-time: 0x08 offline.
//   DLE EOT 2 (10 04 02), offline cause, real-time: 0x04 cover open, 0x20
//     printing stopped at the paper end, 0x40 an error.
//   DLE EOT 4 (10 04 04), roll paper sensor, real-time: 0x0C near its end,
//     0x60 paper out.
//   Every DLE EOT answer has bits 0x12 set and 0x81 clear.
//   GS r 1 (1D 72 01), paper sensor, answered in turn with the data: 0x03
//     near its end, 0x0C paper out; bits 0x90 clear.
// Real-time queries are answered as soon as they arrive, even while the
// printer holds data it cannot print; so they are what a job asks first,
// with GS r 1 for printers that do not know them. The queries go between
// commands and print nothing.
//
// The front ends give the channel (the CUPS back channel, a printer's
// socket) and what the shop sees while a job waits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

// What the printer said.
struct PrinterStatus {
  bool answered = false;  // a valid answer came
  bool gone = false;      // the connection to the printer has ended
  bool offline = false;
  bool coverOpen = false;
  bool paperOut = false;
  bool paperLow = false;  // near its end: only a warning
  bool error = false;
};

// True when the printer cannot print now: paper out, cover open, offline
// or an error. A job waits then.
bool mustWait(const PrinterStatus& status);

// Why a job waits, for the shop: "Waiting for paper", "Waiting for the
// cover to be closed", ...; "" when it need not wait.
std::string waitMessage(const PrinterStatus& status);

// Each reads one answer byte into `status`; false (status unchanged) when
// the byte is no answer to that query.
bool readPrinterStatus(uint8_t answer, PrinterStatus& status);  // DLE EOT 1
bool readOfflineCause(uint8_t answer, PrinterStatus& status);   // DLE EOT 2
bool readPaperSensor(uint8_t answer, PrinterStatus& status);    // DLE EOT 4
bool readPaperInTurn(uint8_t answer, PrinterStatus& status);    // GS r 1

// The two ways of a channel to the printer.
class StatusChannel {
 public:
  virtual ~StatusChannel() = default;
  // Sends query bytes; false when the printer cannot be reached.
  virtual bool send(std::span<const uint8_t> bytes) = 0;
  // Answer bytes received within `wait` (some of them), 0 when none came,
  // -1 when the connection has ended.
  virtual ssize_t receive(std::span<uint8_t> into, std::chrono::milliseconds wait) = 0;
};

// Asks the printer: DLE EOT 1, 2 and 4 at once, waiting at most `wait` for
// their answers; when none comes, GS r 1, waiting half as long. Stale bytes
// waiting on the channel are dropped first.
PrinterStatus askPrinter(StatusChannel& channel, std::chrono::milliseconds wait);

// What a front end does while a job waits.
class WaitHooks {
 public:
  virtual ~WaitHooks() = default;
  // Shows the printer's state after each answer (hold reasons, a near-end
  // warning, or all clear).
  virtual void report(const PrinterStatus& status) = 0;
  // Waits `time` before asking again; false when the job must stop waiting
  // (cancelled, the server shutting down).
  virtual bool pause(std::chrono::milliseconds time) = 0;
};

enum class Readiness {
  Ready,     // the printer can print
  NoAnswer,  // it gave no answer the first time: the job goes on as it would without asking
  Stopped,   // pause() said stop
  Gone,      // the connection to the printer has ended
};

// Asks the printer with `ask` and, while it cannot print, asks again every
// `interval` until it can. A printer that stops answering while the job
// waits is still waited for.
Readiness waitUntilReady(const std::function<PrinterStatus()>& ask, WaitHooks& hooks,
                         std::chrono::milliseconds interval);
