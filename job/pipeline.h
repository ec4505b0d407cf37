// The two page pipelines: a counted page is split into black and colour
// planes (two-colour) or kept as one plane (monochrome), reduced, turned and
// cut to the focus window as the settings say. Each hands back the planes it
// made, for the writers.
#pragma once

#include <cups/raster.h>

#include "core/page_buffer.h"
#include "core/job_context.h"
#include "output/page.h"

// The page-sized buffers of a raster job, each sized for the page at hand
// and kept for later pages. A stage with two planes (black, then colour)
// uses both of its pair, a monochrome page the first.
struct PageBuffers {
  PageBuf page;          // the page's rows as they arrive; trimmed where it lies
  PageBuf separated[2];  // the two planes of a two-colour page
  PageBuf reduced;       // the reduced page (its first plane)
  PageBuf turned[2];     // the planes turned by a quarter
  PageBuf window[2];     // the planes cut to the focus window
};

// What a page's pipeline works on; the raster job owns it for the whole job.
struct PageWork {
  explicit PageWork(JobContext& context) : job(context) {}

  JobContext& job;
  cups_page_header_t header{};  // the current page's geometry, as each stage leaves it
  uint8_t* page = nullptr;      // the first kept row of the page, in buffers.page
  PageBuffers buffers;
};

// What a pipeline made of a page.
enum class Made {
  Page,      // the planes to print
  Nothing,   // no row is left to print
  NoMemory,  // a buffer could not be allocated (the page loop reports it)
};

// Each runs one counted page through its pipeline and fills `made` with the
// planes to print, which point into the work's buffers.
Made runColourPipeline(PageWork& work, PagePlanes& made);
Made runMonoPipeline(PageWork& work, PagePlanes& made);

// The width and row length of the planes a pipeline would hand the writers
// for the current page (work.header as the page reader left it), worked out
// from the header alone.
struct PlaneShape {
  uint32_t width;
  uint32_t rowBytes;
};
PlaneShape planeShape(const PageWork& work, bool colourPlanes);
