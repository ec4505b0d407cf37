// What can be changed on a running virtual printer, and the one-line
// commands that change it (on its control port, or as command-line options):
//
//   paper ok|low|empty        the paper sensor
//   paper empty after N       the roll runs out once N more bytes are printed
//   cover open|closed
//   offline | online
//   error | no-error          an error that stops printing
//   ready                     paper ok, cover closed, online, no error
//   answers on|off            whether status queries are answered at all
//   connection normal | never-read | close-after N | reset-after N
//                             how connections are treated: never read from
//                             (new and open ones), or closed (FIN) or reset
//                             (RST) once N bytes have been read (new ones)
//   status                    changes nothing
//
// While the printer cannot print (paper out, cover open, offline, error) it
// keeps what it receives in its receive buffer, answers DLE EOT at once and
// GS r once the data before it is printed, and stops reading when the buffer
// is full; when it can print again it prints what it holds.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/virtual-printer/status.h"

namespace vprinter {

enum class LinkMode { Normal, NeverRead, CloseAfter, ResetAfter };

// How the printer treats a connection.
struct Link {
  LinkMode mode = LinkMode::Normal;
  size_t bytes = 0;  // CloseAfter, ResetAfter: bytes read before the connection ends
};

// Everything the control commands change.
struct PrinterState {
  Sensors sensors;
  bool answers = true;
  Link link;
  std::optional<size_t> emptyAfter;  // bytes still printed before the roll runs out
};

// Applies one command line to `state`; returns "" when done, else why not.
std::string applyControl(const std::string& line, PrinterState& state);

// The state as the control port reports it:
// "paper=ok cover=closed online no-error answers=on connection=normal".
std::string describe(const PrinterState& state);

}  // namespace vprinter
