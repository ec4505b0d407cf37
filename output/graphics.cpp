// The store and print commands of stored graphics, and the band height that
// keeps every store command within its fields. Frame layouts are given above
// each writer; two-byte numbers go low byte first.
#include "output/graphics.h"

#include "core/commands.h"

namespace {

// Bytes of function 112 counted by pL pH besides the data: m fn a bx by c xL xH yL yH.
constexpr uint32_t kStoreParameterBytes = 10;

// Band height of pages of 256 rows or more.
constexpr uint32_t kBandRows = 70;
// Pages up to this many rows go in one band.
constexpr uint32_t kSingleBandMaxRows = 255;

}  // namespace

uint32_t storedBandRows(uint32_t height, size_t rowBytes) {
  uint32_t rows = height <= kSingleBandMaxRows ? height : kBandRows;
  if (rowBytes == 0) return rows;
  size_t fitting = kMaxStoreData / rowBytes;
  return fitting < rows ? static_cast<uint32_t>(fitting) : rows;
}

// 1D 28 4C pL pH 30 70 30 01 01 c xL xH yL yH d1 ... dk
//   pL pH = k + 10, k = rows x rowBytes; c = colour; x = width in dots; y = rows
void sendStoreCommand(OutputSink& out, uint8_t colour, uint32_t width, uint32_t rows, const uint8_t* data,
                      size_t rowBytes) {
  size_t k = rows * rowBytes;
  out.put(command::kGraphics);
  out.putLe16(static_cast<uint32_t>(k + kStoreParameterBytes));
  out.put(command::kStoreGraphics);
  out.put(colour);
  out.putLe16(width);
  out.putLe16(rows);
  out.put(data, k);
}

// 1D 28 4C 02 00 30 32
void sendPrintCommand(OutputSink& out) {
  out.put(command::kPrintGraphics);
}

void reportPageTooWide(const Diagnostics& log, const char* command, uint32_t width, size_t rowBytes) {
  log.printf("TALVERO DEBUG MSG: Page image not printed: rows of %u dots (%zu bytes) are too wide for the %s "
             "command\n",
             width, rowBytes, command);
}
