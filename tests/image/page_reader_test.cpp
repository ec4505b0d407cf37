// The page reader on pages read from real raster streams written with
// libcups, as the page loop reads them: trimming, blank pages, cut-off
// streams and page types other than 0, each followed by reading the next
// page header to show that the stream stays in step.
#include "image/page_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support.h"

using namespace talvero_test;

namespace {

constexpr uint8_t kUntouched = 0xEE;

// A page of `rows` rows of `bytesPerRow` bytes (cupsWidth 8 x bytesPerRow)
// with the given pixels; fewer pixels cut the stream off inside the page.
RasterPage page(uint32_t rows, uint32_t bytesPerRow, Bytes pixels) {
  return RasterPage{makeHeader(8 * bytesPerRow, rows), std::move(pixels)};
}

// A page whose row y is filled with byte (y + 1), except the rows listed as
// blank.
RasterPage numberedPage(uint32_t rows, uint32_t bytesPerRow, const std::vector<uint32_t>& blankRows) {
  Bytes pixels(size_t{rows} * bytesPerRow);
  for (uint32_t y = 0; y < rows; ++y) {
    bool blank = std::find(blankRows.begin(), blankRows.end(), y) != blankRows.end();
    std::memset(pixels.data() + size_t{y} * bytesPerRow, blank ? 0 : static_cast<int>(y + 1), bytesPerRow);
  }
  return page(rows, bytesPerRow, std::move(pixels));
}

// Rows first to last (inclusive) of a page's pixels.
Bytes rowsOf(const RasterPage& p, uint32_t first, uint32_t last) {
  size_t b = p.header.cupsBytesPerLine;
  return Bytes(p.pixels.begin() + static_cast<std::ptrdiff_t>(first * b),
               p.pixels.begin() + static_cast<std::ptrdiff_t>((last + 1) * b));
}

// One page read and handed to trimBlankRows, and everything it left behind.
struct ReadResult {
  int result = 0;
  cups_page_header_t header{};
  Bytes page;                      // the kept rows, from the first kept row
  Bytes whole;                     // the page's buffer after the call, all of it
  Bytes read;                      // the page's bytes as read from the stream
  std::string err;                 // diagnostics of the call
};

// A raster stream of `pages` opened for reading, as the page loop has it.
class Stream {
 public:
  explicit Stream(const std::vector<RasterPage>& pages) {
    static int counter = 0;
    std::string path = tempDir() + "/page" + std::to_string(++counter) + ".ras";
    writeRaster(path, pages);
    fd_ = open(path.c_str(), O_RDONLY);
    raster_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
  }
  ~Stream() {
    cupsRasterClose(raster_);
    close(fd_);
  }

  // Reads the next page header; false at the end of the stream.
  bool nextHeader(cups_page_header_t& header) { return cupsRasterReadHeader(raster_, &header) != 0; }

  // Reads the next header and the page's pixels and hands the page to
  // trimBlankRows, or to reportUnreadablePage when the pixels end early.
  ReadResult readPage(int32_t pageType) {
    ReadResult r;
    if (!nextHeader(r.header)) {
      ADD_FAILURE() << "no page header where one was expected";
      return r;
    }
    size_t size = size_t{r.header.cupsHeight} * r.header.cupsBytesPerLine;
    r.whole.assign(size, kUntouched);
    Diagnostics log = logInto(r.err);
    if (cupsRasterReadPixels(raster_, r.whole.data(), static_cast<unsigned>(size)) == 0) {
      reportUnreadablePage(log, pageType);
      r.result = kPageUnreadable;
    } else {
      r.read = r.whole;
      uint32_t first = 0;
      r.result = trimBlankRows(log, r.whole.data(), r.header, pageType, first);
      auto from = r.whole.begin() + static_cast<std::ptrdiff_t>(size_t{first} * r.header.cupsBytesPerLine);
      if (r.result == kPageReady) {
        r.page.assign(from, from + static_cast<std::ptrdiff_t>(size_t{r.header.cupsHeight} * r.header.cupsBytesPerLine));
      }
    }
    return r;
  }

 private:
  int fd_ = -1;
  cups_raster_t* raster_ = nullptr;
};

const char kNullImage[] = "TALVERO DEBUG MSG : removeNullLine() NULLIMAGE\n";
const char kNullImage2[] = "TALVERO DEBUG MSG : removeNullLine() NULLIMAGE2\n";
const char kNullPage[] = "TALVERO DEBUG MSG : removeNullLine() NULLPAGE\n";

// Checks a delivered page: exactly `expected` kept, the page's bytes as
// read, and no message.
void expectDelivered(const ReadResult& r, const Bytes& expected) {
  EXPECT_EQ(kPageReady, r.result);
  EXPECT_EQ(toString(expected), toString(r.page)) << describeMismatch(toString(expected), toString(r.page));
  EXPECT_EQ(r.read, r.whole) << "the page's bytes changed";
  EXPECT_EQ("", r.err);
}

TEST(PageReaderTrim, RowsBetweenFirstAndLastDotsKept) {
  // 10 rows of 3 bytes, dots only in rows 2, 5 and 7.
  RasterPage p = numberedPage(10, 3, {0, 1, 3, 4, 6, 8, 9});
  Stream stream({p});
  ReadResult r = stream.readPage(0);
  expectDelivered(r, rowsOf(p, 2, 7));
  EXPECT_EQ(6u, r.header.cupsHeight);
  // Nothing but the height changes in the header.
  cups_page_header_t expected = p.header;
  expected.cupsHeight = 6;
  EXPECT_EQ(0, std::memcmp(&expected, &r.header, sizeof expected));
}

TEST(PageReaderTrim, EdgeRows) {
  struct Case {
    const char* name;
    RasterPage page;
    uint32_t first, last;          // rows kept
  };
  Bytes lastRowFirstByte(5 * 4, 0);
  lastRowFirstByte[4 * 4] = 0x80;
  Bytes firstAndLast(4 * 3, 0);
  firstAndLast[0] = 0x01;
  firstAndLast[11] = 0x80;
  const Case cases[] = {
      // The trailing zeros fill no whole row, so no row goes at the end;
      // every row above goes at the start.
      {"only the first byte of the last row", page(5, 4, lastRowFirstByte), 4, 4},
      {"dots in first and last rows", page(4, 3, firstAndLast), 0, 3},
      {"row 0 blank, row 1 00 01 00", page(2, 3, hex("00 00 00 00 01 00")), 1, 1},
      {"a single row", page(1, 5, hex("00 00 10 00 00")), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stream stream({c.page});
    ReadResult r = stream.readPage(0);
    expectDelivered(r, rowsOf(c.page, c.first, c.last));
    EXPECT_EQ(c.last - c.first + 1, r.header.cupsHeight);
  }
}

TEST(PageReaderTrim, BlankPagesConsumedAndSkipped) {
  RasterPage blank = blankPage(24, 5);
  RasterPage next = numberedPage(4, 2, {0});
  RasterPage blankWide = blankPage(800, 7);
  RasterPage last = numberedPage(3, 1, {});
  Stream stream({blank, next, blankWide, last});

  ReadResult r = stream.readPage(0);
  EXPECT_EQ(kPageBlank, r.result);
  EXPECT_EQ(kNullPage, r.err);
  EXPECT_EQ(5u, r.header.cupsHeight);

  // The next header is found right after the blank page's pixels.
  r = stream.readPage(0);
  ASSERT_EQ(2u, r.header.cupsBytesPerLine) << "next page not found";
  expectDelivered(r, rowsOf(next, 1, 3));

  r = stream.readPage(0);
  EXPECT_EQ(kPageBlank, r.result);
  r = stream.readPage(0);
  expectDelivered(r, rowsOf(last, 0, 2));
  cups_page_header_t header;
  EXPECT_FALSE(stream.nextHeader(header)) << "data left after the last page";
}

// A stream that ends inside a page's pixel data: no image data, with the
// page type's message, header unchanged.
TEST(PageReader, CutOffStream) {
  struct Case {
    int32_t pageType;
    const char* message;
  };
  for (const Case& c : {Case{0, kNullImage}, Case{1, kNullImage2}, Case{2, kNullImage2},
                        Case{-1, kNullImage2}}) {
    SCOPED_TRACE("page type " + std::to_string(c.pageType));
    RasterPage whole = numberedPage(6, 4, {0});
    RasterPage cut = whole;
    cut.pixels.resize(10);  // two and a half rows
    Stream stream({whole, cut});
    expectDelivered(stream.readPage(c.pageType),
                    c.pageType == 0 ? rowsOf(whole, 1, 5) : whole.pixels);
    ReadResult r = stream.readPage(c.pageType);
    EXPECT_EQ(kPageUnreadable, r.result);
    EXPECT_EQ(c.message, r.err);
    EXPECT_EQ(6u, r.header.cupsHeight);
  }
}

// Page type 1 delivers every row, blank ones and blank pages included;
// other page types are read the same way, so the stream stays in step.
TEST(PageReader, UntrimmedPageTypes) {
  for (int32_t pageType : {1, 2, -1}) {
    SCOPED_TRACE("page type " + std::to_string(pageType));
    RasterPage edges = numberedPage(7, 3, {0, 1, 5, 6});
    RasterPage zeros = blankPage(16, 4);
    RasterPage last = numberedPage(2, 2, {});
    Stream stream({edges, zeros, last});
    for (const RasterPage* p : {&edges, &zeros, &last}) {
      ReadResult r = stream.readPage(pageType);
      expectDelivered(r, p->pixels);
      EXPECT_EQ(0, std::memcmp(&p->header, &r.header, sizeof r.header)) << "header changed";
    }
    cups_page_header_t header;
    EXPECT_FALSE(stream.nextHeader(header)) << "data left after the last page";
  }
}

}  // namespace
