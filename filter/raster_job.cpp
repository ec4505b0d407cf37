// The flow of a raster job, page by page: the header check, the page buffer
// that grows as rows arrive (so memory follows the data received, not what a
// header claims), trimming, counting, the drawer kick, the pipeline and the
// end-of-page and end-of-job bytes.
#include "filter/raster_job.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "filter/device.h"
#include "filter/globals.h"
#include "filter/model_table.h"
#include "image/page_reader.h"
#include "output/stream.h"

namespace {

constexpr uint8_t kLineFeed = 0x0A;

// Paper sizes (PageSize choice numbers) on which quarter turns are not applied.
constexpr int32_t kNoQuarterTurnSizes[] = {56, 75, 94, 110, 111, 112, 138, 139};

// Growth of the page buffer starts at this many bytes.
constexpr size_t kFirstPageBytes = 256 * 1024;

enum class Pipeline { TwoColour, Mono, None };

// The pipeline a page of this job takes: by ColorModel and the model.
Pipeline pipelineFor(const JobSettings& settings) {
  const ModelRow& model = currentModel();
  if (settings.ColorModel == 0 && model.twoColour) return Pipeline::TwoColour;
  if (settings.ColorModel == 1 || model.mono) return Pipeline::Mono;
  return Pipeline::None;  // a two-colour-only model with another ColorModel: no image
}

// Bytes per row of a one-colour and a two-colour (four bands) page.
uint64_t monoRowBytes(uint32_t width) {
  return (uint64_t{width} + 7) / 8;
}
uint64_t twoColourRowBytes(uint32_t width) {
  return 4 * monoRowBytes(width);
}

// Whether the pipeline can print the page's layout: 1 bit per dot, at least
// one dot per row, and rows of exactly the bytes the pipeline's planes need.
// A page that takes no pipeline may have either layout. Writes the ERROR
// line when it cannot.
bool layoutSupported(const cups_page_header_t& header, Pipeline pipeline) {
  uint64_t needed = pipeline == Pipeline::Mono ? monoRowBytes(header.cupsWidth)
                                               : twoColourRowBytes(header.cupsWidth);
  bool rowFits = header.cupsBytesPerLine == needed ||
                 (pipeline == Pipeline::None && header.cupsBytesPerLine == monoRowBytes(header.cupsWidth));
  if (header.cupsBitsPerColor == 1 && header.cupsBitsPerPixel == 1 && header.cupsWidth >= 1 && rowFits) {
    return true;
  }
  std::fprintf(stderr,
               "ERROR: Unsupported raster: %u dots, %u bytes per row, %u bits per dot; this printer "
               "needs 1 bit per dot and %" PRIu64 " bytes per row.\n",
               header.cupsWidth, header.cupsBytesPerLine, header.cupsBitsPerPixel, needed);
  return false;
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

// Ticket sizes are never turned by a quarter.
void applyRotationOverride(JobSettings& settings) {
  for (int32_t size : kNoQuarterTurnSizes) {
    if (settings.PageSize == size && (settings.Rotation == 1 || settings.Rotation == 3)) {
      settings.Rotation = 0;
    }
  }
}

// Sends one counted page through its pipeline; false when memory ran out.
bool printCountedPage(PageWork& work) {
  switch (pipelineFor(work.settings)) {
    case Pipeline::TwoColour: return runColourPipeline(work);
    case Pipeline::Mono: return runMonoPipeline(work);
    case Pipeline::None: return true;
  }
  return true;
}

// The page reader's result line and the height after it.
void reportPageRead(int result, const cups_page_header_t& header) {
  std::fprintf(stderr, "TALVERO_DEBUG_MSG : removeNullLine return = %d\n", result);
  std::fprintf(stderr, "TALVERO_DEBUG : cupsHeight = %d\n", header.cupsHeight);
}

}  // namespace

void beginRasterJob(RasterJob& job, const JobSettings& settings, cups_raster_t* stream) {
  job.work.settings = settings;
  applyRotationOverride(job.work.settings);
  job.work.stream = stream;
  Focus = (settings.FocusArea == 1 || settings.FocusArea == 2) ? settings.FocusArea : 0;
}

bool startRasterPage(RasterJob& job, const cups_page_header_t& header) {
  ++job.pagesRead;
  if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) return false;
  if (!layoutSupported(header, pipelineFor(job.work.settings))) {
    job.failed = true;
    return false;
  }
  PageType = job.work.settings.PageType;
  std::fprintf(stderr, "TALVERO_DEBUG : cupsHeight = %d\n", header.cupsHeight);
  if (uint64_t{header.cupsHeight} * header.cupsBytesPerLine > kMaxPageBytes) {
    std::fprintf(stderr, "ERROR: Page too large: %u rows of %u bytes.\n", header.cupsHeight,
                 header.cupsBytesPerLine);
    job.failed = true;
    return false;
  }
  job.work.header = header;
  job.rowsStored = 0;
  return true;
}

uint8_t* rasterPageRows(RasterJob& job, uint32_t rows) {
  const cups_page_header_t& header = job.work.header;
  if (rows > header.cupsHeight - job.rowsStored) return nullptr;
  // Page sizes are checked against kMaxPageBytes, so these fit size_t.
  size_t rowBytes = header.cupsBytesPerLine;
  size_t stored = job.rowsStored * rowBytes;
  size_t needed = stored + rows * rowBytes;
  PageBuf& page = job.work.job.page;
  if (needed > page.size) {
    size_t pageBytes = header.cupsHeight * rowBytes;
    size_t grown = std::min(pageBytes, std::max({needed, 2 * page.size, kFirstPageBytes}));
    if (!page.grow(grown, stored)) return nullptr;
  }
  job.rowsStored += rows;
  return page.data() + stored;
}

void abandonRasterPage(RasterJob& job) {
  reportPageRead(reportUnreadablePage(PageType), job.work.header);
  std::fprintf(stderr, "ERROR: The raster data of page %d ends early.\n", job.pagesRead);
}

bool finishRasterPage(RasterJob& job) {
  PageWork& work = job.work;
  uint32_t firstRow = 0;
  int result = removeNullLine(work.stream, work.job.page.data(), work.header, PageType, firstRow);
  reportPageRead(result, work.header);
  if (result == kPageBlank) return true;
  work.page = work.job.page.data() + size_t{firstRow} * work.header.cupsBytesPerLine;

  ++job.pageCount;
  std::fprintf(stderr, "TALVERO DEBUG MESG: PAGE: %d %d\n", job.pageCount, work.header.NumCopies);
  std::fprintf(stderr, "PAGE: %d 1\n", job.pageCount);  // CUPS counts the page (page_log)
  int32_t drawerOpen = work.settings.CashDrawerOpen;
  if ((drawerOpen == 0 || drawerOpen == 2) && ALREADY_OPEN == 1) {
    openCashDrawer(work.settings);
    ALREADY_OPEN = 0;
  }
  if (!printCountedPage(work)) return false;
  sendPageEnd(currentModel(), work.settings.PageCut);
  return true;
}

void reportAllocationFailure(RasterJob& job) {
  std::fputs("TALVERO DEBUG MSG: Memory Allocation Error\n", stderr);
  std::fputs("ERROR: Out of memory.\n", stderr);
  job.failed = true;
}

void finishRasterJob(RasterJob& job) {
  const JobSettings& settings = job.work.settings;
  const ModelRow& model = currentModel();
  if (!model.compact && settings.PageCut == 0) outRepeat(kLineFeed, model.jobEndFeed);
  if (settings.CashDrawerOpen == 1 || settings.CashDrawerOpen == 2) openCashDrawer(settings);
  ALREADY_OPEN = 1;
}

void endRasterJob(RasterJob& job) {
  finishRasterJob(job);
  endPage();
}
