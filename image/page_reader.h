// Reading one page's pixels from the raster stream, and with page type 0,
// skipping blank pages and trimming blank rows from both ends.
#pragma once

#include <cstdint>

#include <cups/raster.h>

constexpr int kPageReady = 0;
constexpr int kPageBlank = -1;
constexpr int kPageUnreadable = -2;

// Reads the page described by `header` (cupsHeight rows of cupsBytesPerLine
// bytes, both non-zero) from `stream`. Page type 0: reads into `readBuffer`,
// trims blank rows at both ends (lowering header.cupsHeight) and copies the
// rest to `pageBuffer` (and calls cupsRasterWriteHeader after each of the
// two height changes). Page type 1, and any other page type: reads straight
// into `pageBuffer`, no trimming, header unchanged. One page's pixel data is
// consumed per call, blank pages included.
// Both buffers hold at least cupsHeight x cupsBytesPerLine bytes.
// Returns kPageReady, kPageBlank (every byte 0; consumed) or kPageUnreadable.
int removeNullLine(cups_raster_t* stream, uint8_t* pageBuffer, uint8_t* readBuffer,
                   cups_page_header_t& header, int32_t pageType);
