// Cutting a window of whole bytes out of every row of a plane.
#pragma once

#include <cstdint>

#include <cups/raster.h>

// The centred 64-byte window of each row (bytes B / 2 - 32 to B / 2 + 31),
// rows packed one after another into `dest` (cupsHeight x 64 bytes, not
// overlapping `source`). Geometry from `header` (cupsHeight rows of
// cupsBytesPerLine bytes), which is not changed. Copies bytes and needs no
// scratch memory, so it cannot run out of memory: returns 0, or 1 with
// `dest` untouched when rows are narrower than 64 bytes.
int SelectFocusAreaCenter(const uint8_t* source, uint8_t* dest, const cups_page_header_t& header);

// The right-hand window of each row: the last 64 bytes when `rotation` (the
// turn the page has had) is 1 or 3, otherwise the row without its first
// B / 3 bytes (B - B / 3 bytes). Returns as SelectFocusAreaCenter (1 only for
// the 64-byte window on rows narrower than 64 bytes).
int SelectFocusArea(const uint8_t* source, uint8_t* dest, const cups_page_header_t& header, int32_t rotation);
