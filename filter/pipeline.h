// The two page pipelines: a counted page is split into black and colour
// planes (two-colour) or kept as one plane (monochrome), reduced, turned and
// cut to the focus window as the settings say, then handed to printPage.
#pragma once

#include <cups/raster.h>

#include "filter/buffer.h"
#include "filter/settings.h"

// The page-sized buffers of a raster job, each sized for the page at hand
// and kept for later pages.
struct JobBuffers {
  PageBuf page;    // the page's rows as they arrive; trimmed where it lies
  PageBuf reduce;  // the reduced page (the black plane in the two-colour pipeline)
  PageBuf mono;    // the monochrome page turned by a quarter
};

// The buffers of the two-colour pipeline.
struct PipelineBuffers {
  PageBuf black;
  PageBuf colour;
  PageBuf blackRotate;
  PageBuf colourRotate;
  PageBuf focus;
  PageBuf colourFocus;
};

// What a page's pipeline works on; the job owns it for the whole job.
struct PageWork {
  cups_raster_t* stream = nullptr;  // where changed headers are handed; may be null
  cups_page_header_t header{};
  JobSettings settings{};
  uint8_t* page = nullptr;  // the first kept row of the page, in JobBuffers::page
  JobBuffers job;
  PipelineBuffers pipe;
};

// Each runs one counted page through its pipeline and printPage. Returns
// false when a buffer could not be allocated (the page was not printed; the
// page loop reports it).
bool runColourPipeline(PageWork& work);
bool runMonoPipeline(PageWork& work);
