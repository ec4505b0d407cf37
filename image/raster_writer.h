// The pixel rows of a 1-bit page in a compressed CUPS raster stream, byte
// for byte as libcups's cupsRasterWritePixels writes them for a stream
// opened with CUPS_RASTER_WRITE_COMPRESSED, at a fraction of its cost
// (libcups compares each byte with the next through a call to memcmp). The
// stream's sync word and page headers are still libcups's
// (cupsRasterWriteHeader2 on a stream with the same write callback).
//
// Each row: one byte, the number of times the row repeats minus 1 (up to
// 256 equal rows), then the row in runs of bytes: a byte n (0..127) and one
// byte that stands n + 1 times, or a byte 257 - n (n = 1..128) and n bytes
// as they are.
#pragma once

#include <cstdint>
#include <vector>

#include <cups/raster.h>

struct RowWriter {
  cups_raster_iocb_t write = nullptr;  // the stream's write callback
  void* context = nullptr;
  uint32_t bytesPerLine = 0;
  uint32_t rowsLeft = 0;          // rows of the page not yet handed over
  uint32_t repeats = 0;           // times `row` stands, not yet written
  std::vector<uint8_t> row;       // the row waiting to be written
  std::vector<uint8_t> encoded;   // one row's bytes in the stream
};

// Starts the rows of a page whose header (1 bit per colour) has just been
// written through the same callback.
void startRows(RowWriter& writer, const cups_page_header2_t& header);

// Hands over the page's next row (bytesPerLine bytes). Returns false when
// the callback fails or the page has all its rows.
bool writeRow(RowWriter& writer, const uint8_t* row);
