// Stored graphics: the GS ( L function 112 store command, which puts one band
// of raster rows into the printer's graphics buffer as one colour, and the
// GS ( L function 50 print command, which prints what the store commands put
// there. Both the monochrome and the two-colour writers band their pages
// through these, within the limits of the store command's two-byte fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/diagnostics.h"
#include "core/output_sink.h"

// Colour byte of the store command: the first colour (black) and the second.
constexpr uint8_t kFirstColour = 0x31;   // '1'
constexpr uint8_t kSecondColour = 0x32;  // '2'

// Largest number of data bytes one store command can carry: its length field
// pL pH holds at most FFFF and counts ten bytes of parameters besides the data.
constexpr size_t kMaxStoreData = 0xFFFF - 10;

// Largest value of a two-byte field (width, rows).
constexpr uint32_t kMaxField16 = 0xFFFF;

// Whether rows of `width` dots and `rowBytes` bytes can be stored at all: the
// width fits its field and one row fits one store command.
constexpr bool fitsStoreCommand(uint32_t width, size_t rowBytes) {
  return width <= kMaxField16 && rowBytes <= kMaxStoreData;
}

// Rows per band for a page of `height` rows of `rowBytes` bytes: the whole
// page when it has at most 255 rows, else 70; fewer when that many rows would
// not fit one store command. Needs fitsStoreCommand; at least 1 for a page
// that has rows.
uint32_t storedBandRows(uint32_t height, size_t rowBytes);

// Sends one store command: `rows` rows of `rowBytes` bytes from `data`, as
// colour `colour`, `width` dots wide. The caller keeps every field in range.
void sendStoreCommand(OutputSink& out, uint8_t colour, uint32_t width, uint32_t rows, const uint8_t* data,
                      size_t rowBytes);

// Sends the print command for the graphics stored so far.
void sendPrintCommand(OutputSink& out);

// Reports, in one line, a page whose rows are too wide for the two-byte
// fields of `command`, so that its image is not sent.
void reportPageTooWide(const Diagnostics& log, const char* command, uint32_t width, size_t rowBytes);
