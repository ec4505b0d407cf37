// The page pipelines. Each stage that changes the page's shape rewrites the
// page header (height, width, bytes per row) and hands it to the raster
// stream, so the next stage and the writers read the page's geometry from
// the header alone.
//
// Two-colour: each row of the page is four quarters of q = B / 4 bytes;
// quarters 1 to 3 OR together into the colour plane, quarter 4 is the black
// plane. Both planes are then reduced, turned and cut alike.
// Monochrome: the page is one plane, reduced (for models that scale), turned,
// trimmed of blank rows after a quarter turn, and cut.
#include "filter/pipeline.h"

#include <algorithm>
#include <cstring>

#include "filter/globals.h"
#include "filter/model_table.h"
#include "image/focus.h"
#include "image/rotate.h"
#include "image/scale.h"
#include "output/page.h"

namespace {

// PageSize choice numbers of the two reductions.
constexpr int32_t kReduceToThird = 95;
constexpr int32_t kReduceToHalf = 100;
// Rows wider than this are cut to the focus window (after a halving).
constexpr uint32_t kFocusMinBytes = 64;

// A reduction: the plane operation and how many source dots each result dot
// stands for in each direction.
struct Reduction {
  int (*reduce)(const uint8_t*, uint8_t*, uint32_t, uint32_t);
  uint32_t divisor;
};

// The reduction a PageSize choice asks for, or nullptr for none.
const Reduction* reductionFor(int32_t pageSize) {
  static constexpr Reduction kThird{scale100, 3};
  static constexpr Reduction kHalf{scale50, 2};
  if (pageSize == kReduceToThird) return &kThird;
  if (pageSize == kReduceToHalf) return &kHalf;
  return nullptr;
}

void writeHeader(PageWork& work) {
  cupsRasterWriteHeader(work.stream, &work.header);
}

size_t bytes(uint32_t rows, uint32_t bytesPerRow) {
  return size_t{rows} * bytesPerRow;
}

// Bits per dot; a header that claims 0 is taken as 1 so no width is divided by 0.
uint32_t bitsPerPixel(const cups_page_header_t& header) {
  return std::max(header.cupsBitsPerPixel, 1u);
}

// Bytes a quarter turn of `rows` rows of `bytesPerRow` bytes writes.
size_t quarterTurnBytes(uint32_t rows, uint32_t bytesPerRow) {
  return size_t{8} * bytesPerRow * ((rows + 7) / 8);
}

// Allocates (or grows) a pipeline buffer to `size` bytes and zeroes it;
// false when memory is exhausted.
bool prepare(PageBuf& buffer, size_t size) {
  if (!buffer.reserve(size)) return false;
  buffer.clear(size);
  return true;
}

// Header after a reduction by `divisor` (3 or 2) of rows of `rowBytes`
// bytes. The reduction writes rows of rowBytes / divisor bytes; the header
// takes that row length, and a width no wider than those rows, so the
// writers always read rows of the length the plane really has. Where width
// and row length agree (rows of 48 or 72 bytes, say) this is
// (width / divisor + 7) / 8 bytes, as the width alone would give.
void reduceHeader(cups_page_header_t& header, uint32_t rowBytes, uint32_t divisor) {
  uint32_t reducedBytes = rowBytes / divisor;
  header.cupsHeight /= divisor;
  header.cupsWidth = std::min(header.cupsWidth / divisor, 8 * reducedBytes / bitsPerPixel(header));
  header.cupsBytesPerLine = reducedBytes;
}

// Header after a quarter turn of the current page.
void quarterTurnHeader(cups_page_header_t& header) {
  uint32_t rows = header.cupsHeight;
  header.cupsHeight = header.cupsWidth;
  header.cupsWidth = rows;
  header.cupsBytesPerLine = (bitsPerPixel(header) * rows + 7) / 8;
}

// Header after the focus window of `width` bytes.
void focusHeader(cups_page_header_t& header, uint32_t width) {
  header.cupsWidth = (8 * width - 7) / bitsPerPixel(header);
  header.cupsBytesPerLine = width;
}

// Rows of padding a turn by 270 degrees puts first: each source row of
// `rowBytes` bytes carries 8 x rowBytes dots, of which only `width` are the
// page's. Skipping them keeps the page's real last rows, which the new
// height would otherwise leave out.
size_t leadingPaddingRows(uint32_t rowBytes, uint32_t width) {
  uint32_t dots = 8 * rowBytes;
  return dots > width ? dots - width : 0;
}

// Width of the focus window for `focus` (1 right-hand part, 2 centred).
uint32_t focusWidth(int32_t focus, int32_t rotation, uint32_t rowBytes) {
  if (focus == 2 || rotation == 1 || rotation == 3) return kFocusMinBytes;
  return rowBytes - rowBytes / 3;
}

void selectWindow(int32_t focus, const uint8_t* source, uint8_t* dest, const cups_page_header_t& header) {
  if (focus == 2) {
    SelectFocusAreaCenter(source, dest, header);
  } else {
    SelectFocusArea(source, dest, header);
  }
}

// Zero bytes at the end of the first `length` bytes of `plane`.
size_t trailingZeroBytes(const uint8_t* plane, size_t length) {
  size_t count = 0;
  while (count < length && plane[length - 1 - count] == 0) ++count;
  return count;
}

// Drops whole blank rows from the end of the plane described by the header.
void dropTrailingBlankRows(PageWork& work, uint8_t* plane) {
  cups_page_header_t& header = work.header;
  size_t blank = trailingZeroBytes(plane, bytes(header.cupsHeight, header.cupsBytesPerLine));
  header.cupsHeight -= static_cast<uint32_t>(blank / header.cupsBytesPerLine);
  writeHeader(work);
}

// A page with no rows or no bytes per row left has nothing to print.
bool hasImage(const cups_page_header_t& header) {
  return header.cupsHeight > 0 && header.cupsBytesPerLine > 0;
}

// ---- two-colour ----

struct ColourPlanes {
  uint8_t* black;
  uint8_t* colour;
  uint32_t rowBytes;  // bytes per plane row
};

void separate(const uint8_t* page, const cups_page_header_t& header, ColourPlanes& planes) {
  uint32_t q = header.cupsBytesPerLine / 4;
  for (uint32_t r = 0; r < header.cupsHeight; ++r) {
    const uint8_t* row = page + bytes(r, header.cupsBytesPerLine);
    uint8_t* colour = planes.colour + bytes(r, q);
    std::memcpy(planes.black + bytes(r, q), row + 3 * q, q);
    for (uint32_t j = 0; j < q; ++j) colour[j] = row[j] | row[q + j] | row[2 * q + j];
  }
  planes.rowBytes = q;
}

void reduceColour(PageWork& work, ColourPlanes& planes) {
  const Reduction* reduction = reductionFor(work.settings.PageSize);
  if (reduction == nullptr) return;
  Scale = work.settings.PageSize;
  uint32_t rows = work.header.cupsHeight;
  uint32_t q = planes.rowBytes;
  uint8_t* reduced = work.job.reduce.data();
  reduction->reduce(planes.black, reduced, rows, q);
  reduction->reduce(planes.colour, planes.black, rows, q);
  reduceHeader(work.header, q, reduction->divisor);
  writeHeader(work);
  size_t kept = bytes(work.header.cupsHeight, q);
  std::memcpy(planes.colour, planes.black, kept);
  std::memcpy(planes.black, reduced, kept);
  planes.rowBytes = work.header.cupsBytesPerLine;
}

void rotateColour(PageWork& work, ColourPlanes& planes) {
  int32_t rotation = work.settings.Rotation;
  uint32_t rows = work.header.cupsHeight;
  uint32_t q = planes.rowBytes;
  if (rotation == 2) {
    Rotation = 2;
    rotate180Degree(planes.colour, static_cast<uint32_t>(bytes(rows, q)));
    rotate180Degree(planes.black, static_cast<uint32_t>(bytes(rows, q)));
    return;
  }
  if (rotation != 1 && rotation != 3) return;
  Rotation = rotation;
  auto turn = rotation == 1 ? rotate90Degree : rotate270Degree;
  uint8_t* colourTurned = work.pipe.colourRotate.data();
  uint8_t* blackTurned = work.pipe.blackRotate.data();
  turn(planes.colour, colourTurned, rows, q);
  turn(planes.black, blackTurned, rows, q);
  uint32_t width = work.header.cupsWidth;
  quarterTurnHeader(work.header);
  writeHeader(work);
  size_t skip = rotation == 3 ? bytes(static_cast<uint32_t>(leadingPaddingRows(q, width)), work.header.cupsBytesPerLine) : 0;
  size_t kept = bytes(work.header.cupsHeight, work.header.cupsBytesPerLine);
  std::memcpy(planes.colour, colourTurned + skip, kept);
  std::memcpy(planes.black, blackTurned + skip, kept);
  planes.rowBytes = work.header.cupsBytesPerLine;
}

bool focusColour(PageWork& work, ColourPlanes& planes) {
  cups_page_header_t& header = work.header;
  if (work.settings.PageSize != kReduceToHalf || header.cupsBytesPerLine <= kFocusMinBytes ||
      (Focus != 1 && Focus != 2)) {
    return true;
  }
  size_t size = bytes(header.cupsHeight, header.cupsBytesPerLine);
  if (!prepare(work.pipe.focus, size) || !prepare(work.pipe.colourFocus, size)) return false;
  uint32_t width = focusWidth(Focus, work.settings.Rotation, header.cupsBytesPerLine);
  selectWindow(Focus, planes.black, work.pipe.focus.data(), header);
  std::memset(planes.black, 0, size);
  selectWindow(Focus, planes.colour, work.pipe.colourFocus.data(), header);
  std::memset(planes.colour, 0, size);
  focusHeader(header, width);
  writeHeader(work);
  size_t kept = bytes(header.cupsHeight, width);
  std::memcpy(planes.black, work.pipe.focus.data(), kept);
  std::memcpy(planes.colour, work.pipe.colourFocus.data(), kept);
  planes.rowBytes = width;
  return true;
}

// ---- monochrome ----

void reduceMono(PageWork& work) {
  const Reduction* reduction = reductionFor(work.settings.PageSize);
  if (!currentModel().monoScale || reduction == nullptr) return;
  Scale = work.settings.PageSize;
  uint32_t rows = work.header.cupsHeight;
  uint32_t rowBytes = work.header.cupsBytesPerLine;
  size_t size = bytes(rows, rowBytes);
  reduction->reduce(work.job.page.data(), work.job.reduce.data(), rows, rowBytes);
  std::memset(work.job.page.data(), 0, size);
  std::memcpy(work.job.page.data(), work.job.reduce.data(), size);
  std::memset(work.job.reduce.data(), 0, size);
  reduceHeader(work.header, rowBytes, reduction->divisor);
  writeHeader(work);
}

void rotateMono(PageWork& work) {
  uint8_t* page = work.job.page.data();
  uint8_t* mono = work.job.mono.data();
  uint32_t rows = work.header.cupsHeight;
  uint32_t rowBytes = work.header.cupsBytesPerLine;
  int32_t rotation = work.settings.Rotation;
  if (rotation == 1 || rotation == 3) {
    (rotation == 1 ? rotate90Degree : rotate270Degree)(page, mono, rows, rowBytes);
    Rotation = rotation;
    uint32_t width = work.header.cupsWidth;
    quarterTurnHeader(work.header);
    writeHeader(work);
    if (rotation == 3) {
      size_t skip = bytes(static_cast<uint32_t>(leadingPaddingRows(rowBytes, width)), work.header.cupsBytesPerLine);
      std::memmove(mono, mono + skip, bytes(work.header.cupsHeight, work.header.cupsBytesPerLine));
    }
    return;
  }
  if (rotation == 2) {
    rotate180Degree(page, static_cast<uint32_t>(bytes(rows, rowBytes)));
    Rotation = 2;
  }
  // 0, 2, and any value that names no turn: the page goes on as it stands.
  std::memcpy(mono, page, bytes(rows, rowBytes));
}

// After a quarter turn the page may have blank rows at both ends (the page's
// blank margins at its sides); they go, and the rest keeps its orientation.
void trimMono(PageWork& work) {
  int32_t rotation = work.settings.Rotation;
  if (PageType != 0 || (rotation != 1 && rotation != 3)) return;
  uint8_t* mono = work.job.mono.data();
  dropTrailingBlankRows(work, mono);
  rotate180Degree(mono, static_cast<uint32_t>(bytes(work.header.cupsHeight, work.header.cupsBytesPerLine)));
  dropTrailingBlankRows(work, mono);
  rotate180Degree(mono, static_cast<uint32_t>(bytes(work.header.cupsHeight, work.header.cupsBytesPerLine)));
}

bool focusMono(PageWork& work) {
  cups_page_header_t& header = work.header;
  int32_t focus = work.settings.FocusArea;
  if (currentModel().compact || work.settings.PageSize != kReduceToHalf ||
      header.cupsBytesPerLine <= kFocusMinBytes || (focus != 1 && focus != 2)) {
    return true;
  }
  size_t size = bytes(header.cupsHeight, header.cupsBytesPerLine);
  if (!prepare(work.pipe.focus, size)) return false;
  uint32_t width = focusWidth(focus, work.settings.Rotation, header.cupsBytesPerLine);
  uint8_t* mono = work.job.mono.data();
  selectWindow(focus, mono, work.pipe.focus.data(), header);
  std::memset(mono, 0, size);
  focusHeader(header, width);
  writeHeader(work);
  std::memcpy(mono, work.pipe.focus.data(), bytes(header.cupsHeight, width));
  return true;
}

}  // namespace

bool runColourPipeline(PageWork& work) {
  ColorMode = 0;
  Rotation = work.settings.Rotation;
  // Each plane holds the page's rows of one quarter, and later the page
  // turned by a quarter, which for a page of few rows is more than H x B.
  const cups_page_header_t& page = work.header;
  size_t size = std::max(bytes(page.cupsHeight, page.cupsBytesPerLine),
                         quarterTurnBytes(page.cupsHeight, page.cupsBytesPerLine / 4));
  size = std::max(size, bytes(page.cupsWidth, (page.cupsHeight + 7) / 8));
  if (!prepare(work.pipe.colour, size) || !prepare(work.pipe.black, size) ||
      !prepare(work.pipe.colourRotate, size) || !prepare(work.pipe.blackRotate, size)) {
    return false;
  }
  ColourPlanes planes{work.pipe.black.data(), work.pipe.colour.data(), 0};
  separate(work.job.page.data(), work.header, planes);
  reduceColour(work, planes);
  if (!hasImage(work.header)) return true;
  rotateColour(work, planes);
  if (!focusColour(work, planes)) return false;
  printPage(planes.black, planes.colour, work.header, work.settings);
  return true;
}

bool runMonoPipeline(PageWork& work) {
  ColorMode = 1;
  // MonoPlane receives the page turned by a quarter: make sure it holds it.
  const cups_page_header_t& page = work.header;
  size_t turned = std::max(quarterTurnBytes(page.cupsHeight, page.cupsBytesPerLine),
                           bytes(page.cupsWidth, (page.cupsHeight + 7) / 8));
  if (work.job.mono.size < turned && !prepare(work.job.mono, turned)) return false;
  reduceMono(work);
  if (!hasImage(work.header)) return true;
  rotateMono(work);
  trimMono(work);
  // A page that trimming left without a single row has nothing to print;
  // it keeps its end-of-page feed, which the page loop sends.
  if (!hasImage(work.header)) return true;
  if (!focusMono(work)) return false;
  printPage(work.job.mono.data(), nullptr, work.header, work.settings);
  return true;
}
