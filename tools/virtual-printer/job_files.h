// What the virtual printer keeps of each job, in its output folder:
//
//   job-N.bin    the bytes received, status queries taken out
//   job-N.txt    one line per decoded command (talvero-preview --list)
//   job-N.png    the printed receipt (talvero-preview's picture), unless
//                pictures are turned off
//   job-N.error  only for a rejected job: "offset X: message", where the
//                decoder stopped (the .txt and .png show what came before)
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tools/preview/decode.h"
#include "tools/preview/receipt.h"

namespace vprinter {

// The outcome of one job.
struct JobReport {
  size_t commands = 0;
  std::optional<preview::DecodeError> error;  // the stream is malformed here
  std::vector<preview::DecodeError> warnings;  // output the printer would lose
  std::string failure;                         // a file could not be written or drawn
  std::string png;                             // path of the picture
};

// Decodes the job's `bytes`, writes the job-N files into `dir` (the picture
// for paper `widthDots` wide when `picture`), and reports what it found. The
// logos the job stores go into `logos`; the logos it prints are drawn from
// there.
JobReport writeJobFiles(const std::string& dir, size_t number, std::span<const uint8_t> bytes,
                        uint32_t widthDots, preview::LogoStore& logos, bool picture = true);

}  // namespace vprinter
