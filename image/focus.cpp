// Cutting a window of whole bytes out of every row of a plane. The window
// starts and ends on byte boundaries, so every result byte is a source byte:
// each row's window is copied as it stands, with no scratch memory.
#include "image/focus.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t kWindowBytes = 64;

// Copies bytes start to start + width - 1 of each of the header's rows into
// dest, rows packed.
void copyWindow(const uint8_t* source, uint8_t* dest, const cups_page_header_t& header,
               uint32_t start, uint32_t width) {
  const size_t bytesPerRow = header.cupsBytesPerLine;
  for (size_t y = 0; y < header.cupsHeight; ++y) {
    std::memcpy(dest + y * width, source + y * bytesPerRow + start, width);
  }
}

}  // namespace

// Centred 64-byte window; 0 done, 1 when rows are narrower than the window.
int SelectFocusAreaCenter(const uint8_t* source, uint8_t* dest, const cups_page_header_t& header) {
  const uint32_t bytesPerRow = header.cupsBytesPerLine;
  if (bytesPerRow < kWindowBytes) return 1;
  copyWindow(source, dest, header, bytesPerRow / 2 - kWindowBytes / 2, kWindowBytes);
  return 0;
}

// Right-hand window chosen by the rotation; 0 done, 1 when it does not fit.
int SelectFocusArea(const uint8_t* source, uint8_t* dest, const cups_page_header_t& header, int32_t rotation) {
  const uint32_t bytesPerRow = header.cupsBytesPerLine;
  if (rotation == 1 || rotation == 3) {
    // A page turned by a quarter: its last 64 bytes.
    if (bytesPerRow < kWindowBytes) return 1;
    copyWindow(source, dest, header, bytesPerRow - kWindowBytes, kWindowBytes);
    return 0;
  }
  // Otherwise everything but the first third of the row.
  uint32_t start = bytesPerRow / 3;
  copyWindow(source, dest, header, start, bytesPerRow - start);
  return 0;
}
