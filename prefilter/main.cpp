// rastertoTalveroPlanes: the CUPS prefilter that runs in front of
// rastertoTalvero (the PPDs name it in cupsPreFilter). It reads the contone
// raster the RIP made for the job (8-bit RGB for our PPDs; other common
// layouts are accepted too) and writes, page by page and row by row, the
// 1-bit raster rastertoTalvero prints: two-colour banded CMYK when the job's
// ColorModel is 0 (black and red), 1-bit black otherwise. Header fields other
// than the pixel format pass through unchanged.
//
// Usage (as CUPS runs every filter): rastertoTalveroPlanes job-id user title
// copies options [file]. Exit status 0 when every page was converted, 1 on
// bad arguments or input. A job whose title begins with TALVERO_API_MODE
// only resets the printer (rastertoTalvero does that without reading its
// input): its input is read and dropped, nothing is written, status 0.
// SIGTERM (the job was cancelled) ends the job cleanly with status 0: the
// page in progress is completed with blank rows, so what was converted
// reaches the next filter as a well-formed stream.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "core/ppd_file.h"
#include "image/raster_format.h"
#include "image/raster_writer.h"

namespace {

// Titles beginning with this mark API-mode jobs.
constexpr char kApiModeMarker[] = "TALVERO_API_MODE";

volatile sig_atomic_t CancelRequested = 0;

void cancelJob(int) { CancelRequested = 1; }

// SIGTERM only sets the flag; without SA_RESTART a blocked read returns, so
// the job notices at once even when the previous filter stalls.
void installSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = cancelJob;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGTERM, &action, nullptr);
  // A write to a next filter that has gone away fails with EPIPE instead.
  signal(SIGPIPE, SIG_IGN);
}

// The input descriptor and a buffer in front of it: libcups asks for a row
// at a time, which would otherwise be a read(2) per row.
struct Input {
  int fd = 0;
  size_t at = 0;    // next unread byte of `bytes`
  size_t held = 0;  // bytes of `bytes` filled
  unsigned char bytes[256 * 1024];
};

// read(2) that gives up on EINTR once the job is cancelled. Returns the
// bytes read, 0 at end of input, -1 on error.
ssize_t readSome(int fd, unsigned char* buffer, size_t length) {
  for (;;) {
    ssize_t n = read(fd, buffer, length);
    if (n >= 0) return n;
    if (errno != EINTR || CancelRequested) return -1;
  }
}

// Raster read callback: serves what the buffer holds, refilling it when it
// is empty; large requests go straight to the descriptor.
ssize_t readInput(void* context, unsigned char* buffer, size_t length) {
  Input& in = *static_cast<Input*>(context);
  if (in.at == in.held) {
    if (length >= sizeof in.bytes) return readSome(in.fd, buffer, length);
    ssize_t n = readSome(in.fd, in.bytes, sizeof in.bytes);
    if (n <= 0) return n;
    in.at = 0;
    in.held = static_cast<size_t>(n);
  }
  size_t count = std::min(length, in.held - in.at);
  std::memcpy(buffer, in.bytes + in.at, count);
  in.at += count;
  return static_cast<ssize_t>(count);
}

// The output descriptor and a buffer in front of it: libcups hands over
// each compressed row on its own, which would otherwise be a write(2) per
// row. The buffer is emptied when full and at the end of every page (the
// next filter reads a page whole before it prints it).
struct Output {
  int fd = 1;
  size_t held = 0;  // bytes of `bytes` not yet written
  unsigned char bytes[64 * 1024];
};

// Writes all `length` bytes, retrying after a signal as libcups does.
// Returns false on error (errno says why).
bool writeAll(int fd, const unsigned char* buffer, size_t length) {
  while (length > 0) {
    ssize_t n = write(fd, buffer, length);
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    if (n > 0) {
      buffer += n;
      length -= static_cast<size_t>(n);
    }
  }
  return true;
}

// Writes what the buffer holds. Returns false on error (errno says why).
bool flushOutput(Output& out) {
  bool written = writeAll(out.fd, out.bytes, out.held);
  out.held = 0;
  return written;
}

// Raster write callback: gathers the bytes in the buffer, writing it out
// when it is full; large blocks go straight to the descriptor.
ssize_t writeOutput(void* context, unsigned char* buffer, size_t length) {
  Output& out = *static_cast<Output*>(context);
  if (out.held + length > sizeof out.bytes && !flushOutput(out)) return -1;
  if (length >= sizeof out.bytes) return writeAll(out.fd, buffer, length) ? static_cast<ssize_t>(length) : -1;
  std::memcpy(out.bytes + out.held, buffer, length);
  out.held += length;
  return static_cast<ssize_t>(length);
}

enum class PageResult { Done, Canceled, Failed };

// Says why the output could not be written. When the next filter has ended
// (it failed, and said why), that is only a debug note: the job's error
// message stays the next filter's.
void reportWriteError(const char* what) {
  if (errno == EPIPE)
    std::fprintf(stderr, "DEBUG: rastertoTalveroPlanes: %s: the next filter has ended\n", what);
  else
    std::fprintf(stderr, "ERROR: %s: %s\n", what, std::strerror(errno));
}

// Writes blank rows from row `from` to the end of the page, so the stream
// stays well formed. Returns false when the output cannot be written.
bool finishPage(RowWriter& rows, const cups_page_header2_t& header, uint32_t from) {
  std::vector<uint8_t> blank(header.cupsBytesPerLine, 0);
  for (uint32_t y = from; y < header.cupsHeight; ++y)
    if (!writeRow(rows, blank.data())) return false;
  return true;
}

// Converts one page whose header has been read. Returns Done, Canceled (the
// page was completed with blank rows) or Failed (an ERROR line is written).
PageResult convertPage(cups_raster_t* in, cups_raster_t* out, RowWriter& rows,
                       const cups_page_header2_t& header, unsigned page, bool twoColour) {
  InputLayout layout;
  std::string why;
  if (!inputLayoutOf(header, layout, why)) {
    std::fprintf(stderr, "ERROR: Page %u: %s\n", page, why.c_str());
    return PageResult::Failed;
  }
  cups_page_header2_t outHeader = outputHeader(header, twoColour);
  if (!cupsRasterWriteHeader2(out, &outHeader)) {
    reportWriteError("Unable to write the raster page header");
    return PageResult::Failed;
  }
  // The rows are compressed here, as libcups would write them.
  startRows(rows, outHeader);
  std::vector<uint8_t> inRow(header.cupsBytesPerLine);
  std::vector<uint8_t> outRow(outHeader.cupsBytesPerLine);
  std::vector<Rgb> pixels(header.cupsWidth);
  for (uint32_t y = 0; y < header.cupsHeight; ++y) {
    if (CancelRequested) return finishPage(rows, outHeader, y) ? PageResult::Canceled : PageResult::Failed;
    if (cupsRasterReadPixels(in, inRow.data(), header.cupsBytesPerLine) != header.cupsBytesPerLine) {
      if (CancelRequested)
        return finishPage(rows, outHeader, y) ? PageResult::Canceled : PageResult::Failed;
      std::fprintf(stderr, "ERROR: Page %u is cut short after %u of %u rows\n", page, y,
                   header.cupsHeight);
      finishPage(rows, outHeader, y);
      return PageResult::Failed;
    }
    decodeRow(layout, inRow, pixels);
    encodeRow(pixels, y, twoColour, outRow);
    if (!writeRow(rows, outRow.data())) {
      if (CancelRequested) return PageResult::Canceled;
      reportWriteError("Unable to write raster data");
      return PageResult::Failed;
    }
  }
  return PageResult::Done;
}

// Reads the input to its end and drops it, so the filters before this one
// can finish. Returns false when it cannot be read.
bool discardInput(int fd) {
  unsigned char buffer[65536];
  size_t total = 0;
  for (;;) {
    ssize_t n = readSome(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (CancelRequested) return true;
      std::fprintf(stderr, "ERROR: Unable to read the job: %s\n", std::strerror(errno));
      return false;
    }
    total += static_cast<size_t>(n);
  }
  std::fprintf(stderr, "DEBUG: rastertoTalveroPlanes: API mode job, %zu input bytes dropped\n", total);
  return true;
}

// The job's ColorModel, read from the PPD as rastertoTalvero reads it (-1
// when the PPD has no such option). False, with the ERROR line, when the
// PPD cannot be read.
bool readColorModel(const char* options, int& colorModel) {
  std::string why;
  PpdFile ppd = openMarkedPpd(std::getenv("PPD"), options, why);
  if (!ppd) std::fprintf(stderr, "ERROR: %s\n", why.c_str());
  if (ppd) colorModel = getOptionChoiceIndex("ColorModel", ppd.get());
  return ppd != nullptr;
}

// Opens the input: the named file, else standard input. Returns -1 on error.
int openInput(int argc, char** argv) {
  if (argc < 7) return 0;
  int fd = open(argv[6], O_RDONLY);
  if (fd < 0)
    std::fprintf(stderr, "ERROR: Unable to open raster file \"%s\": %s\n", argv[6],
                 std::strerror(errno));
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6 || argc > 7) {
    std::fputs("Usage: rastertoTalveroPlanes job-id user title copies options [file]\n", stderr);
    return 1;
  }
  installSignalHandlers();

  if (std::strncmp(argv[3], kApiModeMarker, sizeof kApiModeMarker - 1) == 0) {
    int fd = openInput(argc, argv);
    if (fd < 0) return 1;
    bool read = discardInput(fd);
    if (fd != 0) close(fd);
    return read ? 0 : 1;
  }

  int colorModel = -1;
  if (!readColorModel(argv[5], colorModel)) return 1;
  const bool twoColour = colorModel == 0;
  std::fprintf(stderr, "DEBUG: rastertoTalveroPlanes: ColorModel %d, %s pages\n", colorModel,
               twoColour ? "black and red" : "black");

  int fd = openInput(argc, argv);
  if (fd < 0) return 1;
  auto input = std::make_unique<Input>();
  input->fd = fd;
  cups_raster_t* in = cupsRasterOpenIO(readInput, input.get(), CUPS_RASTER_READ);
  if (in == nullptr) {
    if (fd != 0) close(fd);
    if (CancelRequested) return 0;
    std::fputs("ERROR: The input is not a CUPS raster stream\n", stderr);
    return 1;
  }
  auto output = std::make_unique<Output>();
  cups_raster_t* out = cupsRasterOpenIO(writeOutput, output.get(), CUPS_RASTER_WRITE_COMPRESSED);
  RowWriter rows;
  rows.write = writeOutput;
  rows.context = output.get();

  int status = 0;
  unsigned page = 0;
  cups_page_header2_t header;
  while (!CancelRequested && cupsRasterReadHeader2(in, &header)) {
    PageResult result = convertPage(in, out, rows, header, ++page, twoColour);
    // The page, or what was converted of it, goes to the next filter now.
    if (!flushOutput(*output) && result == PageResult::Done) {
      reportWriteError("Unable to write raster data");
      result = PageResult::Failed;
    }
    if (result == PageResult::Failed) status = 1;
    if (result != PageResult::Done) break;
  }
  cupsRasterClose(out);
  cupsRasterClose(in);
  if (fd != 0) close(fd);
  if (CancelRequested) {
    std::fprintf(stderr, "DEBUG: rastertoTalveroPlanes: job cancelled after %u pages\n", page);
    return 0;
  }
  std::fprintf(stderr, "DEBUG: rastertoTalveroPlanes: %u pages converted\n", page);
  return status;
}
