// Raster jobs end to end: pages go through the filter binary and its output
// is decoded again (by the previewer's decoder). Pages are made of a few
// dots, and each dot is followed through the page's journey with the plain
// coordinate rules of each stage (trim, reduce, turn, cut): the decoded
// planes must hold exactly the dots the rules predict, in the right colour.
#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "core/model_table.h"
#include "support.h"
#include "tools/preview/receipt.h"

using namespace talvero_test;

namespace {

struct Dot {
  uint32_t x, y;
  bool colour;  // second colour (red) rather than black
  auto operator<=>(const Dot&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Dot& d) {
  return out << (d.colour ? "red(" : "black(") << d.x << "," << d.y << ")";
}

// The page as the rules see it: its dots and its geometry.
struct Sheet {
  std::set<Dot> dots;
  uint32_t width;     // dots per row
  uint32_t height;    // rows
  uint32_t rowBytes;  // bytes per plane row
};

// ---- the coordinate rules, one per stage ----

// Blank rows at both ends go (page type 0; also after a quarter turn).
void trim(Sheet& s) {
  if (s.dots.empty()) return;
  uint32_t first = UINT32_MAX, last = 0;
  for (const Dot& d : s.dots) first = std::min(first, d.y), last = std::max(last, d.y);
  std::set<Dot> moved;
  for (const Dot& d : s.dots) moved.insert({d.x, d.y - first, d.colour});
  s.dots = moved;
  s.height = last - first + 1;
}

// Each result dot is the OR of an f x f block; rows and bytes that do not
// fill a block at the end are dropped with the header's whole-number division.
void reduce(Sheet& s, uint32_t f) {
  uint32_t rowBytes = s.rowBytes / f;
  uint32_t height = s.height / f;
  std::set<Dot> moved;
  for (const Dot& d : s.dots) {
    if (d.x / f < 8 * rowBytes && d.y / f < height) moved.insert({d.x / f, d.y / f, d.colour});
  }
  s = {moved, std::min(s.width / f, 8 * rowBytes), height, rowBytes};
}

// Quarter turn clockwise: dot (x, y) goes to (H - 1 - y, x).
void turn90(Sheet& s) {
  std::set<Dot> moved;
  for (const Dot& d : s.dots) {
    if (d.x < s.width) moved.insert({s.height - 1 - d.y, d.x, d.colour});
  }
  s = {moved, s.height, s.width, (s.height + 7) / 8};
}

// Quarter turn counter-clockwise: dot (x, y) goes to (y, W - 1 - x).
void turn270(Sheet& s) {
  std::set<Dot> moved;
  for (const Dot& d : s.dots) {
    if (d.x < s.width) moved.insert({d.y, s.width - 1 - d.x, d.colour});
  }
  s = {moved, s.height, s.width, (s.height + 7) / 8};
}

// Half turn of whole rows: the padding dots at the right end of each row
// come to its left end, so dot (x, y) goes to (8 x rowBytes - 1 - x, H - 1 - y).
void turn180(Sheet& s) {
  std::set<Dot> moved;
  for (const Dot& d : s.dots) moved.insert({8 * s.rowBytes - 1 - d.x, s.height - 1 - d.y, d.colour});
  s.dots = moved;
}

// A window of whole bytes from byte `start`, `bytes` wide.
void window(Sheet& s, uint32_t start, uint32_t bytes) {
  std::set<Dot> moved;
  for (const Dot& d : s.dots) {
    if (d.x >= 8 * start && d.x < 8 * (start + bytes)) moved.insert({d.x - 8 * start, d.y, d.colour});
  }
  s = {moved, 8 * bytes - 7, s.height, bytes};
}

// ---- pages in, planes out ----

// A raster page with the sheet's dots: a monochrome page, or a two-colour
// page whose red dots go into quarter `redQuarter` (0 to 2) and black into
// quarter 3.
RasterPage pageOf(const Sheet& s, bool cmyk, int redQuarter = 0) {
  RasterPage page = blankPage(s.width, s.height, cmyk);
  uint32_t b = page.header.cupsBytesPerLine;
  uint32_t q = cmyk ? b / 4 : b;
  for (const Dot& d : s.dots) {
    uint32_t quarter = cmyk ? (d.colour ? redQuarter : 3) : 0;
    page.pixels[d.y * b + quarter * q + d.x / 8] |= static_cast<uint8_t>(0x80 >> (d.x % 8));
  }
  return page;
}

std::set<Dot> dotsOf(const preview::Planes& p) {
  std::set<Dot> dots;
  for (uint32_t y = 0; y < p.rows; ++y) {
    for (uint32_t x = 0; x < 8 * p.bytesPerRow; ++x) {
      size_t at = size_t{y} * p.bytesPerRow + x / 8;
      uint8_t bit = static_cast<uint8_t>(0x80 >> (x % 8));
      if (p.black[at] & bit) dots.insert({x, y, false});
      if (p.colour[at] & bit) dots.insert({x, y, true});
    }
  }
  return dots;
}

class RasterJobTest : public testing::Test {
 protected:
  // Prints the pages with a PPD whose options each have the one given value
  // (LogoPosition 0 unless given) and returns the decoded pages.
  std::vector<preview::Planes> print(int model, std::map<std::string, std::string> options,
                                     const std::vector<RasterPage>& pages, FilterResult* result = nullptr) {
    options.try_emplace("LogoPosition", "0");
    options.try_emplace("PageType", "0");
    options.try_emplace("CompPrinting", "0");
    std::string dir = tempDir();
    writePpd(dir + "/model.ppd", model, fixedOptions(options));
    writeRaster(dir + "/job.ras", pages);
    FilterResult r = runFilter({{"1", "user", "title", "1", ""}, dir + "/model.ppd", dir + "/job.ras"});
    EXPECT_EQ(r.status, 0) << r.err;
    preview::Preview p = preview::previewBytes(
        std::span(reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size()), {});
    EXPECT_FALSE(p.decoded.error.has_value()) << p.decoded.error->message << " at " << p.decoded.error->offset;
    if (result) *result = r;
    return preview::stitchPages(p.receipt, preview::PageBreak::AnyFeed);
  }

  void expectSheet(const preview::Planes& printed, const Sheet& expected) {
    EXPECT_EQ(printed.rows, expected.height);
    EXPECT_EQ(printed.bytesPerRow, expected.rowBytes);
    std::set<Dot> got = dotsOf(printed);
    EXPECT_EQ(got, expected.dots) << testing::PrintToString(got) << "\nexpected " << testing::PrintToString(expected.dots);
  }
};

// A page with dots near every edge and corner, black and red.
Sheet sampleSheet(uint32_t width, uint32_t height) {
  Sheet s{{}, width, height, (width + 7) / 8};
  s.dots = {{0, 0, false},           {width - 1, 0, true},        {5, height - 1, true},
            {width - 2, height - 1, false}, {width / 2, height / 2, false}, {width / 3, height / 4, true},
            {17, 9, true},           {18, 9, false}};
  return s;
}

Sheet blackOnly(Sheet s) {
  std::set<Dot> dots;
  for (Dot d : s.dots) dots.insert({d.x, d.y, false});
  s.dots = dots;
  return s;
}

TEST_F(RasterJobTest, TwoColourPagesForEveryTurnAndReduction) {
  // Width 570 leaves six padding dots at the end of each row.
  for (auto [pageSize, width] : {std::pair{0, 576}, {0, 570}, {95, 576}, {100, 576}, {100, 570}}) {
    for (int rotation = 0; rotation <= 3; ++rotation) {
      SCOPED_TRACE("PageSize " + std::to_string(pageSize) + " width " + std::to_string(width) + " Rotation " +
                   std::to_string(rotation));
      Sheet in = sampleSheet(static_cast<uint32_t>(width), 150);
      auto pages = print(31, {{"ColorModel", "0"}, {"PageSize", std::to_string(pageSize)},
                              {"Rotation", std::to_string(rotation)}, {"PageCut", "2"}},
                         {pageOf(in, true, rotation % 3)});
      ASSERT_EQ(pages.size(), 1u);
      Sheet expected = in;
      trim(expected);
      if (pageSize == 95) reduce(expected, 3);
      if (pageSize == 100) reduce(expected, 2);
      if (rotation == 1) turn90(expected);
      if (rotation == 3) turn270(expected);
      if (rotation == 2) turn180(expected);
      expectSheet(pages[0], expected);
    }
  }
}

TEST_F(RasterJobTest, MonochromePagesForEveryTurn) {
  // Width 570 is not a whole number of bytes: the half turn moves the
  // padding dots to the left, the quarter turns keep every real row.
  for (int model : {41, 83, 13}) {
    for (int rotation = 0; rotation <= 3; ++rotation) {
      SCOPED_TRACE("model " + std::to_string(model) + " Rotation " + std::to_string(rotation));
      Sheet in = blackOnly(sampleSheet(570, 90));
      auto pages = print(model, {{"Rotation", std::to_string(rotation)}, {"CompPrinting", "1"}},
                         {pageOf(in, false)});
      ASSERT_EQ(pages.size(), 1u);
      Sheet expected = in;
      trim(expected);
      if (rotation == 1) turn90(expected), trim(expected);
      if (rotation == 3) turn270(expected), trim(expected);
      if (rotation == 2) turn180(expected);
      expectSheet(pages[0], expected);
    }
  }
}

TEST_F(RasterJobTest, FocusWindowInBothPipelines) {
  struct Case {
    int model;
    bool colour;
    int focus, rotation;
  };
  for (Case c : {Case{31, true, 1, 0}, Case{31, true, 2, 0}, Case{31, true, 1, 1}, Case{31, false, 1, 0},
                 Case{31, false, 2, 2}, Case{36, false, 1, 3}}) {
    SCOPED_TRACE("colour " + std::to_string(c.colour) + " FocusArea " + std::to_string(c.focus) +
                 " Rotation " + std::to_string(c.rotation));
    // 1600 dots halve to 100 bytes per row; turned, 1200 rows halve to 75 bytes.
    Sheet in = sampleSheet(1600, 1200);
    if (!c.colour) in = blackOnly(in);
    auto pages = print(c.model, {{"ColorModel", c.colour ? "0" : "1"}, {"PageSize", "100"},
                                 {"FocusArea", std::to_string(c.focus)}, {"Rotation", std::to_string(c.rotation)}},
                       {pageOf(in, c.colour)});
    ASSERT_EQ(pages.size(), 1u);
    Sheet expected = in;
    trim(expected);
    reduce(expected, 2);
    if (c.rotation == 1) turn90(expected);
    if (c.rotation == 3) turn270(expected);
    if (c.rotation == 2) turn180(expected);
    if (!c.colour && (c.rotation == 1 || c.rotation == 3)) trim(expected);
    uint32_t b = expected.rowBytes;
    if (c.focus == 2) {
      window(expected, b / 2 - 32, 64);
    } else if (c.rotation == 1 || c.rotation == 3) {
      window(expected, b - 64, 64);
    } else {
      window(expected, b / 3, b - b / 3);
    }
    expectSheet(pages[0], expected);
  }
}

TEST_F(RasterJobTest, ModelWithoutMonoScaleIsNotReduced) {
  Sheet in = blackOnly(sampleSheet(576, 60));
  auto pages = print(10, {{"PageSize", "95"}}, {pageOf(in, false)});
  ASSERT_EQ(pages.size(), 1u);
  trim(in);
  expectSheet(pages[0], in);
}

TEST_F(RasterJobTest, TwoColourRowOf290BytesIsRefused) {
  // A row that is not four whole bands of (2320 + 7) / 8 bytes cannot be
  // split into planes the store command describes: the page is refused
  // with nothing of it sent, and the job ends there with status 1.
  RasterPage page = blankPage(2320, 3);  // 290 bytes per row
  page.pixels[0] = 0x80;
  std::string dir = tempDir();
  writePpd(dir + "/m31.ppd", 31, fixedOptions({{"ColorModel", "0"}, {"LogoPosition", "0"}, {"PageType", "0"},
                                               {"PageCut", "2"}}));
  writeRaster(dir + "/job.ras", {page});
  FilterResult r = runFilter({{"1", "user", "title", "1", ""}, dir + "/m31.ppd", dir + "/job.ras"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, toString(hex("1B 40")));
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{
                              "TALVERO DEBUG MSG : drive version v1.3.5", "TALVERO DEBUG MSG: The Printer Model is : 31",
                              "ERROR: Unsupported raster: 2320 dots, 290 bytes per row, 1 bits per dot; this "
                              "printer needs 1 bit per dot and 1160 bytes per row.",
                              "ERROR: No pages found!"}));
}

TEST_F(RasterJobTest, PagesReadInManyBands) {
  // Rows arrive in bands of 256 KiB: 3640 rows of 72 bytes, 910 of 288.
  // Dots on both sides of band boundaries and blank rows across the first
  // boundary must come out as one page, trimmed as a whole.
  for (bool colour : {false, true}) {
    SCOPED_TRACE(colour ? "two-colour" : "mono");
    uint32_t band = colour ? 910 : 3640;
    Sheet in{{{7, band + 1, colour}, {8, band + 2, false}, {575, 2 * band - 1, false}, {0, 2 * band, colour},
              {300, 3 * band + 5, false}},
             576, 3 * band + 40, 72};
    auto pages = print(31, {{"ColorModel", colour ? "0" : "1"}, {"PageCut", "2"}}, {pageOf(in, colour)});
    ASSERT_EQ(pages.size(), 1u);
    trim(in);
    expectSheet(pages[0], in);
  }
}

TEST_F(RasterJobTest, LaterPagesLargerThanTheFirst) {
  Sheet small = sampleSheet(384, 20);
  Sheet large = sampleSheet(576, 700);
  for (bool colour : {true, false}) {
    SCOPED_TRACE(colour ? "two-colour" : "mono");
    if (!colour) small = blackOnly(small), large = blackOnly(large);
    auto pages = print(31, {{"ColorModel", colour ? "0" : "1"}, {"Rotation", "1"}, {"PageCut", "2"}},
                       {pageOf(small, colour), pageOf(large, colour), pageOf(small, colour)});
    ASSERT_EQ(pages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      Sheet expected = i == 1 ? large : small;
      trim(expected);
      turn90(expected);
      if (!colour) trim(expected);
      expectSheet(pages[i], expected);
    }
  }
}

TEST_F(RasterJobTest, OneRowPagesTurnedByAQuarter) {
  // A quarter turn of one row writes eight times more than the row: the
  // buffers must hold it (a sanitizer build checks they do).
  for (bool colour : {true, false}) {
    Sheet in{{{3, 0, false}, {100, 0, colour}}, 576, 1, 72};
    auto pages = print(31, {{"ColorModel", colour ? "0" : "1"}, {"Rotation", "3"}}, {pageOf(in, colour)});
    ASSERT_EQ(pages.size(), 1u);
    Sheet expected = in;
    turn270(expected);
    if (!colour) trim(expected);
    expectSheet(pages[0], expected);
  }
}

TEST_F(RasterJobTest, ReductionThatLeavesNothingSendsNoImage) {
  // Two rows reduced to a third leave no row: no image, but the page is
  // counted and gets its feed.
  Sheet in{{{3, 0, false}, {9, 1, false}}, 576, 2, 72};
  FilterResult r;
  auto pages = print(41, {{"PageSize", "95"}, {"Rotation", "1"}}, {pageOf(in, false)}, &r);
  EXPECT_TRUE(pages.empty());
  EXPECT_EQ(r.out, toString(hex("1B 40 0A 0A")));
  EXPECT_NE(r.err.find("INFO: Ready to print."), std::string::npos);
}

TEST_F(RasterJobTest, EveryModelPrintsWithItsOwnPpd) {
  // Each model's shipped PPD with its defaults: two-colour models get a
  // two-colour page, the others a black one; the page comes back whole and
  // the job ends with the model's feed or cut.
  for (const ModelRow& model : ModelTable) {
    SCOPED_TRACE("model " + std::to_string(model.model));
    char name[32];
    std::snprintf(name, sizeof name, "/tlv%03d.ppd", model.model);
    Sheet in = sampleSheet(576, 120);
    if (!model.twoColour) in = blackOnly(in);
    std::string dir = tempDir();
    writeRaster(dir + "/job.ras", {pageOf(in, model.twoColour)});
    FilterResult r = runFilter({{"1", "user", "title", "1", ""}, std::string(TALVERO_PPD_DIR) + name, dir + "/job.ras"});
    ASSERT_EQ(r.status, 0) << r.err;
    preview::Preview p = preview::previewBytes(std::span(reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size()));
    ASSERT_FALSE(p.decoded.error.has_value()) << p.decoded.error->message;
    auto pages = preview::stitchPages(p.receipt);
    ASSERT_EQ(pages.size(), 1u);
    trim(in);
    expectSheet(pages[0], in);
    const auto& last = p.decoded.commands.back().body;
    if (model.pageEnd == PageEnd::Cut && model.profile == Profile::Full) {
      EXPECT_TRUE(std::holds_alternative<preview::Cut>(last));  // PageCut 2 by default
    } else {
      EXPECT_TRUE(std::holds_alternative<preview::LineFeed>(last));
    }
  }
}

TEST_F(RasterJobTest, RoadOfOnePage) {
  // Model 31, ColorModel 0, PageSize 100, Rotation 1, LogoPosition 1: the
  // page is split, halved, turned and printed after an FS p logo.
  RasterPage page = blankPage(64, 16, true);  // quarters of 8 bytes
  page.pixels[0 * 32 + 0] = 0xC0;             // red: dots 0-1 of row 0 (quarter 1)
  page.pixels[1 * 32 + 8] = 0x80;             // red: dot 0 of row 1 (quarter 2)
  page.pixels[15 * 32 + 24 + 7] = 0x01;       // black: dot 63 of row 15
  std::string dir = tempDir();
  writePpd(dir + "/m31.ppd", 31,
           fixedOptions({{"ColorModel", "0"}, {"PageSize", "100"}, {"Rotation", "1"}, {"LogoPosition", "1"},
                         {"LogoJustification", "1"}, {"LogoImage", "0"}, {"LogoWidth", "0"}, {"LineFeed", "2"},
                         {"PageType", "0"}, {"PageCut", "2"}, {"CompPrinting", "1"}}));
  writeRaster(dir + "/job.ras", {page});
  FilterResult r = runFilter({{"7", "user", "receipt", "1", ""}, dir + "/m31.ppd", dir + "/job.ras"});
  EXPECT_EQ(r.status, 0);
  // Halved: 8 rows of 4 bytes (32 dots); red dot (0, 0), black dot (31, 7).
  // Turned: 32 rows of 1 byte, width 8: red at (7, 0), black at (0, 31).
  std::string black(32, '\0'), red(32, '\0');
  red[0] = '\x01';
  black[31] = '\x80';
  std::string expected = toString(hex("1B 40"))                           // job start
                         + toString(hex("1B 61 01 1C 70 01 00 1B 40 0A 0A"))  // logo block
                         + toString(hex("1D 28 4C 2A 00 30 70 30 01 01 31 08 00 20 00")) + black +
                         toString(hex("1D 28 4C 2A 00 30 70 30 01 01 32 08 00 20 00")) + red +
                         toString(hex("1D 28 4C 02 00 30 32"))  // print
                         + toString(hex("1D 56 41 01"));        // cut
  EXPECT_EQ(r.out, expected) << describeMismatch(expected, r.out);
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{
                              "TALVERO DEBUG MSG : drive version v1.3.5", "TALVERO DEBUG MSG: The Printer Model is : 31",
                              "TALVERO_DEBUG : cupsHeight = 16", "TALVERO_DEBUG_MSG : removeNullLine return = 0",
                              "TALVERO_DEBUG : cupsHeight = 16", "TALVERO DEBUG MESG: PAGE: 1 1",
                              "PAGE: 1 1",                    "INFO: Ready to print."}));
}

}  // namespace
