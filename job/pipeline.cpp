// The page pipelines. Each stage that changes the page's shape rewrites the
// page header (height, width, bytes per row), so the next stage reads the
// page's geometry from the header alone; the last hands the planes and their
// geometry to the writers.
//
// Two-colour: each row of the page is four quarters of q = B / 4 bytes;
// quarters 1 to 3 OR together into the colour plane, quarter 4 is the black
// plane. Both planes are then reduced, turned and cut alike.
// Monochrome: the page is one plane, reduced (for models that scale), turned,
// trimmed of blank rows after a quarter turn, and cut.
//
// Each stage writes its result into a buffer of its own (the half turn works
// in place) and the plane the next stage reads is a pointer into it, so no
// page is copied back, and every byte a stage reads was written before.
#include "job/pipeline.h"

#include <algorithm>
#include <cstring>

#include "image/blank_rows.h"
#include "image/focus.h"
#include "image/rotate.h"
#include "image/scale.h"

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

// Bytes a reduction by `divisor` of `rows` rows of `bytesPerRow` bytes
// writes: a last block of fewer rows still makes a row.
size_t reducedBytes(uint32_t rows, uint32_t bytesPerRow, uint32_t divisor) {
  return bytes((rows + divisor - 1) / divisor, bytesPerRow / divisor);
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

// Cuts the job's focus window out of `source` into `dest`.
void selectWindow(const JobContext& job, const uint8_t* source, uint8_t* dest, const cups_page_header_t& header) {
  if (job.Focus == 2) {
    SelectFocusAreaCenter(source, dest, header);
  } else {
    SelectFocusArea(source, dest, header, job.Rotation);
  }
}

// Whether the page is cut to a focus window: only halved pages whose rows are
// still wider than the window, when a focus mode is set.
bool wantsFocus(const JobContext& job, const cups_page_header_t& header) {
  return job.settings.PageSize == kReduceToHalf && header.cupsBytesPerLine > kFocusMinBytes &&
         (job.Focus == 1 || job.Focus == 2);
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

// The black plane is reduced into ReduceBuffer, then the colour plane into
// BlackPlane, whose rows are no longer needed.
bool reduceColour(PageWork& work, ColourPlanes& planes) {
  const Reduction* reduction = reductionFor(work.job.settings.PageSize);
  if (reduction == nullptr) return true;
  work.job.Scale = work.job.settings.PageSize;
  uint32_t rows = work.header.cupsHeight;
  uint32_t q = planes.rowBytes;
  if (!work.buffers.reduce.reserve(reducedBytes(rows, q, reduction->divisor))) return false;
  uint8_t* reduced = work.buffers.reduce.data();
  reduction->reduce(planes.black, reduced, rows, q);
  reduction->reduce(planes.colour, planes.black, rows, q);
  reduceHeader(work.header, q, reduction->divisor);
  planes.colour = planes.black;
  planes.black = reduced;
  planes.rowBytes = work.header.cupsBytesPerLine;
  return true;
}

bool rotateColour(PageWork& work, ColourPlanes& planes) {
  int32_t rotation = work.job.Rotation;
  uint32_t rows = work.header.cupsHeight;
  uint32_t q = planes.rowBytes;
  if (rotation == 2) {
    rotate180Degree(planes.colour, static_cast<uint32_t>(bytes(rows, q)));
    rotate180Degree(planes.black, static_cast<uint32_t>(bytes(rows, q)));
    return true;
  }
  if (rotation != 1 && rotation != 3) return true;
  size_t turnedBytes = quarterTurnBytes(rows, q);
  if (!work.pipe.colourRotate.reserve(turnedBytes) || !work.pipe.blackRotate.reserve(turnedBytes)) {
    return false;
  }
  auto turn = rotation == 1 ? rotate90Degree : rotate270Degree;
  uint8_t* colourTurned = work.pipe.colourRotate.data();
  uint8_t* blackTurned = work.pipe.blackRotate.data();
  turn(planes.colour, colourTurned, rows, q);
  turn(planes.black, blackTurned, rows, q);
  uint32_t width = work.header.cupsWidth;
  quarterTurnHeader(work.header);
  size_t skip = rotation == 3 ? bytes(static_cast<uint32_t>(leadingPaddingRows(q, width)), work.header.cupsBytesPerLine) : 0;
  planes.colour = colourTurned + skip;
  planes.black = blackTurned + skip;
  planes.rowBytes = work.header.cupsBytesPerLine;
  return true;
}

bool focusColour(PageWork& work, ColourPlanes& planes) {
  cups_page_header_t& header = work.header;
  if (!wantsFocus(work.job, header)) return true;
  uint32_t width = focusWidth(work.job.Focus, work.job.Rotation, header.cupsBytesPerLine);
  size_t size = bytes(header.cupsHeight, width);
  if (!work.pipe.focus.reserve(size) || !work.pipe.colourFocus.reserve(size)) return false;
  selectWindow(work.job, planes.black, work.pipe.focus.data(), header);
  selectWindow(work.job, planes.colour, work.pipe.colourFocus.data(), header);
  focusHeader(header, width);
  planes.black = work.pipe.focus.data();
  planes.colour = work.pipe.colourFocus.data();
  planes.rowBytes = width;
  return true;
}

// ---- monochrome ----

bool reduceMono(PageWork& work, uint8_t*& plane) {
  const Reduction* reduction = reductionFor(work.job.settings.PageSize);
  if (!work.job.model.monoScale || reduction == nullptr) return true;
  work.job.Scale = work.job.settings.PageSize;
  uint32_t rows = work.header.cupsHeight;
  uint32_t rowBytes = work.header.cupsBytesPerLine;
  if (!work.buffers.reduce.reserve(reducedBytes(rows, rowBytes, reduction->divisor))) return false;
  reduction->reduce(plane, work.buffers.reduce.data(), rows, rowBytes);
  plane = work.buffers.reduce.data();
  reduceHeader(work.header, rowBytes, reduction->divisor);
  return true;
}

bool rotateMono(PageWork& work, uint8_t*& plane) {
  uint32_t rows = work.header.cupsHeight;
  uint32_t rowBytes = work.header.cupsBytesPerLine;
  int32_t rotation = work.job.settings.Rotation;
  if (rotation == 1 || rotation == 3) {
    if (!work.buffers.mono.reserve(quarterTurnBytes(rows, rowBytes))) return false;
    uint8_t* mono = work.buffers.mono.data();
    (rotation == 1 ? rotate90Degree : rotate270Degree)(plane, mono, rows, rowBytes);
    work.job.Rotation = rotation;
    uint32_t width = work.header.cupsWidth;
    quarterTurnHeader(work.header);
    size_t skip = rotation == 3 ? bytes(static_cast<uint32_t>(leadingPaddingRows(rowBytes, width)), work.header.cupsBytesPerLine) : 0;
    plane = mono + skip;
    return true;
  }
  if (rotation == 2) {
    rotate180Degree(plane, static_cast<uint32_t>(bytes(rows, rowBytes)));
    work.job.Rotation = 2;
  }
  // 0, 2, and any value that names no turn: the page goes on as it stands.
  return true;
}

// After a quarter turn the page may have blank rows at both ends (the page's
// blank margins at its sides); they go, and the rest keeps its orientation.
void trimMono(PageWork& work, uint8_t*& plane) {
  int32_t rotation = work.job.settings.Rotation;
  if (work.job.PageType != 0 || (rotation != 1 && rotation != 3)) return;
  cups_page_header_t& header = work.header;
  header.cupsHeight -= trailingBlankRows(plane, header.cupsHeight, header.cupsBytesPerLine);
  uint32_t leading = leadingBlankRows(plane, header.cupsHeight, header.cupsBytesPerLine);
  header.cupsHeight -= leading;
  plane += bytes(leading, header.cupsBytesPerLine);
}

bool focusMono(PageWork& work, uint8_t*& plane) {
  cups_page_header_t& header = work.header;
  if (work.job.model.compact || !wantsFocus(work.job, header)) return true;
  uint32_t width = focusWidth(work.job.Focus, work.job.Rotation, header.cupsBytesPerLine);
  if (!work.pipe.focus.reserve(bytes(header.cupsHeight, width))) return false;
  selectWindow(work.job, plane, work.pipe.focus.data(), header);
  focusHeader(header, width);
  plane = work.pipe.focus.data();
  return true;
}

}  // namespace

Made runColourPipeline(PageWork& work, PagePlanes& made) {
  work.job.ColorMode = 0;
  work.job.Rotation = work.job.settings.Rotation;
  size_t planeBytes = bytes(work.header.cupsHeight, work.header.cupsBytesPerLine / 4);
  if (!work.pipe.colour.reserve(planeBytes) || !work.pipe.black.reserve(planeBytes)) return Made::NoMemory;
  ColourPlanes planes{work.pipe.black.data(), work.pipe.colour.data(), 0};
  separate(work.page, work.header, planes);
  if (!reduceColour(work, planes)) return Made::NoMemory;
  if (!hasImage(work.header)) return Made::Nothing;
  if (!rotateColour(work, planes) || !focusColour(work, planes)) return Made::NoMemory;
  made = {planes.black, planes.colour, work.header.cupsWidth, work.header.cupsHeight, planes.rowBytes};
  return Made::Page;
}

Made runMonoPipeline(PageWork& work, PagePlanes& made) {
  work.job.ColorMode = 1;
  uint8_t* plane = work.page;
  if (!reduceMono(work, plane)) return Made::NoMemory;
  if (!hasImage(work.header)) return Made::Nothing;
  if (!rotateMono(work, plane)) return Made::NoMemory;
  trimMono(work, plane);
  // A page that trimming left without a single row has nothing to print;
  // it keeps its end-of-page feed, which the page loop sends.
  if (!hasImage(work.header)) return Made::Nothing;
  if (!focusMono(work, plane)) return Made::NoMemory;
  const cups_page_header_t& header = work.header;
  made = {plane, nullptr, header.cupsWidth, header.cupsHeight, header.cupsBytesPerLine};
  return Made::Page;
}

PlaneShape planeShape(const PageWork& work, bool colourPlanes) {
  const JobContext& job = work.job;
  cups_page_header_t header = work.header;
  // The same header changes as the stages above, in their order.
  uint32_t rowBytes = colourPlanes ? header.cupsBytesPerLine / 4 : header.cupsBytesPerLine;
  const Reduction* reduction = reductionFor(job.settings.PageSize);
  if (reduction != nullptr && (colourPlanes || job.model.monoScale)) {
    reduceHeader(header, rowBytes, reduction->divisor);
    rowBytes = header.cupsBytesPerLine;
  }
  int32_t rotation = job.settings.Rotation;
  if (rotation == 1 || rotation == 3) {
    quarterTurnHeader(header);
    rowBytes = header.cupsBytesPerLine;
  }
  if ((colourPlanes || !job.model.compact) && wantsFocus(job, header)) {
    rowBytes = focusWidth(job.Focus, rotation, header.cupsBytesPerLine);
    focusHeader(header, rowBytes);
  }
  return {header.cupsWidth, rowBytes};
}
