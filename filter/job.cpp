#include "filter/job.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <cups/raster.h>

#include "filter/back_channel.h"
#include "filter/device.h"
#include "filter/raster_job.h"
#include "filter/settings.h"
#include "output/stream.h"
#include "output/text.h"

namespace {

constexpr char kApiModeMarker[] = "TALVERO_API_MODE";

// Rows are read from the raster stream in bands of about this many bytes,
// straight into the page buffer.
constexpr uint32_t kBandBytes = 256 * 1024;

// How the page loop ended.
enum class LoopEnd { EndOfJob, AllocationFailure };

// How reading a page's rows ended.
enum class PageRead { Whole, CutShort, NoMemory };

// Reads the rows of the page just started from the stream, band by band.
PageRead readPageRows(RasterJob& job, cups_raster_t* stream) {
  const uint32_t height = job.work.header.cupsHeight;
  const uint32_t rowBytes = job.work.header.cupsBytesPerLine;
  const uint32_t bandRows = std::max(1u, kBandBytes / rowBytes);
  for (uint32_t row = 0; row < height; row += bandRows) {
    uint32_t rows = std::min(bandRows, height - row);
    uint8_t* band = rasterPageRows(job, rows);
    if (band == nullptr) return PageRead::NoMemory;
    if (cupsRasterReadPixels(stream, band, rows * rowBytes) == 0) return PageRead::CutShort;
  }
  return PageRead::Whole;
}

// The page loop: reads, counts and prints pages until the stream ends; each
// page waits at the gate until the printer can print it.
LoopEnd runPages(RasterJob& job, cups_raster_t* stream, PrinterGate& gate) {
  cups_page_header_t header;
  while (cupsRasterReadHeader(stream, &header) != 0) {
    if (!startRasterPage(job, header)) break;
    PageRead read = readPageRows(job, stream);
    if (read == PageRead::NoMemory) return LoopEnd::AllocationFailure;
    if (read == PageRead::CutShort) {
      abandonRasterPage(job);
      break;
    }
    gate.beforePage();
    if (!finishRasterPage(job)) return LoopEnd::AllocationFailure;
    if (outWriteError() != 0) break;  // the printer is gone: end as if the stream ended
  }
  return LoopEnd::EndOfJob;
}

// Status line and exit status of every job that reaches the common tail.
int closeAndStatus(int pageCount, bool failed) {
  std::fputs(pageCount > 0 ? "INFO: Ready to print.\n" : "ERROR: No pages found!\n", stderr);
  return pageCount > 0 && !failed ? 0 : 1;
}

// A raster job on standard input, from opening the stream to the exit status.
int runRasterJob(const JobSettings& settings, PrinterGate& gate) {
  // The job record holds the page buffers for the whole job.
  auto job = std::make_unique<RasterJob>();
  cups_raster_t* stream = cupsRasterOpen(STDIN_FILENO, CUPS_RASTER_READ);
  if (stream == nullptr) std::fputs("ERROR: The input is not a CUPS raster stream.\n", stderr);
  beginRasterJob(*job, settings, stream);
  if (stream == nullptr || runPages(*job, stream, gate) == LoopEnd::EndOfJob) {
    endRasterJob(*job);
  } else {
    reportAllocationFailure(*job);
  }
  int pageCount = job->pageCount;
  bool failed = job->failed;
  job.reset();
  if (stream != nullptr) cupsRasterClose(stream);
  return closeAndStatus(pageCount, failed);
}

// The line for a text file whose read failed; returns the exit status 1.
int reportReadError(const char* path, int error) {
  std::fprintf(stderr, "ERROR: Unable to read \"%s\": %s\n", path, std::strerror(error));
  return 1;
}

// The line for printer output that could not be written; returns the exit status 1.
int reportWriteError(int error) {
  std::fprintf(stderr, "ERROR: Unable to send print data: %s\n", std::strerror(error));
  return 1;
}

}  // namespace

int runFilter(int argc, char* argv[]) {
  std::fputs("TALVERO DEBUG MSG : drive version v1.3.5\n", stderr);
  if (argc < 6 || argc > 7) {
    std::fputs("TALVERO DEBUG MSG: rastertoTalvero job-id user title copies options [file]\n", stderr);
    return 1;
  }

  int input = STDIN_FILENO;
  if (argc == 7) {
    std::fprintf(stderr, "TALVERO DEBUG MSG : argv[6] = %s.\n", argv[6]);
    input = open(argv[6], O_RDONLY);
    if (input < 0) {
      int error = errno;
      std::perror("TALVERO DEBUG MSG: Unable to open raster file - ");
      std::fprintf(stderr, "ERROR: Unable to open \"%s\": %s\n", argv[6], std::strerror(error));
      sleep(1);
      return 1;
    }
  }
  auto closeInput = [&input] {
    if (input != STDIN_FILENO) close(input);
    input = STDIN_FILENO;
  };

  JobSettings settings{};
  int supported = initializeSettings(argv[5], settings);
  if (supported == kNoPpd) {
    closeInput();
    return 1;
  }
  if (supported == kModelUnsupported) {
    std::fputs("TALVERO DEBUG MSG : This printer is not TALVERO's printer.\n", stderr);
    std::fprintf(stderr, "ERROR: This PPD is not for a supported printer (model %d).\n", settings.ModelNumber);
    closeInput();
    return closeAndStatus(0, true);
  }

  jobSetup();
  int status;
  if (argc == 7) {
    PrinterGate gate;
    gate.beforePage();
    int readError = printText(input, settings);
    closeInput();
    status = readError != 0 ? reportReadError(argv[6], readError) : 0;
  } else if (std::strncmp(argv[3], kApiModeMarker, sizeof kApiModeMarker - 1) == 0) {
    status = closeAndStatus(0, false);  // the printer was reset; nothing is read
  } else {
    PrinterGate gate;
    status = runRasterJob(settings, gate);
  }
  outFlush();  // the text and API paths end here; a raster job has flushed already
  if (outWriteError() != 0) status = reportWriteError(outWriteError());
  return status;
}
