// Two-colour page output. Per band, the black rows are stored as colour '1'
// and the same rows of the colour plane as colour '2', then both print
// together:
//
//   1D 28 4C pL pH 30 70 30 01 01 31 xL xH yL yH black rows
//   1D 28 4C pL pH 30 70 30 01 01 32 xL xH yL yH colour rows
//   1D 28 4C 02 00 30 32
//
// A page of up to 255 rows is one band, a longer one goes in bands of 70
// rows. Both planes go out straight from the caller's buffers.
#include "output/color_page.h"

#include <algorithm>
#include <cstddef>

#include "filter/globals.h"
#include "output/graphics.h"

namespace {

// Bytes in one row of each plane. The header's row length counts the four
// quarters of a colour row until the pipeline turns the page by a quarter or
// reduces it; from then on it is the plane's own row length.
size_t planeRowBytes(const cups_page_header_t& header) {
  bool ownRowLength = Rotation == 1 || Rotation == 3 || Scale == 95 || Scale == 100;
  return ownRowLength ? header.cupsBytesPerLine : header.cupsBytesPerLine / 4;
}

}  // namespace

void printColorPage(const uint8_t* black, const uint8_t* colour, const cups_page_header_t& header) {
  size_t rowBytes = planeRowBytes(header);
  uint32_t height = header.cupsHeight;
  // Rows wider than the store command's fields cannot be cut into bands of
  // rows; the image is left out rather than sent with wrapped numbers.
  if (!fitsStoreCommand(header.cupsWidth, rowBytes)) {
    reportPageTooWide("GS ( L", header.cupsWidth, rowBytes);
    return;
  }
  uint32_t bandRows = storedBandRows(height, rowBytes);
  for (uint32_t first = 0; first < height; first += bandRows) {
    uint32_t rows = std::min(height - first, bandRows);
    size_t offset = first * rowBytes;
    sendStoreCommand(kFirstColour, header.cupsWidth, rows, black + offset, rowBytes);
    sendStoreCommand(kSecondColour, header.cupsWidth, rows, colour + offset, rowBytes);
    sendPrintCommand();
  }
}
