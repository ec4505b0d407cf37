// The AppSocket side of the virtual printer: a TCP server on 127.0.0.1 where
// each connection is one job, and an optional control port where one-line
// commands (control.h) change the printer's state while it runs. Status
// queries are answered while the job arrives; while the printer cannot print
// it holds what it receives in a receive buffer of limited size and stops
// reading when that is full. When the host closes the connection the job is
// decoded and its files written (see job_files.h). One thread serves every
// connection with poll(), so jobs of several hosts may overlap.
//
// Standard output gets one line when listening, one per job, one per state
// change and a summary; standard error an "ERROR: " line per rejected job and
// a "WARNING: " line per thing a job does that the printer would lose, and
// for data that came while the printer could not print it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/virtual-printer/control.h"

namespace vprinter {

struct ServerOptions {
  uint16_t port = 9100;     // 0: any free port
  int controlPort = -1;     // -1: no control port; 0: any free port
  std::string outDir;
  PrinterState state;
  size_t bufferBytes = 4096;  // the receive buffer
  uint32_t widthDots = 576;
  bool pictures = true;  // write job-N.png
  bool times = false;    // write job-N.times
};

// What the server did, for the summary.
struct ServerTotals {
  size_t jobs = 0;
  size_t rejected = 0;
};

// Listens on 127.0.0.1 and serves until `stopFd` becomes readable; the jobs
// still open then are finished with what they sent. Returns false, with a
// message in `error`, when it cannot listen.
bool serve(const ServerOptions& options, int stopFd, ServerTotals& totals, std::string& error);

}  // namespace vprinter
