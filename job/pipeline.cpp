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
  void (*reduce)(const uint8_t*, uint8_t*, uint32_t, uint32_t);
  uint32_t divisor;
};

// The reduction a PageSize choice asks for, or nullptr for none.
const Reduction* reductionFor(int32_t pageSize) {
  static constexpr Reduction kThird{reduceToThird, 3};
  static constexpr Reduction kHalf{reduceToHalf, 2};
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

// A page with no rows or no bytes per row left has nothing to print.
bool hasImage(const cups_page_header_t& header) {
  return header.cupsHeight > 0 && header.cupsBytesPerLine > 0;
}

// The planes of the page at a stage: one (monochrome) or two (black, then
// colour), each header.cupsHeight rows of rowBytes bytes. Every stage treats
// each plane alike.
struct Planes {
  uint8_t* at[2];
  size_t count;
  uint32_t rowBytes;
};

// Splits the two-colour page into its black and colour planes.
void separate(const uint8_t* page, const cups_page_header_t& header, Planes& planes) {
  uint32_t q = header.cupsBytesPerLine / 4;
  for (uint32_t r = 0; r < header.cupsHeight; ++r) {
    const uint8_t* row = page + bytes(r, header.cupsBytesPerLine);
    uint8_t* colour = planes.at[1] + bytes(r, q);
    std::memcpy(planes.at[0] + bytes(r, q), row + 3 * q, q);
    for (uint32_t j = 0; j < q; ++j) colour[j] = row[j] | row[q + j] | row[2 * q + j];
  }
  planes.rowBytes = q;
}

// The reduction PageSize asks for. The first plane is reduced into the
// reduce buffer, a second one into the first one's rows, which are no
// longer needed. False when memory ran out.
bool reduce(PageWork& work, Planes& planes) {
  const Reduction* reduction = reductionFor(work.job.settings.PageSize);
  if (reduction == nullptr) return true;
  work.job.Scale = work.job.settings.PageSize;
  uint32_t rows = work.header.cupsHeight;
  uint32_t rowBytes = planes.rowBytes;
  if (!work.buffers.reduced.reserve(reducedBytes(rows, rowBytes, reduction->divisor))) return false;
  uint8_t* into[2] = {work.buffers.reduced.data(), planes.at[0]};
  for (size_t i = 0; i < planes.count; ++i) reduction->reduce(planes.at[i], into[i], rows, rowBytes);
  reduceHeader(work.header, rowBytes, reduction->divisor);
  planes = {{into[0], into[1]}, planes.count, work.header.cupsBytesPerLine};
  return true;
}

// Turns every plane by `rotation` (1, 2, 3 = 90, 180, 270 degrees; any
// other value leaves the page as it stands): the half turn in place, a
// quarter turn into a buffer per plane. False when memory ran out.
bool turn(PageWork& work, Planes& planes, int32_t rotation) {
  uint32_t rows = work.header.cupsHeight;
  uint32_t rowBytes = planes.rowBytes;
  if (rotation == 2) {
    for (size_t i = 0; i < planes.count; ++i) rotate180Degree(planes.at[i], static_cast<uint32_t>(bytes(rows, rowBytes)));
    return true;
  }
  if (rotation != 1 && rotation != 3) return true;
  for (size_t i = 0; i < planes.count; ++i) {
    if (!work.buffers.turned[i].reserve(quarterTurnBytes(rows, rowBytes))) return false;
  }
  uint32_t width = work.header.cupsWidth;
  quarterTurnHeader(work.header);
  uint32_t padding = rotation == 3 ? static_cast<uint32_t>(leadingPaddingRows(rowBytes, width)) : 0;
  for (size_t i = 0; i < planes.count; ++i) {
    uint8_t* turned = work.buffers.turned[i].data();
    (rotation == 1 ? rotate90Degree : rotate270Degree)(planes.at[i], turned, rows, rowBytes);
    planes.at[i] = turned + bytes(padding, work.header.cupsBytesPerLine);
  }
  planes.rowBytes = work.header.cupsBytesPerLine;
  return true;
}

// Bytes per row of the job's focus window on rows of `rowBytes` bytes of a
// page turned by `rotation`, or 0 when the page is not cut: only a halved
// page whose rows are still wider than the window is.
uint32_t focusWindowBytes(const JobContext& job, uint32_t rowBytes, int32_t rotation) {
  if (job.settings.PageSize != kReduceToHalf || rowBytes <= kFocusMinBytes || (job.Focus != 1 && job.Focus != 2)) {
    return 0;
  }
  bool window64 = job.Focus == 2 || rotation == 1 || rotation == 3;
  return window64 ? kFocusMinBytes : rowBytes - rowBytes / 3;
}

// Cuts every plane to the job's focus window (Focus 1 the right-hand part,
// 2 the centre). False when memory ran out.
bool cutToWindow(PageWork& work, Planes& planes) {
  const JobContext& job = work.job;
  cups_page_header_t& header = work.header;
  uint32_t width = focusWindowBytes(job, header.cupsBytesPerLine, job.Rotation);
  if (width == 0) return true;
  for (size_t i = 0; i < planes.count; ++i) {
    if (!work.buffers.window[i].reserve(bytes(header.cupsHeight, width))) return false;
  }
  for (size_t i = 0; i < planes.count; ++i) {
    uint8_t* window = work.buffers.window[i].data();
    if (job.Focus == 2) SelectFocusAreaCenter(planes.at[i], window, header);
    if (job.Focus == 1) SelectFocusArea(planes.at[i], window, header, job.Rotation);
    planes.at[i] = window;
  }
  focusHeader(header, width);
  planes.rowBytes = width;
  return true;
}

// After a quarter turn the page may have blank rows at both ends (the page's
// blank margins at its sides); they go, and the rest keeps its orientation.
void trimTurnedPage(PageWork& work, Planes& planes) {
  int32_t rotation = work.job.settings.Rotation;
  if (work.job.PageType != 0 || (rotation != 1 && rotation != 3)) return;
  cups_page_header_t& header = work.header;
  header.cupsHeight -= trailingBlankRows(planes.at[0], header.cupsHeight, header.cupsBytesPerLine);
  uint32_t leading = leadingBlankRows(planes.at[0], header.cupsHeight, header.cupsBytesPerLine);
  header.cupsHeight -= leading;
  planes.at[0] += bytes(leading, header.cupsBytesPerLine);
}

// The planes and their geometry, for the writers.
Made handOver(const PageWork& work, const Planes& planes, PagePlanes& made) {
  const cups_page_header_t& header = work.header;
  made = {planes.at[0], planes.count == 2 ? planes.at[1] : nullptr, header.cupsWidth, header.cupsHeight,
          planes.rowBytes};
  return Made::Page;
}

}  // namespace

Made runColourPipeline(PageWork& work, PagePlanes& made) {
  work.job.ColorMode = 0;
  work.job.Rotation = work.job.settings.Rotation;
  size_t planeBytes = bytes(work.header.cupsHeight, work.header.cupsBytesPerLine / 4);
  PageBuf* separated = work.buffers.separated;
  if (!separated[0].reserve(planeBytes) || !separated[1].reserve(planeBytes)) return Made::NoMemory;
  Planes planes{{separated[0].data(), separated[1].data()}, 2, 0};
  separate(work.page, work.header, planes);
  if (!reduce(work, planes)) return Made::NoMemory;
  if (!hasImage(work.header)) return Made::Nothing;
  if (!turn(work, planes, work.job.Rotation) || !cutToWindow(work, planes)) return Made::NoMemory;
  return handOver(work, planes, made);
}

Made runMonoPipeline(PageWork& work, PagePlanes& made) {
  JobContext& job = work.job;
  job.ColorMode = 1;
  Planes planes{{work.page, nullptr}, 1, work.header.cupsBytesPerLine};
  if (job.model.monoScale && !reduce(work, planes)) return Made::NoMemory;
  if (!hasImage(work.header)) return Made::Nothing;
  int32_t rotation = job.settings.Rotation;
  if (rotation >= 1 && rotation <= 3) job.Rotation = rotation;  // only a page that turns sets it
  if (!turn(work, planes, rotation)) return Made::NoMemory;
  trimTurnedPage(work, planes);
  // A page that trimming left without a single row has nothing to print;
  // it keeps its end-of-page feed, which the page loop sends.
  if (!hasImage(work.header)) return Made::Nothing;
  if (!job.model.compact && !cutToWindow(work, planes)) return Made::NoMemory;
  return handOver(work, planes, made);
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
  uint32_t window = focusWindowBytes(job, header.cupsBytesPerLine, rotation);
  if ((colourPlanes || !job.model.compact) && window != 0) {
    rowBytes = window;
    focusHeader(header, rowBytes);
  }
  return {header.cupsWidth, rowBytes};
}
