// The two page pipelines: a counted page is split into black and colour
// planes (two-colour) or kept as one plane (monochrome), reduced, turned and
// cut to the focus window as the settings say, then handed to printPage.
#pragma once

#include <cups/raster.h>

#include "filter/buffer.h"
#include "filter/settings.h"

// The four page-sized buffers of the page loop.
struct JobBuffers {
  PageBuf read;    // the page reader's working area
  PageBuf reduce;  // reduction scratch of both pipelines
  PageBuf mono;    // result plane of the monochrome pipeline
  PageBuf page;    // the page as the page reader delivers it
};

// The buffers the pipelines allocate on first use.
struct PipelineBuffers {
  PageBuf black;
  PageBuf colour;
  PageBuf blackRotate;
  PageBuf colourRotate;
  PageBuf focus;
  PageBuf colourFocus;
};

// What a page's pipeline works on; the page loop owns it for the whole job.
struct PageWork {
  cups_raster_t* stream = nullptr;
  cups_page_header_t header{};
  JobSettings settings{};
  JobBuffers job;
  PipelineBuffers pipe;
};

// Each runs one counted page through its pipeline and printPage. Returns
// false when a buffer could not be allocated (the page was not printed; the
// page loop reports it).
bool runColourPipeline(PageWork& work);
bool runMonoPipeline(PageWork& work);
