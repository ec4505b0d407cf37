// A raster job fed page by page and row by row, whatever the rows come from.
// The filter's page loop reads each page header and the page's rows from the
// raster stream and hands them here; another front end (a printer
// application's raster callbacks) drives the same functions and gets the
// same printer bytes and the same diagnostics.
//
// Order of calls: a RasterJob made for the job's context; per page
// startRasterPage, then the page's rows through rasterPageRows (in bands of
// any size), then finishRasterPage, or abandonRasterPage when the rows end
// early; finishRasterJob once at the end unless memory ran out
// (reportAllocationFailure).
#pragma once

#include <cstdint>

#include <cups/raster.h>

#include "core/job_context.h"
#include "job/pipeline.h"

// Largest page taken, in bytes of pixel data (rows x bytes per row).
constexpr uint64_t kMaxPageBytes = uint64_t{256} << 20;

struct RasterJob {
  // Starts the raster job of `context`: takes out the rotation that ticket
  // sizes forbid and sets the job's Focus.
  explicit RasterJob(JobContext& context);

  JobContext& job;
  PageWork work;            // the current page's header and buffers
  uint32_t rowsStored = 0;  // rows of the current page received so far
  int pagesRead = 0;        // page headers taken, blank pages included
  int pageCount = 0;        // pages counted (printed or sent to a pipeline)
  bool failed = false;      // a page was refused or memory ran out: exit status 1
};

// Takes the header of the next page. Returns true when its rows are
// wanted; false when the job ends here: a header of no rows or no bytes per
// row ends it quietly, a layout the printer cannot print or a page too large
// ends it with an ERROR line and the failed flag.
bool startRasterPage(RasterJob& raster, const cups_page_header_t& header);

// Where the next `rows` rows of the page go (rows x cupsBytesPerLine
// bytes), the page's buffer grown to take them. nullptr when memory is
// exhausted or the page has fewer rows left.
uint8_t* rasterPageRows(RasterJob& raster, uint32_t rows);

// The page's rows ended before its last row: reports it; the job ends here.
void abandonRasterPage(RasterJob& raster);

// All the page's rows are in: trims it, counts it, kicks the drawer before
// the first page, prints it and sends the end-of-page feed or cut. A page
// the printer's commands cannot carry is not counted nor sent: an ERROR
// line, the failed flag, and the job ends there. Returns false when memory
// ran out (the job then ends at once).
bool finishRasterPage(RasterJob& raster);

// Reports the allocation failure and sets the failed flag; the job ends
// without its final feed.
void reportAllocationFailure(RasterJob& raster);

// The end of the job on the printer: final feed and drawer kick after
// printing. The output is not flushed.
void finishRasterJob(RasterJob& raster);
