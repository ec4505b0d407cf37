// What the fuzz targets share: the shipped PPD files, the filter job run in
// this process (standard input from memory, printer output captured), and
// the checks every job's result must pass. A failed check prints what was
// wrong and aborts, which libFuzzer records as a crash with its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The shipped PPD files (tlvNNN.ppd of the build), sorted by name.
const std::vector<std::string>& shippedPpds();

// A fuzz input split as [PPD byte][option string]\n[data]: the PPD chosen by
// the first byte, the job options up to the first newline, the rest.
struct JobInput {
  std::string ppd;
  std::string options;
  std::span<const uint8_t> data;
};
JobInput splitJobInput(std::span<const uint8_t> input);

// The outcome of one filter job.
struct JobResult {
  int status = -1;
  std::string out;  // the printer bytes
};

// Runs the whole filter job in this process, as the spooler would start it
// with PPD=`ppd` and the given options: with `textFile` empty, `stdinBytes`
// are its standard input (a raster job); otherwise `textFile` is the seventh
// argument (a text job).
JobResult runJob(const std::string& ppd, const std::string& options, std::span<const uint8_t> stdinBytes,
                 const std::string& textFile = "");

// A file holding `bytes`, readable by name until the next call.
std::string memoryFile(std::span<const uint8_t> bytes);

// Aborts with `what` (and a hex dump of `bytes`, if any) when `ok` is false.
void check(bool ok, std::string_view what, std::string_view bytes = {});

// The checks for every job: exit status 0 or 1; printer output empty or
// beginning with ESC @ (1B 40); output that the previewer decodes without
// an error.
void checkJobResult(const JobResult& result);

}  // namespace fuzz
