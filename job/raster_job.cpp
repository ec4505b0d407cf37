// The flow of a raster job, page by page: the header check, the page buffer
// that grows as rows arrive (so memory follows the data received, not what a
// header claims), trimming, counting, the drawer kick, the pipeline and the
// end-of-page and end-of-job bytes.
#include "job/raster_job.h"

#include <algorithm>
#include <cinttypes>

#include "core/commands.h"
#include "image/page_reader.h"
#include "job/device.h"

namespace {

// Paper sizes (PageSize choice numbers) on which quarter turns are not applied.
constexpr int32_t kNoQuarterTurnSizes[] = {56, 75, 94, 110, 111, 112, 138, 139};

// Growth of the page buffer starts at this many bytes.
constexpr size_t kFirstPageBytes = 256 * 1024;

enum class Pipeline { TwoColour, Mono, None };

// The pipeline a page of this job takes: by ColorModel and the model.
Pipeline pipelineFor(const JobContext& job) {
  const JobSettings& settings = job.settings;
  const ModelRow& model = job.model;
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
// A page that takes no pipeline may have either layout. Reports the ERROR
// line when it cannot.
bool layoutSupported(const Diagnostics& log, const cups_page_header_t& header, Pipeline pipeline) {
  uint64_t needed = pipeline == Pipeline::Mono ? monoRowBytes(header.cupsWidth)
                                               : twoColourRowBytes(header.cupsWidth);
  bool rowFits = header.cupsBytesPerLine == needed ||
                 (pipeline == Pipeline::None && header.cupsBytesPerLine == monoRowBytes(header.cupsWidth));
  if (header.cupsBitsPerColor == 1 && header.cupsBitsPerPixel == 1 && header.cupsWidth >= 1 && rowFits) {
    return true;
  }
  log.printf("ERROR: Unsupported raster: %u dots, %u bytes per row, %u bits per dot; this printer needs 1 bit "
             "per dot and %" PRIu64 " bytes per row.\n",
             header.cupsWidth, header.cupsBytesPerLine, header.cupsBitsPerPixel, needed);
  return false;
}

// End-of-page bytes by the model's pageEnd class and PageCut.
void sendPageEnd(JobContext& job) {
  const ModelRow& model = job.model;
  switch (model.pageEnd) {
    case PageEnd::Short:
      job.out.putRepeated(command::kLineFeed, 2);
      break;
    case PageEnd::Long:
      job.out.putRepeated(command::kLineFeed, 4);
      break;
    case PageEnd::Cut:
      if (job.settings.PageCut == 0) {
        job.out.putRepeated(command::kLineFeed, model.feedNoCut);
      } else if (job.settings.PageCut == 2) {
        job.out.putRepeated(command::kLineFeed, model.feedBeforeCut);
        job.out.put(command::kCut);  // GS V m 1: feed one line and cut
        const uint8_t parameters[] = {static_cast<uint8_t>(model.cutMode), 0x01};
        job.out.put(parameters);
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

// Sends one counted page through its pipeline and the writers; false when
// memory ran out.
bool printCountedPage(PageWork& work) {
  PagePlanes planes;
  Made made = Made::Nothing;
  switch (pipelineFor(work.job)) {
    case Pipeline::TwoColour: made = runColourPipeline(work, planes); break;
    case Pipeline::Mono: made = runMonoPipeline(work, planes); break;
    case Pipeline::None: break;
  }
  if (made == Made::Page) printPage(work.job, planes);
  return made != Made::NoMemory;
}

// Whether the printer's commands can carry the page the pipeline will make
// of the one just read; writes the ERROR line when they cannot (a page
// wider than a command's two-byte fields, as after a quarter turn of a
// long page), so that the page is neither counted nor sent.
bool commandsCarry(RasterJob& raster) {
  Pipeline pipeline = pipelineFor(raster.job);
  if (pipeline == Pipeline::None) return true;
  PlaneShape shape = planeShape(raster.work, pipeline == Pipeline::TwoColour);
  const char* command = commandTooSmallFor(raster.job, pipeline == Pipeline::TwoColour, shape.width, shape.rowBytes);
  if (command == nullptr) return true;
  raster.job.log.printf("ERROR: Page %d not printed: its rows of %u dots (%u bytes) are too wide for the %s command.\n",
                        raster.pagesRead, shape.width, shape.rowBytes, command);
  return false;
}

// The page reader's result line and the height after it.
void reportPageRead(const Diagnostics& log, int result, const cups_page_header_t& header) {
  log.printf("TALVERO_DEBUG_MSG : removeNullLine return = %d\n", result);
  log.printf("TALVERO_DEBUG : cupsHeight = %d\n", header.cupsHeight);
}

}  // namespace

RasterJob::RasterJob(JobContext& context) : job(context), work(context) {
  applyRotationOverride(job.settings);
  int32_t focus = job.settings.FocusArea;
  job.Focus = (focus == 1 || focus == 2) ? focus : 0;
}

bool startRasterPage(RasterJob& raster, const cups_page_header_t& header) {
  JobContext& job = raster.job;
  ++raster.pagesRead;
  if (header.cupsHeight == 0 || header.cupsBytesPerLine == 0) return false;
  if (!layoutSupported(job.log, header, pipelineFor(job))) {
    raster.failed = true;
    return false;
  }
  job.PageType = job.settings.PageType;
  job.log.printf("TALVERO_DEBUG : cupsHeight = %d\n", header.cupsHeight);
  if (uint64_t{header.cupsHeight} * header.cupsBytesPerLine > kMaxPageBytes) {
    job.log.printf("ERROR: Page too large: %u rows of %u bytes.\n", header.cupsHeight, header.cupsBytesPerLine);
    raster.failed = true;
    return false;
  }
  raster.work.header = header;
  raster.rowsStored = 0;
  return true;
}

uint8_t* rasterPageRows(RasterJob& raster, uint32_t rows) {
  const cups_page_header_t& header = raster.work.header;
  if (rows > header.cupsHeight - raster.rowsStored) return nullptr;
  // Page sizes are checked against kMaxPageBytes, so these fit size_t.
  size_t rowBytes = header.cupsBytesPerLine;
  size_t stored = raster.rowsStored * rowBytes;
  size_t needed = stored + rows * rowBytes;
  PageBuf& page = raster.work.buffers.page;
  if (needed > page.size) {
    size_t pageBytes = header.cupsHeight * rowBytes;
    size_t grown = std::min(pageBytes, std::max({needed, 2 * page.size, kFirstPageBytes}));
    if (!page.grow(grown, stored)) return nullptr;
  }
  raster.rowsStored += rows;
  return page.data() + stored;
}

void abandonRasterPage(RasterJob& raster) {
  const Diagnostics& log = raster.job.log;
  reportUnreadablePage(log, raster.job.PageType);
  reportPageRead(log, kPageUnreadable, raster.work.header);
  log.printf("ERROR: The raster data of page %d ends early.\n", raster.pagesRead);
}

bool finishRasterPage(RasterJob& raster) {
  JobContext& job = raster.job;
  PageWork& work = raster.work;
  uint32_t firstRow = 0;
  int result = trimBlankRows(job.log, work.buffers.page.data(), work.header, job.PageType, firstRow);
  reportPageRead(job.log, result, work.header);
  if (result == kPageBlank) return true;
  work.page = work.buffers.page.data() + size_t{firstRow} * work.header.cupsBytesPerLine;
  if (!commandsCarry(raster)) {
    raster.failed = true;
    return true;
  }

  ++raster.pageCount;
  job.log.printf("TALVERO DEBUG MESG: PAGE: %d %d\n", raster.pageCount, work.header.NumCopies);
  job.log.printf("PAGE: %d 1\n", raster.pageCount);  // CUPS counts the page (page_log)
  int32_t drawerOpen = job.settings.CashDrawerOpen;
  if ((drawerOpen == 0 || drawerOpen == 2) && job.ALREADY_OPEN == 1) {
    openCashDrawer(job);
    job.ALREADY_OPEN = 0;
  }
  if (!printCountedPage(work)) return false;
  sendPageEnd(job);
  return true;
}

void reportAllocationFailure(RasterJob& raster) {
  raster.job.log.line("TALVERO DEBUG MSG: Memory Allocation Error\n");
  raster.job.log.line("ERROR: Out of memory.\n");
  raster.failed = true;
}

void finishRasterJob(RasterJob& raster) {
  JobContext& job = raster.job;
  const ModelRow& model = job.model;
  if (!model.compact && job.settings.PageCut == 0) job.out.putRepeated(command::kLineFeed, model.jobEndFeed);
  if (job.settings.CashDrawerOpen == 1 || job.settings.CashDrawerOpen == 2) openCashDrawer(job);
  job.ALREADY_OPEN = 1;
}
