#include "filter/job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <cups/raster.h>

#include "filter/device.h"
#include "filter/globals.h"
#include "filter/model_table.h"
#include "filter/pipeline.h"
#include "filter/settings.h"
#include "image/page_reader.h"
#include "output/stream.h"
#include "output/text.h"

namespace {

constexpr char kApiModeMarker[] = "TALVERO_API_MODE";
constexpr uint8_t kLineFeed = 0x0A;

// Paper sizes (PageSize choice numbers) on which quarter turns are not applied.
constexpr int32_t kNoQuarterTurnSizes[] = {56, 75, 94, 110, 111, 112, 138, 139};

// How the page loop ended.
enum class LoopEnd { EndOfJob, AllocationFailure };

// The bytes of every page buffer for a page: 2 x cupsHeight x cupsBytesPerLine.
// Returns false when the product does not fit the 32-bit sizes the raster
// library and the image operations work with.
bool pageBufferSize(const cups_page_header_t& header, size_t& size) {
  uint64_t bytes = 2ull * header.cupsHeight * header.cupsBytesPerLine;
  if (bytes > UINT32_MAX) return false;
  size = static_cast<size_t>(bytes);
  return true;
}

// End-of-page bytes by the model's pageEnd class and PageCut.
void sendPageEnd(const ModelRow& model, int32_t pageCut) {
  switch (model.pageEnd) {
    case PageEnd::Short:
      outRepeat(kLineFeed, 2);
      break;
    case PageEnd::Long:
      outRepeat(kLineFeed, 4);
      break;
    case PageEnd::Cut:
      if (pageCut == 0) {
        outRepeat(kLineFeed, model.feedNoCut);
      } else if (pageCut == 2) {
        outRepeat(kLineFeed, model.feedBeforeCut);
        const uint8_t cut[] = {0x1D, 0x56, static_cast<uint8_t>(model.cutMode), 0x01};  // GS V m 1
        outBytes(cut, sizeof cut);
      }
      break;
  }
}

void applyRotationOverride(JobSettings& settings) {
  for (int32_t size : kNoQuarterTurnSizes) {
    if (settings.PageSize == size && (settings.Rotation == 1 || settings.Rotation == 3)) {
      settings.Rotation = 0;
    }
  }
}

// Allocates (or grows) the four job buffers and zeroes them for this page.
bool prepareJobBuffers(JobBuffers& buffers, size_t size) {
  for (PageBuf* buffer : {&buffers.read, &buffers.reduce, &buffers.mono, &buffers.page}) {
    if (!buffer->reserve(size)) return false;
  }
  for (PageBuf* buffer : {&buffers.read, &buffers.reduce, &buffers.mono, &buffers.page}) {
    buffer->clear(size);
  }
  return true;
}

// Sends one counted page through the pipeline the model and ColorModel choose.
bool printCountedPage(PageWork& work) {
  const ModelRow& model = currentModel();
  if (work.settings.ColorModel == 0 && model.twoColour) return runColourPipeline(work);
  if (work.settings.ColorModel == 1 || model.mono) return runMonoPipeline(work);
  return true;  // a two-colour-only model with another ColorModel: no image
}

// The page loop: reads, counts and prints pages until the stream ends.
LoopEnd runPages(PageWork& work, int& pageCount) {
  const ModelRow& model = currentModel();
  cups_page_header_t& header = work.header;
  while (cupsRasterReadHeader(work.stream, &header) != 0) {
    if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) break;
    size_t size = 0;
    if (!pageBufferSize(header, size)) {
      std::fprintf(stderr, "TALVERO DEBUG MSG: Page too large (%u rows of %u bytes), job ends here\n",
                   header.cupsHeight, header.cupsBytesPerLine);
      break;
    }
    if (!prepareJobBuffers(work.job, size)) return LoopEnd::AllocationFailure;
    PageType = work.settings.PageType;

    std::fprintf(stderr, "TALVERO_DEBUG : cupsHeight = %d\n", header.cupsHeight);
    int result = removeNullLine(work.stream, work.job.page.data(), work.job.read.data(), header, PageType);
    std::fprintf(stderr, "TALVERO_DEBUG_MSG : removeNullLine return = %d\n", result);
    std::fprintf(stderr, "TALVERO_DEBUG : cupsHeight = %d\n", header.cupsHeight);
    if (result == kPageUnreadable) break;
    if (result == kPageBlank) continue;

    ++pageCount;
    std::fprintf(stderr, "TALVERO DEBUG MESG: PAGE: %d %d\n", pageCount, header.NumCopies);

    int32_t drawerOpen = work.settings.CashDrawerOpen;
    if ((drawerOpen == 0 || drawerOpen == 2) && ALREADY_OPEN == 1) {
      openCashDrawer(work.settings);
      ALREADY_OPEN = 0;
    }
    if (!printCountedPage(work)) return LoopEnd::AllocationFailure;
    sendPageEnd(model, work.settings.PageCut);
    if (outWriteError() != 0) break;  // the printer is gone: end as if the stream ended
  }
  return LoopEnd::EndOfJob;
}

// Final feed, drawer kick after printing, flush.
void endRasterJob(const JobSettings& settings) {
  const ModelRow& model = currentModel();
  if (!model.compact && settings.PageCut == 0) outRepeat(kLineFeed, model.jobEndFeed);
  if (settings.CashDrawerOpen == 1 || settings.CashDrawerOpen == 2) openCashDrawer(settings);
  ALREADY_OPEN = 1;
  endPage();
}

// Status line and exit status of every job that reaches the common tail.
int closeAndStatus(int pageCount, bool failed) {
  std::fputs(pageCount > 0 ? "INFO: Ready to print.\n" : "ERROR: No pages found!\n", stderr);
  return pageCount > 0 && !failed ? 0 : 1;
}

// A raster job on standard input, from opening the stream to the exit status.
int runRasterJob(const JobSettings& settings) {
  // The work record holds the page buffers for the whole job.
  auto work = std::make_unique<PageWork>();
  work->settings = settings;
  applyRotationOverride(work->settings);
  Focus = (settings.FocusArea == 1 || settings.FocusArea == 2) ? settings.FocusArea : 0;
  cups_raster_t* stream = cupsRasterOpen(STDIN_FILENO, CUPS_RASTER_READ);
  work->stream = stream;

  int pageCount = 0;
  bool failed = false;
  if (runPages(*work, pageCount) == LoopEnd::AllocationFailure) {
    std::fputs("TALVERO DEBUG MSG: Memory Allocation Error\n", stderr);
    failed = true;
  } else {
    endRasterJob(work->settings);
  }
  work.reset();
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
      std::perror("TALVERO DEBUG MSG: Unable to open raster file - ");
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
    closeInput();
    return closeAndStatus(0, true);
  }

  jobSetup();
  int status;
  if (argc == 7) {
    int readError = printText(input, settings);
    closeInput();
    status = readError != 0 ? reportReadError(argv[6], readError) : 0;
  } else if (std::strncmp(argv[3], kApiModeMarker, sizeof kApiModeMarker - 1) == 0) {
    status = closeAndStatus(0, false);  // the printer was reset; nothing is read
  } else {
    status = runRasterJob(settings);
  }
  outFlush();  // the text and API paths end here; a raster job has flushed already
  if (outWriteError() != 0) status = reportWriteError(outWriteError());
  return status;
}
