// A raster job fed in process, row by row in bands of random sizes and
// without a raster stream, as a printer application feeds it, against the
// filter binary reading the same pages from a raster stream: the printer
// bytes and the diagnostics must be the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "job/device.h"
#include "job/raster_job.h"
#include "support.h"

using namespace talvero_test;

namespace {

struct Job {
  const char* what;
  int model;
  const char* options;
  std::vector<RasterPage> pages;
};

// A page of text-like rows with blank margins, for the pipeline's layout.
RasterPage inkedPage(uint32_t width, uint32_t height, bool twoColour, uint32_t seed) {
  RasterPage page = blankPage(width, height, twoColour);
  std::mt19937 rng(seed);
  uint32_t top = height / 5, bottom = height / 7;
  for (uint32_t y = top; y + bottom < height; ++y) {
    for (uint32_t i = 0; i < page.header.cupsBytesPerLine; ++i) {
      if (rng() % 3 == 0) page.pixels[size_t{y} * page.header.cupsBytesPerLine + i] = static_cast<uint8_t>(rng());
    }
  }
  return page;
}

// Feeds the job's pages through the RasterJob functions; returns the
// printer bytes and appends the diagnostics to `err`.
std::string feedRows(const Job& job, std::mt19937& rng, std::string& err) {
  std::string bytes;
  auto out = std::make_unique<OutputSink>(appendToString, &bytes);
  JobSettings settings{};
  EXPECT_EQ(initializeSettings(job.options, settings, logInto(err)), kModelSupported);
  JobContext context(settings, *out, logInto(err));
  shutDown(*out);  // the reset the filter sends at job start
  RasterJob rasterJob(context);
  bool ended = false;
  for (const RasterPage& page : job.pages) {
    if (!startRasterPage(rasterJob, page.header)) break;
    const uint32_t rowBytes = page.header.cupsBytesPerLine;
    for (uint32_t row = 0; row < page.header.cupsHeight;) {
      uint32_t rows = std::min<uint32_t>(1 + static_cast<uint32_t>(rng() % 40), page.header.cupsHeight - row);
      uint8_t* band = rasterPageRows(rasterJob, rows);
      EXPECT_NE(band, nullptr);
      std::memcpy(band, page.pixels.data() + size_t{row} * rowBytes, size_t{rows} * rowBytes);
      row += rows;
    }
    if (!finishRasterPage(rasterJob)) {
      reportAllocationFailure(rasterJob);
      ended = true;
      break;
    }
  }
  if (!ended) finishRasterJob(rasterJob);
  out->flush();
  return bytes;
}

TEST(RowFeedTest, SameBytesAsTheFilterReadingAStream) {
  const std::vector<Job> jobs = {
      {"two-colour, halved, turned, focus", 31, "ColorModel=0 PageSize=100A4Half Rotation=1 FocusArea=1 PageCut=2",
       {inkedPage(1216, 300, true, 1), inkedPage(576, 90, true, 2)}},
      {"mono turned back, trimmed, logos, drawer", 31,
       "ColorModel=1 Rotation=3 CompPrinting=1 LogoPosition=3 CashDrawer=1 CashDrawerOpen=2",
       {inkedPage(570, 200, false, 3), blankPage(576, 30), inkedPage(384, 700, false, 4)}},
      {"GS v 0, half turn, page type 1", 13, "Rotation=2 PageType=1",
       {inkedPage(576, 120, false, 5), blankPage(576, 10)}},
      {"third, stored graphics", 41, "PageSize=95A4Third CompPrinting=0 PageCut=0",
       {inkedPage(576, 400, false, 6)}},
      {"a refused page ends the job", 31, "ColorModel=0 PageCut=0",
       {inkedPage(576, 50, true, 7), inkedPage(576, 50, false, 8), inkedPage(576, 50, true, 9)}},
  };
  std::mt19937 rng(11);
  for (const Job& job : jobs) {
    SCOPED_TRACE(job.what);
    char ppd[64];
    std::snprintf(ppd, sizeof ppd, "%s/tlv%03d.ppd", TALVERO_PPD_DIR, job.model);
    std::string dir = tempDir();
    writeRaster(dir + "/job.ras", job.pages);
    FilterResult filter = runFilter({{"1", "user", "title", "1", job.options}, ppd, dir + "/job.ras"});
    EXPECT_GT(filter.out.size(), 200u) << "the job printed nothing";

    setenv("PPD", ppd, 1);
    std::string err;
    std::string out = feedRows(job, rng, err);
    EXPECT_TRUE(out == filter.out) << describeMismatch(filter.out, out);
    // The filter adds its banner first and the status line last.
    std::vector<std::string> expected = lines(filter.err);
    ASSERT_GE(expected.size(), 2u);
    expected = std::vector<std::string>(expected.begin() + 1, expected.end() - 1);
    EXPECT_EQ(lines(err), expected);
  }
}

}  // namespace
