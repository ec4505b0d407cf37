// The prefilter's page conversion on any raster stream, and the filter on
// what it makes. The first input byte chooses a shipped PPD and the job's
// ColorModel option (none, 0 or 1), from which the prefilter decides between
// black-and-red and black pages as it does in a print queue; the rest is
// the contone raster. Each page
// the prefilter accepts must come out 1 bit per dot with rows of
// (width + 7) / 8 bytes (four such bands for black and red, the first band
// empty), must read back from the written stream unchanged, and the
// filter's job on that stream must pass the checks of every job.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <cups/raster.h>

#include "fuzz/harness.h"
#include "core/ppd_file.h"
#include "image/raster_format.h"
#include "image/raster_writer.h"

namespace {

// Input pixel bytes converted per fuzz input at most, so that one small
// compressed stream cannot keep a run busy for minutes.
constexpr uint64_t kPixelBudget = 256u << 10;
constexpr int kMaxPages = 4;

// The job options the first input byte chooses among.
constexpr const char* kOptions[] = {"", "ColorModel=0", "ColorModel=1", "ColorModel=2"};

struct MemoryReader {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

ssize_t readMemory(void* context, unsigned char* buffer, size_t length) {
  auto* reader = static_cast<MemoryReader*>(context);
  size_t count = std::min(length, reader->bytes.size() - reader->at);
  std::memcpy(buffer, reader->bytes.data() + reader->at, count);
  reader->at += count;
  return static_cast<ssize_t>(count);
}

ssize_t appendMemory(void* context, unsigned char* buffer, size_t length) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), length);
  return static_cast<ssize_t>(length);
}

// The prefilter's ColorModel for a shipped PPD and the options numbered
// `choice`, read once per pair.
int colorModelOf(const std::string& ppd, int choice) {
  static std::map<std::pair<std::string, int>, int> known;
  auto found = known.find({ppd, choice});
  if (found != known.end()) return found->second;
  std::string why;
  PpdFile file = openMarkedPpd(ppd.c_str(), kOptions[choice], why);
  fuzz::check(file != nullptr, "a shipped PPD does not read: " + why);
  int colorModel = getOptionChoiceIndex("ColorModel", file.get());
  known[{ppd, choice}] = colorModel;
  return colorModel;
}

// One converted page: its output header and the rows written. A page left
// incomplete may lose the rows the raster writer still held back.
struct Page {
  cups_page_header2_t header;
  std::vector<uint8_t> rows;
  bool complete = false;
};

// Writes `row` to `out` and keeps it in `page`.
void writeRow(RowWriter& out, Page& page, std::span<uint8_t> row) {
  ::writeRow(out, row.data());
  page.rows.insert(page.rows.end(), row.begin(), row.end());
}

// Completes a page cut short with blank rows, as the prefilter does, when
// the budget allows; returns whether it did.
bool finishPage(RowWriter& out, Page& page, uint32_t from, uint64_t& budget) {
  std::vector<uint8_t> blank(page.header.cupsBytesPerLine, 0);
  uint64_t bytes = uint64_t{page.header.cupsHeight - from} * blank.size();
  if (bytes > budget) return false;
  budget -= bytes;
  for (uint32_t y = from; y < page.header.cupsHeight; ++y) writeRow(out, page, blank);
  return page.complete = true;
}

// Checks the output header of an accepted input page.
void checkOutputHeader(const cups_page_header2_t& in, const cups_page_header2_t& out, bool twoColour) {
  uint64_t band = (uint64_t{out.cupsWidth} + 7) / 8;
  fuzz::check(out.cupsWidth == in.cupsWidth && out.cupsHeight == in.cupsHeight, "page size changed");
  fuzz::check(out.cupsBitsPerColor == 1 && out.cupsBitsPerPixel == 1, "output is not 1 bit per dot");
  fuzz::check(out.cupsBytesPerLine == (twoColour ? 4 : 1) * band, "output row length");
}

// Converts the pages of `in` onto `out` as the prefilter does (the header
// by libcups, the rows by the prefilter's writer), within the budget.
std::vector<Page> convert(cups_raster_t* in, cups_raster_t* out, RowWriter& rows, bool twoColour) {
  std::vector<Page> pages;
  uint64_t budget = kPixelBudget;
  cups_page_header2_t header;
  while (pages.size() < kMaxPages && cupsRasterReadHeader2(in, &header)) {
    InputLayout layout;
    std::string why;
    if (!inputLayoutOf(header, layout, why)) break;
    Page& page = pages.emplace_back();
    page.header = outputHeader(header, twoColour);
    checkOutputHeader(header, page.header, twoColour);
    fuzz::check(cupsRasterWriteHeader2(out, &page.header) != 0, "cannot write a header");
    startRows(rows, page.header);
    std::vector<uint8_t> inRow(header.cupsBytesPerLine), outRow(page.header.cupsBytesPerLine);
    std::vector<Rgb> pixels(header.cupsWidth);
    size_t band = (size_t{header.cupsWidth} + 7) / 8;
    for (uint32_t y = 0; y < header.cupsHeight; ++y) {
      if (budget < inRow.size() || cupsRasterReadPixels(in, inRow.data(), header.cupsBytesPerLine) != inRow.size()) {
        finishPage(rows, page, y, budget);
        return pages;
      }
      budget -= inRow.size();
      decodeRow(layout, inRow, pixels);
      encodeRow(pixels, y, twoColour, outRow);
      if (twoColour) {
        fuzz::check(std::all_of(outRow.begin(), outRow.begin() + band, [](uint8_t b) { return b == 0; }),
                    "the C band is not empty");
      }
      writeRow(rows, page, outRow);
    }
    page.complete = true;
  }
  return pages;
}

// Reads the written stream back and compares it with what was written.
void checkReadBack(const std::string& stream, const std::vector<Page>& pages) {
  MemoryReader reader{{reinterpret_cast<const uint8_t*>(stream.data()), stream.size()}};
  cups_raster_t* in = cupsRasterOpenIO(readMemory, &reader, CUPS_RASTER_READ);
  fuzz::check(in != nullptr, "the written stream does not open");
  for (const Page& page : pages) {
    cups_page_header2_t header;
    fuzz::check(cupsRasterReadHeader2(in, &header) != 0, "a written header is missing");
    fuzz::check(header.cupsWidth == page.header.cupsWidth && header.cupsBytesPerLine == page.header.cupsBytesPerLine &&
                    header.cupsBitsPerPixel == 1,
                "a written header reads back changed");
    if (!page.complete) break;
    std::vector<uint8_t> rows(page.rows.size());
    size_t bpl = header.cupsBytesPerLine;
    for (size_t at = 0; at < rows.size(); at += bpl) cupsRasterReadPixels(in, rows.data() + at, header.cupsBytesPerLine);
    auto differ = std::mismatch(rows.begin(), rows.end(), page.rows.begin());
    fuzz::check(rows == page.rows, "written rows read back changed: " + std::to_string(header.cupsWidth) + " x " +
                                       std::to_string(header.cupsHeight) + ", " + std::to_string(rows.size()) +
                                       " bytes, first difference at " +
                                       std::to_string(differ.first - rows.begin()));
  }
  cupsRasterClose(in);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto& ppds = fuzz::shippedPpds();
  const std::string& ppd = ppds[(data[0] >> 2) % ppds.size()];
  const char* options = kOptions[data[0] & 3];
  bool twoColour = colorModelOf(ppd, data[0] & 3) == 0;

  MemoryReader reader{{data + 1, size - 1}};
  cups_raster_t* in = cupsRasterOpenIO(readMemory, &reader, CUPS_RASTER_READ);
  if (in == nullptr) return 0;  // not a raster stream: the prefilter refuses it
  std::string stream;
  cups_raster_t* out = cupsRasterOpenIO(appendMemory, &stream, CUPS_RASTER_WRITE_COMPRESSED);
  RowWriter rows;
  rows.write = appendMemory;
  rows.context = &stream;
  std::vector<Page> pages = convert(in, out, rows, twoColour);
  cupsRasterClose(out);
  cupsRasterClose(in);
  checkReadBack(stream, pages);

  auto bytes = std::span(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
  fuzz::checkJobResult(fuzz::runJob(ppd, options, bytes));
  return 0;
}
