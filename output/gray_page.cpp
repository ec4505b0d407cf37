// Monochrome page output in one of three forms, chosen per page:
//
//   GS v 0 (models marked gsv0):   1D 76 30 00 xL xH yL yH data
//     x = bytes per row, y = rows; the page in one command.
//   Compressed raster (CompPrinting 1 on models with a band height):
//     08 43 52 00 00 00 00 00 wL wH yL yH code 08 43 52 FF 00
//     w = width in dots, y = rows of the band, code = the band's bytes
//     run-length coded; one command per band of the model's height.
//   Stored graphics (CompPrinting 0): GS ( L function 112 with colour '1'
//     and GS ( L function 50, the page whole up to 255 rows, else in bands
//     of 70 rows.
//
// An rleRows model whose CompPrinting is neither 0 nor 1 gets nothing at all.
// Each form writes one line on standard error naming it. The rows go out
// straight from the caller's plane.
#include "output/gray_page.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdint>

#include "core/commands.h"
#include "image/blank_rows.h"
#include "output/compress.h"
#include "output/graphics.h"

namespace {

enum class Form { RasterBitImage, Compressed, Stored, None };

// The form of the page: GS v 0 models always use it; otherwise CompPrinting
// 1 asks for compression where the model has it, and 0 for stored graphics.
Form chooseForm(const ModelRow& model, int32_t compPrinting) {
  if (model.gsv0) return Form::RasterBitImage;
  if (compPrinting == 1 && model.rleRows != 0) return Form::Compressed;
  if (compPrinting == 0) return Form::Stored;
  return Form::None;
}

// Rows left once whole blank rows at the bottom of the page are dropped.
// A row that holds any dot stays, and so does every row above it.
uint32_t rowsWithoutTrailingBlanks(const uint8_t* plane, uint32_t height, size_t rowBytes) {
  if (rowBytes == 0) return height;
  return height - trailingBlankRows(plane, height, static_cast<uint32_t>(rowBytes));
}

// 1D 76 30 00 xL xH yL yH data, x in bytes. A page of more than FFFF rows
// goes as several commands of at most FFFF rows, which print one below the
// other. A page with no row left (nothing but blank rows) sends no command.
void sendRasterBitImage(JobContext& job, const PagePlanes& page) {
  size_t rowBytes = page.rowBytes;
  uint32_t rows = page.height;
  if (job.PageType == 0 && (job.Rotation == 1 || job.Rotation == 3)) {
    rows = rowsWithoutTrailingBlanks(page.black, rows, rowBytes);
  }
  job.log.line("TALVERO DEBUG MSG: START PRINTING\n");
  for (uint32_t first = 0; first < rows; first += kMaxField16) {
    uint32_t count = std::min(rows - first, kMaxField16);
    job.out.put(command::kRasterBitImage);
    job.out.putLe16(static_cast<uint32_t>(rowBytes));
    job.out.putLe16(count);
    job.out.put(page.black + first * rowBytes, count * rowBytes);
  }
}

// Codes one band; CompressData counts its input in 32 bits, so a band larger
// than that (never one the raster library can deliver) is coded in pieces,
// which decode to the same bytes.
void compressBand(OutputSink& out, const uint8_t* data, size_t length) {
  constexpr size_t kMaxPiece = UINT32_MAX;
  while (length > 0) {
    size_t piece = std::min(length, kMaxPiece);
    CompressData(out, data, static_cast<uint32_t>(piece));
    data += piece;
    length -= piece;
  }
}

// 08 43 52 00 00 00 00 00 wL wH yL yH code 08 43 52 FF 00 per band of
// `bandRows` rows (the last band holds what is left). The rows field never
// exceeds the band height, so only the width can be out of range.
void sendCompressed(JobContext& job, const PagePlanes& page, uint32_t bandRows) {
  size_t rowBytes = page.rowBytes;
  uint32_t height = page.height;
  job.log.line("RLE printing.\n");
  for (uint32_t first = 0; first < height; first += bandRows) {
    uint32_t rows = std::min(height - first, bandRows);
    job.out.put(command::kCompressedRaster);
    job.out.putLe16(page.width);
    job.out.putLe16(rows);
    compressBand(job.out, page.black + first * rowBytes, rows * rowBytes);
    job.out.put(command::kCompressedRasterEnd);
  }
}

// One store command (colour '1') and one print command per band.
void sendStored(JobContext& job, const PagePlanes& page) {
  size_t rowBytes = page.rowBytes;
  uint32_t height = page.height;
  uint32_t bandRows = storedBandRows(height, rowBytes);
  job.log.line("Normal printing.\n");
  for (uint32_t first = 0; first < height; first += bandRows) {
    uint32_t rows = std::min(height - first, bandRows);
    sendStoreCommand(job.out, kFirstColour, page.width, rows, page.black + first * rowBytes, rowBytes);
    sendPrintCommand(job.out);
  }
}

}  // namespace

const char* grayCommandTooSmall(const JobContext& job, uint32_t width, size_t rowBytes) {
  switch (chooseForm(job.model, job.settings.CompPrinting)) {
    case Form::RasterBitImage:
      return rowBytes > kMaxField16 ? "GS v 0" : nullptr;
    case Form::Compressed:
      return width > kMaxField16 ? "compressed raster" : nullptr;
    case Form::Stored:
      return fitsStoreCommand(width, rowBytes) ? nullptr : "GS ( L";
    case Form::None:
      return nullptr;
  }
  return nullptr;
}

void printGrayPage(JobContext& job, const PagePlanes& page) {
  size_t rowBytes = page.rowBytes;
  // A width or row length beyond its two-byte field cannot be split into
  // bands of rows: the printer would read a wrapped number and print
  // garbage, so such an image is not sent at all (the raster job refuses
  // such a page before it counts it).
  if (const char* command = grayCommandTooSmall(job, page.width, rowBytes)) {
    return reportPageTooWide(job.log, command, page.width, rowBytes);
  }
  switch (chooseForm(job.model, job.settings.CompPrinting)) {
    case Form::RasterBitImage:
      return sendRasterBitImage(job, page);
    case Form::Compressed:
      return sendCompressed(job, page, job.model.rleRows);
    case Form::Stored:
      return sendStored(job, page);
    case Form::None:
      return;
  }
}
