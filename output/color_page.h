// Two-colour page output: both planes stored as colours '1' (black) and '2'
// (the second colour) with GS ( L function 112, then printed with function 50.
#pragma once

#include <cstdint>

#include <cups/raster.h>

// Sends the black and colour planes (cupsHeight rows each).
void printColorPage(const uint8_t* black, const uint8_t* colour, const cups_page_header_t& header);
