// Pages the filter refuses, and the bounds that hold whatever a header
// claims: a layout the chosen pipeline cannot print, or rows too wide for
// the printer's commands, end the job with one ERROR line and nothing of
// that page sent or counted; a small input never makes much printer output
// nor takes much memory, and a compressed one takes memory by its page.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <tuple>

#include "support.h"

using namespace talvero_test;

namespace {

const std::string kReset = "\x1B\x40";

// A printed page of 576 dots and 4 rows, one dot per row, for the
// pipeline's layout.
RasterPage goodPage(bool twoColour) {
  RasterPage page = blankPage(576, 4, twoColour);
  for (uint32_t r = 0; r < 4; ++r) page.pixels[r * page.header.cupsBytesPerLine + (twoColour ? 216 : 0)] = 0x80;
  return page;
}

struct LayoutCase {
  const char* what;
  int model;
  const char* colorModel;
  uint32_t width, bytesPerRow, bitsPerPixel;
  uint64_t needed;  // row length the message names
};

TEST(PageLimitsTest, LayoutsThePipelineCannotPrintAreRefused) {
  // Model 31 prints black and red with ColorModel 0 and black with 1;
  // model 1 is black only.
  const LayoutCase cases[] = {
      {"8 bits per dot, 8 x 8 dots, turned", 31, "1", 8, 8, 8, 1},
      {"one-colour rows in the two-colour pipeline", 31, "0", 576, 72, 1, 288},
      {"four bands with ColorModel 1", 31, "1", 576, 288, 1, 72},
      {"four bands on a black-only model", 1, "1", 576, 288, 1, 72},
      {"width beyond the row", 31, "0", 16000000, 8, 1, 8000000},
      {"rows longer than the width needs", 31, "1", 576, 80, 1, 72},
      {"no dots per row", 31, "1", 0, 8, 1, 0},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.what);
    bool twoColour = std::strcmp(c.colorModel, "0") == 0 && c.model == 31;
    RasterPage bad = blankPage(8, 8);
    bad.header.cupsWidth = c.width;
    bad.header.cupsBytesPerLine = c.bytesPerRow;
    bad.header.cupsBitsPerPixel = c.bitsPerPixel;
    bad.header.cupsBitsPerColor = c.bitsPerPixel;
    bad.pixels.assign(8 * c.bytesPerRow, 0xFF);
    std::string dir = tempDir();
    writePpd(dir + "/m.ppd", c.model,
             fixedOptions({{"ColorModel", c.colorModel}, {"Rotation", "1"}, {"PageCut", "0"}, {"LogoPosition", "0"},
                           {"CompPrinting", "0"}, {"PageType", "0"}}));
    writeRaster(dir + "/job.ras", {goodPage(twoColour), bad, goodPage(twoColour)});
    FilterResult r = runFilter({{"1", "user", "title", "1", ""}, dir + "/m.ppd", dir + "/job.ras"});

    // The first page prints; the job ends at the refused page with its
    // final feed, and with status 1 although a page printed.
    writeRaster(dir + "/first.ras", {goodPage(twoColour)});
    FilterResult first = runFilter({{"1", "user", "title", "1", ""}, dir + "/m.ppd", dir + "/first.ras"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out == first.out) << describeMismatch(first.out, r.out);
    std::vector<std::string> err = lines(r.err);
    ASSERT_GE(err.size(), 2u);
    EXPECT_EQ(err[err.size() - 2], "ERROR: Unsupported raster: " + std::to_string(c.width) + " dots, " +
                                       std::to_string(c.bytesPerRow) + " bytes per row, " +
                                       std::to_string(c.bitsPerPixel) + " bits per dot; this printer needs 1 bit "
                                       "per dot and " + std::to_string(c.needed) + " bytes per row.");
    EXPECT_EQ(err.back(), "INFO: Ready to print.");
    EXPECT_EQ(std::count(err.begin(), err.end(), "TALVERO DEBUG MESG: PAGE: 1 1"), 1);
  }
}

// A page of `width` x `height` dots whose every row is the same pattern, so
// that a compressed ('RaS2') stream of it is a few bytes per 256 rows.
RasterPage patternPage(uint32_t width, uint32_t height, bool twoColour) {
  RasterPage page = blankPage(width, height, twoColour);
  size_t rowBytes = page.header.cupsBytesPerLine;
  for (size_t i = 0; i < page.pixels.size(); ++i) page.pixels[i] = (i % rowBytes) / 64 % 2 == 0 ? 0xA5 : 0;
  return page;
}

TEST(PageLimitsTest, PagesTooWideForThePrinterCommandsAreRefused) {
  // Rows wider than a command's two-byte fields: after a quarter turn of a
  // long page (stored graphics), or as they come (compressed raster).
  const std::tuple<const char*, uint32_t, uint32_t, bool, const char*> cases[] = {
      // options, width, height, two-colour, the ERROR line
      {"ColorModel=0 Rotation=1", 8, 70000, true,
       "ERROR: Page 2 not printed: its rows of 70000 dots (8750 bytes) are too wide for the GS ( L command."},
      {"ColorModel=1 CompPrinting=1", 70000, 8, false,
       "ERROR: Page 2 not printed: its rows of 70000 dots (8750 bytes) are too wide for the compressed raster "
       "command."},
  };
  for (const auto& [options, width, height, twoColour, message] : cases) {
    SCOPED_TRACE(options);
    std::string dir = tempDir();
    writeRaster(dir + "/job.ras", {goodPage(twoColour), patternPage(width, height, twoColour), goodPage(twoColour)},
                true);
    writeRaster(dir + "/first.ras", {goodPage(twoColour)}, true);
    std::string ppd = TALVERO_PPD_DIR "/tlv031.ppd";
    std::string all = std::string(options) + " PageCut=0 LogoPosition=0 PageType=1";
    FilterResult r = runFilter({{"1", "user", "title", "1", all}, ppd, dir + "/job.ras"});
    FilterResult first = runFilter({{"1", "user", "title", "1", all}, ppd, dir + "/first.ras"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out == first.out) << describeMismatch(first.out, r.out);
    std::vector<std::string> err = lines(r.err);
    EXPECT_EQ(std::count(err.begin(), err.end(), message), 1) << r.err;
    EXPECT_EQ(std::count_if(err.begin(), err.end(), [](const std::string& l) { return l.rfind("PAGE: ", 0) == 0; }),
              1);
  }
}

TEST(PageLimitsTest, CompressedPagesTakeMemoryByTheirSizeAfterDecompression) {
  // A few KiB of 'RaS2' stream describe 16 MiB pages. Memory follows the
  // page after decompression, not the stream: at most 2.5 times its pixel
  // data, turned by a quarter (the largest pipeline), plus the process's own.
  constexpr size_t kPageBytes = size_t{16} << 20;
  const std::tuple<const char*, uint32_t, bool> cases[] = {  // options, width, two-colour
      {"ColorModel=0 Rotation=1", 8192, true},
      {"ColorModel=1 Rotation=3", 32768, false},
      {"ColorModel=0 PageSize=100A4Half FocusArea=2", 8192, true},
  };
  for (const auto& [options, width, twoColour] : cases) {
    SCOPED_TRACE(options);
    uint32_t rowBytes = blankPage(width, 1, twoColour).header.cupsBytesPerLine;
    std::string dir = tempDir();
    writeRaster(dir + "/job.ras", {patternPage(width, static_cast<uint32_t>(kPageBytes / rowBytes), twoColour)}, true);
    std::ifstream in(dir + "/job.ras", std::ios::binary | std::ios::ate);
    EXPECT_LE(static_cast<size_t>(in.tellg()), size_t{64} << 10);
    FilterResult r = runFilter({{"1", "user", "title", "1", std::string(options) + " PageType=1"},
                                TALVERO_PPD_DIR "/tlv031.ppd", dir + "/job.ras"});
    EXPECT_EQ(r.status, 0) << r.err.substr(r.err.size() > 2000 ? r.err.size() - 2000 : 0);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own memory would be measured
    EXPECT_LE(r.peakRssKb, static_cast<long>((kPageBytes * 5 / 2 + (size_t{24} << 20)) >> 10));
#endif
  }
}

// The raster stream of one page header (and `pixelBytes` bytes of pixels),
// as a byte string.
std::string headerStream(const cups_page_header_t& header, size_t pixelBytes) {
  std::string path = tempDir() + "/h.ras";
  RasterPage page{header, Bytes(pixelBytes, 0x5A)};
  writeRaster(path, {page});
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// xorshift64*, so every run draws the same headers.
uint64_t nextRandom(uint64_t& state) {
  state ^= state >> 12;
  state ^= state << 25;
  state ^= state >> 27;
  return state * 0x2545F4914F6CDD1DULL;
}

TEST(PageLimitsTest, SmallInputsMakeLittleOutputAndUseLittleMemory) {
  // Headers that claim far more than the stream holds, and pages whose
  // turn or trimming could multiply what little they hold; then headers
  // with fields drawn at random. Every stream is at most 4 KiB.
  std::vector<std::pair<std::string, std::string>> inputs;
  auto add = [&inputs](const std::string& what, uint32_t width, uint32_t height, bool twoColour, size_t pixels) {
    cups_page_header_t header = makeHeader(width, height, twoColour);
    inputs.emplace_back(what, headerStream(header, pixels));
  };
  add("100000 rows of 2000 bytes, no pixels", 16000, 100000, false, 0);
  add("2^28 dots per row", 1u << 28, 1, false, 16);
  add("16000000 dots, two-colour", 16000000, 2, true, 8);
  add("a row of 2250 bytes turned", 18000, 1, false, 2250);
  add("2000 rows of one byte turned", 8, 2000, false, 2000);
  add("one-byte rows claiming a million", 8, 1000000, true, 2200);
  uint64_t state = 0x243F6A8885A308D3ULL;
  for (int i = 0; i < 40; ++i) {
    cups_page_header_t header = makeHeader(1 + static_cast<uint32_t>(nextRandom(state) % 40000),
                                           1 + static_cast<uint32_t>(nextRandom(state) % 2000000), i % 2 == 0);
    if (i % 5 == 0) header.cupsBitsPerPixel = header.cupsBitsPerColor = 8;
    if (i % 7 == 0) header.cupsBytesPerLine = 1 + static_cast<uint32_t>(nextRandom(state) % 4096);
    inputs.emplace_back("random header " + std::to_string(i), headerStream(header, static_cast<size_t>(nextRandom(state) % 2200)));
  }

  std::string dir = tempDir();
  for (const char* options : {"Rotation=1 ColorModel=0 PageType=1", "Rotation=3 ColorModel=1 PageType=0 PageSize=100A4Half"}) {
    for (const auto& [what, bytes] : inputs) {
      SCOPED_TRACE(what + " with " + options);
      ASSERT_LE(bytes.size(), 4096u);
      std::ofstream(dir + "/in.ras", std::ios::binary) << bytes;
      FilterResult r = runFilter({{"1", "user", "title", "1", options}, TALVERO_PPD_DIR "/tlv031.ppd", dir + "/in.ras"});
      EXPECT_TRUE(r.status == 0 || r.status == 1) << r.err;
      EXPECT_LE(r.out.size(), 1u << 20);
#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's own memory would be measured
      EXPECT_LE(r.peakRssKb, 32 * 1024);
#endif
    }
  }
}

}  // namespace
