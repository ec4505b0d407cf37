// The page pipelines in process: the page header after each stage
// (reduction, turn, focus window, trimming) and the job-wide globals the
// writers read, for both pipelines. LogoPosition is -1, so printPage sends
// nothing and only the geometry is under test.
#include <gtest/gtest.h>

#include <cstring>

#include "filter/globals.h"
#include "filter/pipeline.h"
#include "output/stream.h"
#include "support.h"

using namespace talvero_test;

namespace {

struct Geometry {
  uint32_t height, width, bytesPerLine;
  bool operator==(const Geometry&) const = default;
};

[[maybe_unused]] std::ostream& operator<<(std::ostream& out, const Geometry& g) {
  return out << "{H " << g.height << ", W " << g.width << ", B " << g.bytesPerLine << "}";
}

struct PipelineRun {
  Geometry header;
  std::string printed;
};

// Runs one page of `height` rows and `width` dots (four quarters per row
// when `colour`) through the pipeline, every byte of the page inked.
PipelineRun runPage(int model, bool colour, uint32_t height, uint32_t width, JobSettings settings) {
  resetJobGlobals();
  PrinterModel = model;
  settings.LogoPosition = -1;
  Focus = (settings.FocusArea == 1 || settings.FocusArea == 2) ? settings.FocusArea : 0;
  auto work = std::make_unique<PageWork>();
  work->settings = settings;
  work->header = makeHeader(width, height, colour);
  size_t size = size_t{height} * work->header.cupsBytesPerLine;
  work->job.page.reserve(size);
  std::memset(work->job.page.data(), 0xA5, size);
  work->page = work->job.page.data();
  std::string sink;
  outCapture(&sink);
  bool ok = colour ? runColourPipeline(*work) : runMonoPipeline(*work);
  outFlush();
  outCapture(nullptr);
  EXPECT_TRUE(ok);
  const cups_page_header_t& h = work->header;
  return {{h.cupsHeight, h.cupsWidth, h.cupsBytesPerLine}, sink};
}

JobSettings with(int32_t pageSize, int32_t rotation, int32_t focus = 0) {
  JobSettings s{};
  s.PageSize = pageSize;
  s.Rotation = rotation;
  s.FocusArea = focus;
  s.PageType = 1;
  return s;
}

TEST(PipelineHeaderTest, ReductionTurnAndFocusGeometry) {
  struct Case {
    const char* what;
    int model;
    bool colour;
    uint32_t height, width;
    JobSettings settings;
    Geometry expected;
  };
  const Case cases[] = {
      {"halving, two-colour", 31, true, 300, 576, with(100, 0), {150, 288, 36}},
      {"halving, mono", 31, false, 300, 576, with(100, 0), {150, 288, 36}},
      {"third, two-colour", 31, true, 300, 576, with(95, 0), {100, 192, 24}},
      {"third, mono", 31, false, 300, 576, with(95, 0), {100, 192, 24}},
      {"quarter turn, two-colour", 31, true, 803, 576, with(0, 1), {576, 803, 101}},
      {"quarter turn back, two-colour", 31, true, 803, 576, with(0, 3), {576, 803, 101}},
      {"half turn keeps the whole row", 31, true, 803, 576, with(0, 2), {803, 576, 288}},
      {"quarter turn, mono", 31, false, 803, 576, with(0, 1), {576, 803, 101}},
      {"focus right-hand, unturned", 31, true, 20, 1216, with(100, 0, 1), {10, 401, 51}},
      {"focus right-hand, mono", 31, false, 20, 1216, with(100, 0, 1), {10, 401, 51}},
      {"focus after a quarter turn", 31, true, 1216, 64, with(100, 1, 1), {32, 505, 64}},
      {"focus centred", 31, false, 20, 1216, with(100, 2, 2), {10, 505, 64}},
      {"no focus at 64 bytes", 31, true, 20, 1024, with(100, 0, 1), {10, 512, 64}},
      {"no focus after a third", 31, false, 20, 3648, with(95, 0, 1), {6, 1216, 152}},
      {"no focus on a compact model", 41, false, 20, 1216, with(100, 0, 1), {10, 608, 76}},
      {"no reduction without monoScale", 10, false, 300, 576, with(95, 0), {300, 576, 72}},
      {"unknown turn passes the page", 31, false, 30, 576, with(0, 7), {30, 576, 72}},
      // Rows of 64 bytes reduce to 21; the header follows the rows.
      {"third of a 64-byte row", 31, false, 30, 512, with(95, 0), {10, 168, 21}},
      {"half of a 73-byte row", 31, false, 30, 580, with(100, 0), {15, 288, 36}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PipelineRun run = runPage(c.model, c.colour, c.height, c.width, c.settings);
    EXPECT_EQ(run.header, c.expected);
    EXPECT_EQ(run.printed, "");
  }
}

TEST(PipelineHeaderTest, GlobalsForTheWriters) {
  runPage(31, true, 40, 576, with(0, 2));
  EXPECT_EQ(ColorMode, 0);
  EXPECT_EQ(Rotation, 2);
  EXPECT_EQ(Scale, 0);

  runPage(31, true, 40, 576, with(0, 5));
  EXPECT_EQ(Rotation, 5);  // the two-colour pipeline copies any value

  runPage(31, false, 40, 576, with(95, 0));
  EXPECT_EQ(ColorMode, 1);
  EXPECT_EQ(Scale, 95);
  EXPECT_EQ(Rotation, 0);  // the monochrome pipeline writes it only when it turns

  runPage(31, false, 40, 576, with(100, 3));
  EXPECT_EQ(Scale, 100);
  EXPECT_EQ(Rotation, 3);

  runPage(10, false, 40, 576, with(95, 0));
  EXPECT_EQ(Scale, 0);
}

TEST(PipelineHeaderTest, TrimmingAfterAQuarterTurn) {
  // A mono page whose columns 0-1 and 36-39 are blank: turned by 90 degrees
  // those become the last two and the first... rows; trimming takes both
  // ends and the rest keeps its orientation.
  resetJobGlobals();
  PrinterModel = 31;
  PageType = 0;
  auto work = std::make_unique<PageWork>();
  work->settings = with(0, 1);
  work->settings.PageType = 0;
  work->settings.LogoPosition = 0;
  work->settings.CompPrinting = 0;
  work->header = makeHeader(40, 16);  // 5 bytes per row
  work->job.page.reserve(16 * 5);
  uint8_t* page = work->job.page.data();
  std::memset(page, 0, 16 * 5);
  work->page = page;
  for (int r = 0; r < 16; ++r) {
    page[r * 5 + 0] = 0x3F;  // dots 2-7
    page[r * 5 + 4] = 0xF0;  // dots 32-35
  }
  std::string sink;
  outCapture(&sink);
  ASSERT_TRUE(runMonoPipeline(*work));
  outFlush();
  outCapture(nullptr);
  // 40 rows after the turn; rows 0-1 (dots 0-1) and 36-39 (dots 36-39) blank.
  EXPECT_EQ(work->header.cupsHeight, 34u);
  EXPECT_EQ(work->header.cupsBytesPerLine, 2u);
  // The stored plane: rows of 2 bytes, dots 2-7 and 32-35 of every source
  // row, all 16 source rows set: FF FF.
  std::string expectedRow = toString(hex("FF FF"));
  std::string plane = sink.substr(15, 34 * 2);
  for (int r = 0; r < 34; ++r) {
    bool inked = r < 6 || r >= 30;
    EXPECT_EQ(plane.substr(r * 2, 2), inked ? expectedRow : std::string(2, '\0')) << "row " << r;
  }
}

}  // namespace
