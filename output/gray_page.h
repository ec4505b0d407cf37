// Monochrome page output: GS v 0, the compressed raster command, or stored
// graphics (GS ( L functions 112 and 50), chosen by model and CompPrinting.
#pragma once

#include <cstdint>

#include <cups/raster.h>

// Sends the plane (cupsHeight rows of cupsBytesPerLine bytes).
void printGrayPage(const uint8_t* plane, const cups_page_header_t& header, int32_t compPrinting);
