// The page reader: takes one page's pixel data off the raster stream and,
// with page type 0, drops blank pages and the blank rows at both ends of a
// page. Trailing blank rows are counted backwards from the page's last byte;
// leading ones are found by turning the kept rows by 180 degrees in place,
// counting backwards again and turning the rest back. It works in the page
// loop's two buffers and allocates nothing.
#include "image/page_reader.h"

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "image/rotate.h"

namespace {

// Number of zero bytes at the end of the first `byteCount` bytes of `bytes`,
// counted back to the first non-zero byte (byteCount when all are zero).
size_t trailingZeroBytes(const uint8_t* bytes, size_t byteCount) {
  size_t end = byteCount;
  while (end > 0 && bytes[end - 1] == 0) --end;
  return byteCount - end;
}

// Reads `byteCount` bytes of pixel data into `buffer`; false when the stream
// has no more (libcups gives 0 for a short or failed read).
bool readPixels(cups_raster_t* stream, uint8_t* buffer, size_t byteCount) {
  if (byteCount > UINT_MAX) return false;
  return cupsRasterReadPixels(stream, buffer, static_cast<unsigned>(byteCount)) != 0;
}

// Page type 0: read into readBuffer, trim, copy to pageBuffer. Returns as
// removeNullLine.
int readAndTrim(cups_raster_t* stream, uint8_t* pageBuffer, uint8_t* readBuffer,
                cups_page_header_t& header) {
  const size_t bytesPerRow = header.cupsBytesPerLine;
  size_t height = header.cupsHeight;
  if (!readPixels(stream, readBuffer, height * bytesPerRow)) {
    std::fputs("TALVERO DEBUG MSG : removeNullLine() NULLIMAGE\n", stderr);
    return kPageUnreadable;
  }

  // Blank rows at the end: only whole rows of zeros count.
  size_t blankRows = trailingZeroBytes(readBuffer, height * bytesPerRow) / bytesPerRow;
  if (blankRows == height) {
    std::fputs("TALVERO DEBUG MSG : removeNullLine() NULLPAGE\n", stderr);
    return kPageBlank;
  }
  height -= blankRows;
  header.cupsHeight = static_cast<unsigned>(height);
  cupsRasterWriteHeader(stream, &header);

  // Blank rows at the start: turned end for end, they are blank rows at the
  // end. The non-zero byte found above keeps at least one row.
  rotate180Degree(readBuffer, static_cast<uint32_t>(height * bytesPerRow));
  blankRows = trailingZeroBytes(readBuffer, height * bytesPerRow) / bytesPerRow;
  height -= blankRows;
  header.cupsHeight = static_cast<unsigned>(height);
  cupsRasterWriteHeader(stream, &header);

  // Turning the kept rows back puts them at the start, as they were.
  rotate180Degree(readBuffer, static_cast<uint32_t>(height * bytesPerRow));
  std::memcpy(pageBuffer, readBuffer, height * bytesPerRow);
  return kPageReady;
}

// Page type 1 and others: the page whole into pageBuffer. Returns
// kPageReady or kPageUnreadable.
int readWhole(cups_raster_t* stream, uint8_t* pageBuffer, const cups_page_header_t& header) {
  size_t byteCount = size_t{header.cupsHeight} * header.cupsBytesPerLine;
  if (!readPixels(stream, pageBuffer, byteCount)) {
    std::fputs("TALVERO DEBUG MSG : removeNullLine() NULLIMAGE2\n", stderr);
    return kPageUnreadable;
  }
  return kPageReady;
}

}  // namespace

// Reads (and with page type 0 trims) one page; kPageReady, kPageBlank or kPageUnreadable.
int removeNullLine(cups_raster_t* stream, uint8_t* pageBuffer, uint8_t* readBuffer,
                   cups_page_header_t& header, int32_t pageType) {
  if (pageType == 0) return readAndTrim(stream, pageBuffer, readBuffer, header);
  // Page type 1 delivers the page as read. Any other page type (a PPD
  // without the PageType option gives -1) is read the same way: skipping the
  // read would leave this page's pixels in the stream, the next header would
  // be taken from pixel data and every later page would be lost.
  return readWhole(stream, pageBuffer, header);
}
