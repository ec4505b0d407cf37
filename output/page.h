// One printed page of a raster job: the optional stored logo before and/or
// after it, and the page through the writer of the pipeline it came from.
#pragma once

#include <cstdint>

#include "core/job_context.h"

// A page as a pipeline made it, ready for the writers: one plane (monochrome)
// or two planes of equal size (black and the second colour), each `height`
// rows of `rowBytes` bytes, `width` dots wide.
struct PagePlanes {
  const uint8_t* black = nullptr;   // the monochrome page, or the black plane
  const uint8_t* colour = nullptr;  // the colour plane; nullptr for a monochrome page
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t rowBytes = 0;
};

// Sends the page as the job's ColorMode says, with its logos.
void printPage(JobContext& job, const PagePlanes& page);

// The printer command that cannot carry a page of `width` dots in rows of
// `rowBytes` bytes, in black and red when `colourPlanes`, else in the job's
// monochrome form; nullptr when the page fits.
const char* commandTooSmallFor(const JobContext& job, bool colourPlanes, uint32_t width, size_t rowBytes);
