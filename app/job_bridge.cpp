// A Printer Application job driven through the filter's raster job; see
// job_bridge.h. Each row the application rasterised is separated into the
// 1-bit rows the prefilter would have written for it, straight into the
// page buffer of the filter's raster job, which then trims, counts and
// prints the page exactly as it does a page read from a raster stream.
#include "app/job_bridge.h"

#include <cstring>
#include <span>
#include <vector>

#include "app/page_width.h"
#include "image/raster_format.h"
#include "job/device.h"
#include "job/raster_job.h"

struct BridgeJob {
  BridgeJob(const JobSettings& settings, bool planes, OutputSink::Writer writer, void* context,
            const Diagnostics& log)
      : out(writer, context), job(settings, out, log), raster(job), colourPlanes(planes) {}

  OutputSink out;            // the job's printer bytes, on their way to the writer
  JobContext job;            // settings, model, the job-wide values
  RasterJob raster;          // the filter's raster job: page buffer, count
  bool colourPlanes = false;

  // The page being received.
  InputLayout layout = InputLayout::Rgb8;
  cups_page_header2_t input{};  // as the application rasterised it
  uint32_t planeRowBytes = 0;   // bytes of one 1-bit row the filter reads
  uint32_t pageRows = 0;
  std::vector<Rgb> pixels;
  uint32_t nextRow = 0;
  uint32_t ditherX0 = 0;  // puts the head's centred window in the filter path's dither phase
  bool pageOpen = false;
  std::string widthNotice;  // marks the last page lost to the head's width
};

void BridgeJobDeleter::operator()(BridgeJob* job) const {
  delete job;
}

namespace {

// The next row of the page buffer, nullptr (the job fails) when out of memory.
uint8_t* nextPlaneRow(BridgeJob& job) {
  uint8_t* row = rasterPageRows(job.raster, 1);
  if (row == nullptr) job.raster.failed = true;
  return row;
}

// Blank rows up to (not including) row `end`.
void putBlankRows(BridgeJob& job, uint32_t end) {
  for (; job.nextRow < end && !job.raster.failed; ++job.nextRow) {
    if (uint8_t* row = nextPlaneRow(job)) std::memset(row, 0, job.planeRowBytes);
  }
}

// Cuts the page down to the print head's width (page_width.h) once all its
// rows are in; says in widthNotice what marks did not fit.
void fitPageToHead(BridgeJob& job) {
  cups_page_header_t& page = job.raster.work.header;
  const uint32_t target = printableWidth(page.cupsWidth, page.HWResolution[0]);
  if (page.cupsWidth <= target || job.raster.rowsStored == 0) return;
  const uint32_t bands = page.cupsBytesPerLine / ((page.cupsWidth + 7) / 8);
  uint8_t* rows = job.raster.work.buffers.page.data();
  uint32_t first = 0, end = 0;
  inkedColumns(rows, job.raster.rowsStored, bands, page.cupsWidth, first, end);
  CropWindow window = chooseWindow(page.cupsWidth, target, first, end);
  cropRows(rows, job.raster.rowsStored, bands, page.cupsWidth, window);
  if (window.lostLeft + window.lostRight > 0) {
    job.widthNotice = "marks " + std::to_string(end - first) + " dots wide do not fit the " +
                      std::to_string(target) + "-dot print head; " + std::to_string(window.lostLeft) +
                      " dots at the left and " + std::to_string(window.lostRight) +
                      " at the right are not printed";
  }
  page.cupsWidth = window.width;
  page.cupsBytesPerLine = bands * ((window.width + 7) / 8);
}

}  // namespace

BridgeJobPtr bridgeStartJob(const JobSettings& settings, bool colourPlanes, OutputSink::Writer writer,
                            void* context, const Diagnostics& log) {
  BridgeJobPtr job(new BridgeJob(settings, colourPlanes, writer, context, log));
  shutDown(job->out);  // ESC @: the printer starts from a known state
  return job;
}

bool bridgeStartPage(BridgeJob& job, const cups_page_header2_t& header, std::string& why) {
  job.pageOpen = false;  // a page started but never ended is dropped
  if (job.raster.failed) {
    why = "the job has stopped";
    return false;
  }
  if (!inputLayoutOf(header, job.layout, why)) return false;
  cups_page_header2_t planes = outputHeader(header, job.colourPlanes);
  // The filter reads the version-1 part of the header, which leads the
  // version-2 header field for field.
  cups_page_header_t page;
  std::memcpy(&page, &planes, sizeof page);
  if (!startRasterPage(job.raster, page)) {
    why = job.raster.failed ? "the printer cannot print this page (see the log)" : "empty page";
    return false;
  }
  job.input = header;
  job.planeRowBytes = page.cupsBytesPerLine;
  job.pageRows = page.cupsHeight;
  job.pixels.assign(header.cupsWidth, Rgb{});
  job.nextRow = 0;
  // The filter path dithers the head's window from its first column; so
  // does the bridge when the crop rule keeps the centred window.
  const uint32_t head = printableWidth(header.cupsWidth, header.HWResolution[0]);
  job.ditherX0 = header.cupsWidth > head ? (8 - (header.cupsWidth - head) / 2 % 8) % 8 : 0;
  job.pageOpen = true;
  return true;
}

void bridgeWriteLine(BridgeJob& job, uint32_t y, const uint8_t* line) {
  if (!job.pageOpen || job.raster.failed || y < job.nextRow || y >= job.pageRows) return;
  putBlankRows(job, y);
  uint8_t* row = job.raster.failed ? nullptr : nextPlaneRow(job);
  if (row == nullptr) return;
  decodeRow(job.layout, std::span<const uint8_t>(line, job.input.cupsBytesPerLine), job.pixels);
  encodeRow(job.pixels, y, job.colourPlanes, std::span<uint8_t>(row, job.planeRowBytes), job.ditherX0);
  ++job.nextRow;
}

bool bridgeEndPage(BridgeJob& job, std::string& why) {
  if (!job.pageOpen) return !job.raster.failed;
  job.pageOpen = false;
  if (!job.raster.failed && job.nextRow < job.pageRows) {
    // The document ended inside the page: the rows that never came are not
    // made up, so a header's height alone takes no memory.
    why = "the document ends early: " + std::to_string(job.nextRow) + " of the page's " +
          std::to_string(job.pageRows) + " rows arrived";
    abandonRasterPage(job.raster);
    job.raster.failed = true;
    return false;
  }
  job.widthNotice.clear();
  if (!job.raster.failed) fitPageToHead(job);
  if (job.raster.failed || !finishRasterPage(job.raster)) {
    why = "out of memory";
    reportAllocationFailure(job.raster);
    return false;
  }
  if (job.raster.failed) {
    why = "its rows are too wide for the printer's commands";
    return false;
  }
  job.out.flush();  // the page reaches the printer now, not at the end of the job
  return true;
}

const std::string& bridgeWidthNotice(const BridgeJob& job) {
  return job.widthNotice;
}

BridgeResult bridgeEndJob(BridgeJobPtr job) {
  if (!job->raster.failed) finishRasterJob(job->raster);
  job->out.flush();
  return BridgeResult{job->raster.pageCount, job->raster.failed, job->out.writeError()};
}

int bridgeWriteError(const BridgeJob& job) {
  return job.out.writeError();
}

bool bridgeCancelJob(BridgeJobPtr job) {
  // Whatever page was coming is dropped; the bytes produced so far go first.
  sendCancelNulls(job->out);
  shutDown(job->out);
  job->out.flush();
  return job->out.writeError() == 0;
}
