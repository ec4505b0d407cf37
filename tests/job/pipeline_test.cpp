// The page pipelines in process: the page header after each stage
// (reduction, turn, focus window, trimming), the planes handed to the
// writers and the job-wide values, for both pipelines.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "job/pipeline.h"
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

// A job of one model with no output, and the work of its pipelines.
struct PipelineJob {
  PipelineJob(int model, JobSettings settings) {
    settings.ModelNumber = model;
    job = std::make_unique<JobContext>(settings, *out, Diagnostics());
    int32_t focus = settings.FocusArea;
    job->Focus = (focus == 1 || focus == 2) ? focus : 0;
    work = std::make_unique<PageWork>(*job);
  }

  std::string bytes;
  std::unique_ptr<OutputSink> out = std::make_unique<OutputSink>(appendToString, &bytes);
  std::unique_ptr<JobContext> job;
  std::unique_ptr<PageWork> work;
};

struct PipelineRun {
  Geometry header;
  PagePlanes made;
  JobContext job;
};

// Runs one page of `height` rows and `width` dots (four quarters per row
// when `colour`) through the pipeline, every byte of the page inked.
PipelineRun runPage(int model, bool colour, uint32_t height, uint32_t width, JobSettings settings) {
  PipelineJob run(model, settings);
  PageWork& work = *run.work;
  work.header = makeHeader(width, height, colour);
  size_t size = size_t{height} * work.header.cupsBytesPerLine;
  work.buffers.page.reserve(size);
  std::memset(work.buffers.page.data(), 0xA5, size);
  work.page = work.buffers.page.data();
  PagePlanes made;
  Made result = colour ? runColourPipeline(work, made) : runMonoPipeline(work, made);
  EXPECT_EQ(result, Made::Page);
  const cups_page_header_t& h = work.header;
  EXPECT_EQ(made.height, h.cupsHeight);
  EXPECT_EQ(made.width, h.cupsWidth);
  EXPECT_EQ(run.bytes, "") << "a pipeline prints nothing itself";
  return {{h.cupsHeight, h.cupsWidth, h.cupsBytesPerLine}, made, *run.job};
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
  }
}

TEST(PipelineHeaderTest, JobValuesAndPlanesForTheWriters) {
  struct Case {
    int model;
    bool colour;
    JobSettings settings;
    int32_t colorMode, rotation, scale;
    uint32_t rowBytes;  // of each plane handed to the writers
  } cases[] = {
      // A two-colour row of 576 dots is four quarters of 72 bytes; each plane
      // row is one quarter until a quarter turn or a reduction makes it the
      // page's own row.
      {31, true, with(0, 0), 0, 0, 0, 72},
      {31, true, with(0, 2), 0, 2, 0, 72},
      {31, true, with(0, 5), 0, 5, 0, 72},  // the two-colour pipeline copies any value
      {31, true, with(0, 1), 0, 1, 0, 5},
      {31, true, with(100, 0), 0, 0, 100, 36},
      {31, true, with(95, 2), 0, 2, 95, 24},
      {31, false, with(95, 0), 1, 0, 95, 24},
      {31, false, with(100, 3), 1, 3, 100, 3},
      {31, false, with(0, 5), 1, 0, 0, 72},  // the monochrome pipeline writes it only when it turns
      {10, false, with(95, 0), 1, 0, 0, 72},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model) + " PageSize " + std::to_string(c.settings.PageSize) +
                 " Rotation " + std::to_string(c.settings.Rotation));
    PipelineRun run = runPage(c.model, c.colour, 40, 576, c.settings);
    EXPECT_EQ(run.job.ColorMode, c.colorMode);
    EXPECT_EQ(run.job.Rotation, c.rotation);
    EXPECT_EQ(run.job.Scale, c.scale);
    EXPECT_EQ(run.made.rowBytes, c.rowBytes);
    EXPECT_EQ(run.made.colour != nullptr, c.colour);
  }
}

TEST(PipelineHeaderTest, TrimmingAfterAQuarterTurn) {
  // A mono page whose columns 0-1 and 36-39 are blank: turned by 90 degrees
  // those become the last two and the first... rows; trimming takes both
  // ends and the rest keeps its orientation.
  JobSettings settings = with(0, 1);
  settings.PageType = 0;
  PipelineJob run(31, settings);
  PageWork& work = *run.work;
  work.header = makeHeader(40, 16);  // 5 bytes per row
  work.buffers.page.reserve(16 * 5);
  uint8_t* page = work.buffers.page.data();
  std::memset(page, 0, 16 * 5);
  work.page = page;
  for (int r = 0; r < 16; ++r) {
    page[r * 5 + 0] = 0x3F;  // dots 2-7
    page[r * 5 + 4] = 0xF0;  // dots 32-35
  }
  PagePlanes made;
  ASSERT_EQ(runMonoPipeline(work, made), Made::Page);
  // 40 rows after the turn; rows 0-1 (dots 0-1) and 36-39 (dots 36-39) blank.
  EXPECT_EQ(work.header.cupsHeight, 34u);
  EXPECT_EQ(work.header.cupsBytesPerLine, 2u);
  EXPECT_EQ(made.rowBytes, 2u);
  // The plane: rows of 2 bytes, dots 2-7 and 32-35 of every source row, all
  // 16 source rows set: FF FF.
  std::string expectedRow = toString(hex("FF FF"));
  std::string plane(reinterpret_cast<const char*>(made.black), 34 * 2);
  for (int r = 0; r < 34; ++r) {
    bool inked = r < 6 || r >= 30;
    EXPECT_EQ(plane.substr(r * 2, 2), inked ? expectedRow : std::string(2, '\0')) << "row " << r;
  }
}

}  // namespace
