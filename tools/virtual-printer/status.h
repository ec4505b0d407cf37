// The sensors of the virtual printer and its answers to the status queries a
// host sends on the data connection (one byte each):
//
//   DLE EOT 1 (10 04 01), printer status: 0x12 always set; 0x08 offline
//     (the printer also goes offline while its cover is open, its paper is
//     out or it has an error).
//   DLE EOT 2 (10 04 02), offline cause: 0x12 always set; 0x04 cover open,
//     0x20 printing stopped at the paper end, 0x40 an error.
//   DLE EOT 3 (10 04 03), error cause: 0x12 always set; 0x20 an error that
//     needs the printer switched off and on.
//   DLE EOT 4 (10 04 04), roll paper sensor: 0x12 always set; 0x0C paper
//     near its end, 0x60 paper out.
//   GS r 1 (1D 72 01), paper sensor: 0x03 near its end, 0x0C paper out.
//   GS r 2 (1D 72 02), drawer connector: 0x00 (pin 3 low).
//
// A roll that has run out is also near its end, as on a real printer, so
// "empty" sets both groups of bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/preview/decode.h"

namespace vprinter {

enum class Paper { Ok, Low, Empty };

// What the printer's sensors say.
struct Sensors {
  Paper paper = Paper::Ok;
  bool coverOpen = false;
  bool offline = false;  // switched offline (by the host or a button)
  bool error = false;    // an error that stops printing
};

// Whether the printer prints what it receives (paper in, cover shut,
// online, no error); otherwise it holds the data in its receive buffer.
bool canPrint(const Sensors& sensors);

// The paper state named `name` ("ok", "low", "empty"), or nothing.
std::optional<Paper> parsePaper(const std::string& name);

// The name parsePaper reads.
const char* paperName(Paper paper);

// "paper=ok cover=closed online no-error".
std::string describe(const Sensors& sensors);

// The answer byte of `query` for the sensors.
uint8_t statusAnswer(const preview::StatusQuery& query, const Sensors& sensors);

}  // namespace vprinter
