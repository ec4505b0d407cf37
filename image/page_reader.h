// The page reader's decisions on a page whose rows have arrived: with page
// type 0, blank pages are skipped and the blank rows at both ends of a page
// are trimmed; a page whose rows could not all be read is reported.
#pragma once

#include <cstdint>

#include <cups/raster.h>

#include "core/diagnostics.h"

constexpr int kPageReady = 0;
constexpr int kPageBlank = -1;
constexpr int kPageUnreadable = -2;

// Decides on the page of `header` (cupsHeight rows of cupsBytesPerLine
// bytes, both non-zero) held in `page`. Page type 0: a page of zeros is
// blank (the NULLPAGE message to `log`, header unchanged); otherwise
// cupsHeight is lowered by the whole blank rows at both ends and `firstRow`
// set to the first kept row. Any other page type keeps every row: firstRow
// 0, header unchanged. The page's bytes are not changed.
// Returns kPageReady or kPageBlank.
int trimBlankRows(const Diagnostics& log, const uint8_t* page, cups_page_header_t& header, int32_t pageType,
                   uint32_t& firstRow);

// Reports a page whose pixel data ended early (the NULLIMAGE message of page
// type 0, NULLIMAGE2 of the others); the page reader's result is then
// kPageUnreadable.
void reportUnreadablePage(const Diagnostics& log, int32_t pageType);
