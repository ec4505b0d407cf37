// One printed page of a raster job: the optional stored logo before and/or
// after it, and the page through the writer of the pipeline it came from.
#pragma once

#include <cstdint>

#include <cups/raster.h>

#include "filter/settings.h"

// `second` is the colour plane of a two-colour page, nullptr for a
// monochrome page.
void printPage(const uint8_t* first, const uint8_t* second, const cups_page_header_t& header,
               const JobSettings& settings);
