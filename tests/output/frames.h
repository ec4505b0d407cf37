// Test helpers for the printer output writers: run a writer with its printer
// bytes and standard error captured in memory, decode the run-length code,
// and take apart the stored-graphics and compressed-raster frames of a
// writer's output so that tests can compare band by band.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/job_context.h"

namespace talvero_test {

struct Captured {
  std::string out;  // printer bytes
  std::string err;  // diagnostics
};

// Runs `write` on a job of `settings` (its model one of the model table)
// with the job's printer bytes and diagnostics captured.
Captured capture(const JobSettings& settings, const std::function<void(JobContext&)>& write);

// Runs `write` on an output sink whose bytes are captured.
Captured capture(const std::function<void(OutputSink&)>& write);

// Job settings for `model` with every other field 0.
JobSettings modelSettings(int32_t model);

// A plane of `size` bytes whose every byte differs from its neighbours in a
// way that band offsets cannot hide (and holds no 00 or FF, so the run-length
// code leaves it as it is when `literalOnly`).
std::string patternPlane(size_t size, bool literalOnly = false);

// Decodes the run-length code; nullopt on a count of 0 or a token cut short.
std::optional<std::string> decodeRuns(const std::string& code);

// One frame of a stored-graphics stream: a store command, or 'P' for print.
struct StoredFrame {
  char kind;        // 'S' store, 'P' print
  uint8_t colour;   // '1' or '2' for a store
  uint32_t width;
  uint32_t rows;
  std::string data;
};

// Splits stored-graphics output into frames; the test fails (and nullopt is
// returned) on bytes that are no such frame or a length field that does not
// match its rows.
std::optional<std::vector<StoredFrame>> parseStored(const std::string& out, size_t rowBytes);

// "S1:70 S2:70 P ..." for a list of frames.
std::string frameSummary(const std::vector<StoredFrame>& frames);

// One compressed raster command: width, rows, and the raw code between the
// header and the end marker.
struct CompressedFrame {
  uint32_t width;
  uint32_t rows;
  std::string code;
};

// Splits compressed raster output into commands, decoding each to find its
// end; nullopt on a malformed stream.
std::optional<std::vector<CompressedFrame>> parseCompressed(const std::string& out,
                                                            size_t rowBytes);

// Job settings with every logo field given and the rest 0.
JobSettings logoSettings(int32_t position, int32_t justification, int32_t image, int32_t width,
                         int32_t lineFeed);

}  // namespace talvero_test
