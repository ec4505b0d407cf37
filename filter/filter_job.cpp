// The CUPS filter's flow of one job: text, API mode or the raster page loop; see filter_job.h.
#include "filter/filter_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <cups/raster.h>

#include "core/version.h"
#include "filter/back_channel.h"
#include "filter/cancel.h"
#include "job/raster_job.h"
#include "core/settings.h"
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
PageRead readPageRows(RasterJob& raster, cups_raster_t* stream) {
  const uint32_t height = raster.work.header.cupsHeight;
  const uint32_t rowBytes = raster.work.header.cupsBytesPerLine;
  const uint32_t bandRows = std::max(1u, kBandBytes / rowBytes);
  for (uint32_t row = 0; row < height; row += bandRows) {
    uint32_t rows = std::min(bandRows, height - row);
    uint8_t* band = rasterPageRows(raster, rows);
    if (band == nullptr) return PageRead::NoMemory;
    if (cupsRasterReadPixels(stream, band, rows * rowBytes) == 0) return PageRead::CutShort;
  }
  return PageRead::Whole;
}

// The page loop: reads, counts and prints pages until the stream ends; each
// page waits at the gate until the printer can print it.
LoopEnd runPages(RasterJob& raster, cups_raster_t* stream, PrinterGate& gate) {
  cups_page_header_t header;
  while (cupsRasterReadHeader(stream, &header) != 0) {
    if (!startRasterPage(raster, header)) break;
    PageRead read = readPageRows(raster, stream);
    if (read == PageRead::NoMemory) return LoopEnd::AllocationFailure;
    if (read == PageRead::CutShort) {
      abandonRasterPage(raster);
      break;
    }
    gate.beforePage();
    if (!finishRasterPage(raster)) return LoopEnd::AllocationFailure;
    if (raster.failed) break;  // a page the printer cannot take ends the job
    if (raster.job.out.writeError() != 0) break;  // the printer is gone: end as if the stream ended
  }
  return LoopEnd::EndOfJob;
}

// Status line and exit status of every job that reaches the common tail.
int closeAndStatus(const Diagnostics& log, int pageCount, bool failed) {
  log.line(pageCount > 0 ? "INFO: Ready to print.\n" : "ERROR: No pages found!\n");
  return pageCount > 0 && !failed ? 0 : 1;
}

// A raster job on standard input, from opening the stream to the exit status.
int runRasterJob(JobContext& job, PrinterGate& gate) {
  // The raster job holds the page buffers for the whole job.
  auto raster = std::make_unique<RasterJob>(job);
  cups_raster_t* stream = cupsRasterOpen(STDIN_FILENO, CUPS_RASTER_READ);
  if (stream == nullptr) job.log.line("ERROR: The input is not a CUPS raster stream.\n");
  if (stream == nullptr || runPages(*raster, stream, gate) == LoopEnd::EndOfJob) {
    finishRasterJob(*raster);
    finishOutput(job.out);
  } else {
    reportAllocationFailure(*raster);
  }
  int pageCount = raster->pageCount;
  bool failed = raster->failed;
  raster.reset();
  if (stream != nullptr) cupsRasterClose(stream);
  return closeAndStatus(job.log, pageCount, failed);
}

// Opens the text file of a text job; -1, with the reason reported, when it
// cannot be opened.
int openTextFile(const char* path, const Diagnostics& log) {
  log.printf("TALVERO DEBUG MSG : argv[6] = %s.\n", path);
  int input = open(path, O_RDONLY);
  if (input < 0) {
    int error = errno;
    log.printf("TALVERO DEBUG MSG: Unable to open raster file - : %s\n", std::strerror(error));
    log.printf("ERROR: Unable to open \"%s\": %s\n", path, std::strerror(error));
    sleep(1);
  }
  return input;
}

// The job of the settings read: text, API mode or raster. Returns the exit status.
int runJob(JobContext& job, int argc, char* argv[], int input) {
  jobSetup(job.out);
  bool prints = argc == 7 || std::strncmp(argv[3], kApiModeMarker, sizeof kApiModeMarker - 1) != 0;
  PrinterGate gate(job.out, job.log, prints);
  if (argc == 7) {
    gate.beforePage();
    int readError = printText(job, input);
    if (readError == 0) return 0;
    job.log.printf("ERROR: Unable to read \"%s\": %s\n", argv[6], std::strerror(readError));
    return 1;
  }
  if (std::strncmp(argv[3], kApiModeMarker, sizeof kApiModeMarker - 1) == 0) {
    return closeAndStatus(job.log, 0, false);  // the printer was reset; nothing is read
  }
  return runRasterJob(job, gate);
}

}  // namespace

int runFilter(int argc, char* argv[], OutputSink& out, const Diagnostics& log) {
  log.line("TALVERO DEBUG MSG : drive version v" TALVERO_VERSION "\n");
  if (argc < 6 || argc > 7) {
    log.line("TALVERO DEBUG MSG: rastertoTalvero job-id user title copies options [file]\n");
    return 1;
  }
  int input = argc == 7 ? openTextFile(argv[6], log) : STDIN_FILENO;
  if (input < 0) return 1;
  auto closeInput = [&input] {
    if (input != STDIN_FILENO) close(input);
    input = STDIN_FILENO;
  };

  JobSettings settings{};
  int supported = initializeSettings(argv[5], settings, log);
  if (supported != kModelSupported) {
    closeInput();
    if (supported == kNoPpd) return 1;
    log.line("TALVERO DEBUG MSG : This printer is not TALVERO's printer.\n");
    log.printf("ERROR: This PPD is not for a supported printer (model %d).\n", settings.ModelNumber);
    return closeAndStatus(log, 0, true);
  }

  JobContext job(settings, out, log);
  int status = runJob(job, argc, argv, input);
  closeInput();
  out.flush();  // the text and API paths end here; a raster job has flushed already
  if (out.writeError() != 0) {
    log.printf("ERROR: Unable to send print data: %s\n", std::strerror(out.writeError()));
    status = 1;
  }
  return status;
}
