// A Printer Application job driven through the filter's page loop; see
// job_bridge.h. Each page is kept as the raster stream the prefilter would
// have written for it (a page header and 1-bit rows, in memory) and read
// back by the filter's own page reader, so the page takes exactly the path
// a page of the CUPS filter takes.
#include "app/job_bridge.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "filter/device.h"
#include "filter/globals.h"
#include "filter/job.h"
#include "prefilter/raster_format.h"

namespace {

// Largest page kept in memory as 1-bit rows: a 3276 mm roll at 203 dpi in
// black and red takes about 9 MB, so this only stops absurd headers.
constexpr uint64_t kMaxPageBytes = 256ull << 20;

// A raster stream held in memory, written and then read back.
struct MemoryRaster {
  std::vector<uint8_t> bytes;
  size_t readAt = 0;
};

// Raster write callback: appends to the memory stream; -1 when out of memory.
ssize_t appendRaster(void* context, unsigned char* data, size_t length) {
  auto* raster = static_cast<MemoryRaster*>(context);
  try {
    raster->bytes.insert(raster->bytes.end(), data, data + length);
  } catch (const std::bad_alloc&) {
    return -1;
  }
  return static_cast<ssize_t>(length);
}

// Raster read callback: the next bytes of the memory stream; 0 at its end.
ssize_t readRaster(void* context, unsigned char* data, size_t length) {
  auto* raster = static_cast<MemoryRaster*>(context);
  size_t count = std::min(length, raster->bytes.size() - raster->readAt);
  std::memcpy(data, raster->bytes.data() + raster->readAt, count);
  raster->readAt += count;
  return static_cast<ssize_t>(count);
}

}  // namespace

struct BridgeJob {
  PageWork work;             // the page loop's buffers and settings
  bool colourPlanes = false;
  int pageCount = 0;
  bool failed = false;       // a buffer allocation failed: nothing more is printed

  // The page being received.
  InputLayout layout = InputLayout::Rgb8;
  cups_page_header2_t input{};   // as the application rasterised it
  cups_page_header2_t planes{};  // as the filter reads it
  cups_raster_t* pageOut = nullptr;
  MemoryRaster raster;
  std::vector<Rgb> pixels;
  std::vector<uint8_t> row;
  uint32_t nextRow = 0;
  bool pageOpen = false;
};

void BridgeJobDeleter::operator()(BridgeJob* job) const {
  if (job->pageOut != nullptr) cupsRasterClose(job->pageOut);
  delete job;
}

namespace {

// Writes one 1-bit row of the page; false (the job fails) when out of memory.
bool putRow(BridgeJob& job) {
  if (cupsRasterWritePixels(job.pageOut, job.row.data(), job.planes.cupsBytesPerLine) != 0) return true;
  job.failed = true;
  return false;
}

// Blank rows up to (not including) row `end`.
void putBlankRows(BridgeJob& job, uint32_t end) {
  std::fill(job.row.begin(), job.row.end(), uint8_t{0});
  for (; job.nextRow < end && !job.failed; ++job.nextRow) putRow(job);
}

}  // namespace

BridgeJobPtr bridgeStartJob(const JobSettings& settings, bool colourPlanes, OutWriter writer,
                            void* context) {
  BridgeJobPtr job(new BridgeJob);
  resetJobGlobals();
  PrinterModel = settings.ModelNumber;
  outCapture(nullptr);  // nothing left over from an earlier job on this thread
  outSetWriter(writer, context);
  shutDown();           // ESC @: the printer starts from a known state
  job->work.settings = settings;
  job->colourPlanes = colourPlanes;
  beginRasterJob(job->work);
  return job;
}

bool bridgeStartPage(BridgeJob& job, const cups_page_header2_t& header, std::string& why) {
  job.pageOpen = false;
  if (job.pageOut != nullptr) {  // a page started but never ended is dropped
    cupsRasterClose(job.pageOut);
    job.pageOut = nullptr;
  }
  if (job.failed) {
    why = "the job has stopped";
    return false;
  }
  if (!inputLayoutOf(header, job.layout, why)) return false;
  job.input = header;
  job.planes = outputHeader(header, job.colourPlanes);
  if (uint64_t{job.planes.cupsHeight} * job.planes.cupsBytesPerLine > kMaxPageBytes) {
    why = "page too large (" + std::to_string(header.cupsWidth) + " x " + std::to_string(header.cupsHeight) +
          " dots)";
    return false;
  }
  job.raster = MemoryRaster{};
  job.pageOut = cupsRasterOpenIO(appendRaster, &job.raster, CUPS_RASTER_WRITE);
  if (job.pageOut == nullptr || cupsRasterWriteHeader2(job.pageOut, &job.planes) == 0) {
    why = "cannot start the page's raster";
    return false;
  }
  job.pixels.assign(header.cupsWidth, Rgb{});
  job.row.assign(job.planes.cupsBytesPerLine, 0);
  job.nextRow = 0;
  job.pageOpen = true;
  return true;
}

void bridgeWriteLine(BridgeJob& job, uint32_t y, const uint8_t* line) {
  if (!job.pageOpen || job.failed || y < job.nextRow || y >= job.planes.cupsHeight) return;
  putBlankRows(job, y);
  decodeRow(job.layout, std::span<const uint8_t>(line, job.input.cupsBytesPerLine), job.pixels);
  encodeRow(job.pixels, y, job.colourPlanes, job.row);
  if (putRow(job)) ++job.nextRow;
}

bool bridgeEndPage(BridgeJob& job) {
  if (!job.pageOpen) return !job.failed;
  job.pageOpen = false;
  putBlankRows(job, job.planes.cupsHeight);
  cupsRasterClose(job.pageOut);
  job.pageOut = nullptr;
  if (job.failed) return false;

  cups_raster_t* pageIn = cupsRasterOpenIO(readRaster, &job.raster, CUPS_RASTER_READ);
  job.work.stream = pageIn;
  if (!runRasterPages(job.work, job.pageCount)) job.failed = true;
  job.work.stream = nullptr;
  if (pageIn != nullptr) cupsRasterClose(pageIn);
  job.raster = MemoryRaster{};
  outFlush();  // the page reaches the printer now, not at the end of the job
  return !job.failed;
}

BridgeResult bridgeEndJob(BridgeJobPtr job) {
  if (!job->failed) finishRasterJob(job->work.settings);
  outFlush();
  outSetWriter(nullptr, nullptr);
  return BridgeResult{job->pageCount, job->failed};
}

void bridgeCancelJob(BridgeJobPtr job) {
  job.reset();  // whatever page was coming is dropped
  sendCancelNulls();
  shutDown();
  outFlush();
  outSetWriter(nullptr, nullptr);
}
