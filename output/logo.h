// The logo block: a logo stored in the printer beforehand, printed around a
// raster page or a text job. One block is
//
//   1B 61 j            ESC a, justification j = LogoJustification
//   the logo command   FS p (1C 70 n m) or GS ( L function 69
//                      (1D 28 4C 06 00 30 45 30 k x y), by the model's column
//   1B 40              ESC @, which also undoes the justification
//   0A x LineFeed      none when LineFeed is 0 or negative
#pragma once

#include <array>
#include <cstdint>

#include "core/model_table.h"
#include "core/settings.h"
#include "core/output_sink.h"

// Where logo blocks go around the page or text, from LogoPosition.
struct LogoPlacement {
  bool send;    // false: neither logo nor page nor text is sent (LogoPosition outside 0-3)
  bool before;  // a block before the page or text (1 and 3)
  bool after;   // a block after it (2 and 3)
};

// The placement LogoPosition asks for.
LogoPlacement logoPlacement(int32_t logoPosition);

// The bytes of one logo block, worked out once per job.
struct LogoBlock {
  uint8_t justification;
  std::array<uint8_t, 11> command;  // the first `commandSize` bytes are sent
  uint8_t commandSize;
  int32_t lineFeeds;
};

// The block for logo command `kind` (FS p or stored graphics by key code,
// the latter with key character `keyBase` for LogoImage 0) and the logo
// settings of the job.
LogoBlock makeLogoBlock(LogoCommand kind, char keyBase, const JobSettings& settings);

// Sends the block.
void sendLogoBlock(OutputSink& out, const LogoBlock& block);
