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

#include "output/graphics.h"

void printColorPage(JobContext& job, const PagePlanes& page) {
  size_t rowBytes = page.rowBytes;
  uint32_t height = page.height;
  // Rows wider than the store command's fields cannot be cut into bands of
  // rows; the image is left out rather than sent with wrapped numbers.
  if (!fitsStoreCommand(page.width, rowBytes)) {
    reportPageTooWide(job.log, "GS ( L", page.width, rowBytes);
    return;
  }
  uint32_t bandRows = storedBandRows(height, rowBytes);
  for (uint32_t first = 0; first < height; first += bandRows) {
    uint32_t rows = std::min(height - first, bandRows);
    size_t offset = first * rowBytes;
    sendStoreCommand(job.out, kFirstColour, page.width, rows, page.black + offset, rowBytes);
    sendStoreCommand(job.out, kSecondColour, page.width, rows, page.colour + offset, rowBytes);
    sendPrintCommand(job.out);
  }
}
