// Helpers shared by the tests: raster streams written with libcups, small
// PPD files, a runner for the filter binary, and byte-string utilities.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "core/diagnostics.h"

namespace talvero_test {

using Bytes = std::vector<uint8_t>;

// ---- bytes ----

// Bytes from a hex string such as "1B 40 0A" (spaces optional).
Bytes hex(const std::string& text);

// "1B 40 0A ..." for messages; long strings are shortened around `focus`.
std::string hexDump(const std::string& bytes, size_t focus = 0, size_t limit = 64);

// A readable comparison of two byte strings: lengths and the first difference.
std::string describeMismatch(const std::string& expected, const std::string& actual);

std::string toString(const Bytes& bytes);
std::string repeat(uint8_t byte, size_t count);

// Diagnostics that append each line to `into`, which must outlive them.
Diagnostics logInto(std::string& into);

// ---- raster ----

// A page header for a 1-bit page (monochrome, or banded CMYK when `cmyk`).
// cupsBytesPerLine follows cupsWidth as libcups requires; for banded CMYK it
// is four times the bytes of one colour.
cups_page_header_t makeHeader(uint32_t width, uint32_t height, bool cmyk = false);

struct RasterPage {
  cups_page_header_t header;
  Bytes pixels;  // cupsHeight x cupsBytesPerLine bytes (fewer to cut the stream short)
};

// A page of zeros of the given geometry.
RasterPage blankPage(uint32_t width, uint32_t height, bool cmyk = false);

// Writes the pages as a CUPS raster stream (cupsRasterOpen in write mode,
// run-length compressed when `compressed`) to `path`. Pixels shorter than
// the page leave the stream cut off there.
void writeRaster(const std::string& path, const std::vector<RasterPage>& pages, bool compressed = false);

// ---- version-2 raster: the RIP's 8-bit pages, the prefilter's pages ----

struct Page2 {
  cups_page_header2_t header;
  Bytes pixels;  // cupsHeight x cupsBytesPerLine bytes
};

// An 8-bit RGB page `width` dots wide whose dots are `colour(x, y)`, a tuple
// of red, green and blue.
template <typename Colour>
Page2 rgbPage(uint32_t width, uint32_t height, Colour colour) {
  Page2 page{};
  cups_page_header2_t& h = page.header;
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = 24;
  h.cupsBytesPerLine = 3 * width;
  h.cupsColorSpace = CUPS_CSPACE_RGB;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsNumColors = 3;
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.NumCopies = 1;
  page.pixels.reserve(size_t{3} * width * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      auto [r, g, b] = colour(x, y);
      page.pixels.insert(page.pixels.end(), {r, g, b});
    }
  return page;
}

// Writes the pages as a raster stream (cupsRasterWriteHeader2) into a new
// temporary file and returns its path; `cut` drops that many bytes from the end.
std::string writeStream(const std::vector<Page2>& pages, size_t cut = 0);

// ---- PPD ----

// Writes a PPD for `model` to `path`. `options` maps option keywords to their
// choice keywords; the first choice is the default unless `defaults` names
// another (a default that matches no choice is written as given).
struct PpdOption {
  std::vector<std::string> choices;
  std::string defaultChoice;  // empty: the first choice
};
void writePpd(const std::string& path, int model, const std::map<std::string, PpdOption>& options);

// Options with single choices: every option the filter reads, each with the
// given value as its only (and default) choice.
std::map<std::string, PpdOption> fixedOptions(const std::map<std::string, std::string>& values);

// ---- the filter binary ----

struct FilterResult {
  int status = -1;      // exit status, or -1 when the process did not exit normally
  int signal = 0;       // the signal that ended it, if any
  std::string out;      // standard output
  std::string err;      // standard error
  long peakRssKb = 0;   // the process's peak resident memory, in KiB
};

struct FilterCall {
  std::vector<std::string> args;  // after the program name: job-id user title copies options [file]
  std::string ppd;                // value of PPD; empty leaves it unset
  std::string stdinPath;          // file on standard input; empty: /dev/null
  std::map<std::string, std::string> env;
  size_t addressSpaceLimit = 0;   // RLIMIT_AS of the filter in bytes; 0: none
  int stdoutFd = -1;              // given as standard output; kClosedStdout: none; -1: a file
};
constexpr int kClosedStdout = -2;

// The path of the filter under test (TALVERO_FILTER) and of the fixtures.
std::string filterPath();
std::string fixturePath(const std::string& name);

// A fresh temporary directory, removed when the process ends.
std::string tempDir();

// Runs the filter to completion (at most 60 seconds).
FilterResult runFilter(const FilterCall& call);

// A filter started in the background. With `stdinPipe` its standard input
// is a pipe whose write end the caller holds; with `stdoutPipe` its standard
// output is a pipe the caller reads with readOutput (otherwise a file).
// Finish with waitFilter, which closes the standard-input pipe first.
struct RunningFilter {
  pid_t pid = -1;
  int stdinFd = -1;   // write end of the standard-input pipe, or -1
  int stdoutFd = -1;  // read end of the standard-output pipe, or -1
  std::string received;  // what readOutput has read so far
  std::string outPath;
  std::string errPath;
};
RunningFilter startFilter(const FilterCall& call, bool stdinPipe, bool stdoutPipe = false);
FilterResult waitFilter(RunningFilter& running);

// Reads up to `count` bytes from the standard-output pipe into `received`;
// returns how many were read (0 at the end of the stream).
size_t readOutput(RunningFilter& running, size_t count);

// Waits until the filter has a handler installed for `signal` (read from
// /proc/<pid>/status); true if it does within `seconds`.
bool waitForSignalHandler(const RunningFilter& running, int signal, int seconds = 20);

// Whether the filter runs under a user-mode emulator (qemu-user, for a
// cross-built test run). The kernel then shows the emulator's own signal
// handlers, which catch every signal from the start, so waitForSignalHandler
// returns at once; and the emulator ignores address-space limits.
bool runsUnderEmulator(const RunningFilter& running);

// Waits until the filter has written to standard output (a pipe; counted by
// the kernel in /proc/<pid>/io, less what went to the standard-error file);
// true if it has within `seconds`. The filter installs its SIGTERM handler
// before its first output, so this stands in for waitForSignalHandler where
// runsUnderEmulator.
bool waitForFirstOutput(const RunningFilter& running, int seconds = 20);

// Waits until the filter is blocked reading its standard input (natively
// and under qemu-user); false after `seconds`.
bool waitForStdinRead(const RunningFilter& running, int seconds = 20);

// Whether a process of this machine gets an out-of-memory failure from an
// address-space limit (setrlimit RLIMIT_AS); qemu-user ignores such limits.
bool addressSpaceLimitsHold();

// Waits until standard error holds `text` (at most `seconds`); true if it does.
bool waitForError(const RunningFilter& running, const std::string& text, int seconds = 20);

// The standard-error lines of a run, without the trailing newlines.
std::vector<std::string> lines(const std::string& text);

}  // namespace talvero_test
