// Page composition: logo blocks around the page by LogoPosition, the FS p
// and key-code logo commands, and the writer that matches the pipeline.
#include <gtest/gtest.h>

#include "frames.h"
#include "output/color_page.h"
#include "output/gray_page.h"
#include "output/logo.h"
#include "output/page.h"
#include "support.h"

namespace talvero_test {
namespace {

// A page 576 dots wide and 20 rows high: one plane of 288-byte rows, or
// the two planes of 72-byte rows of a two-colour page.
class Page : public testing::Test {
 protected:
  void SetUp() override {
    black = patternPlane(20 * 288);
    second = patternPlane(20 * 288 + 1).substr(1);
  }

  PagePlanes monoPage() const { return {first(), nullptr, 576, 20, 288}; }
  PagePlanes colourPage() const { return {first(), colourPlane(), 576, 20, 72}; }
  const uint8_t* first() const { return reinterpret_cast<const uint8_t*>(black.data()); }
  const uint8_t* colourPlane() const { return reinterpret_cast<const uint8_t*>(second.data()); }

  // printPage for `model` on the page of the pipeline `colorMode` names.
  Captured page(int32_t model, int32_t colorMode, JobSettings settings) {
    settings.ModelNumber = model;
    return capture(settings, [&](JobContext& job) {
      job.ColorMode = colorMode;
      printPage(job, colorMode == 0 ? colourPage() : monoPage());
    });
  }
  Captured grayAlone(int32_t model, int32_t compPrinting) {
    JobSettings settings = modelSettings(model);
    settings.CompPrinting = compPrinting;
    return capture(settings, [&](JobContext& job) { printGrayPage(job, monoPage()); });
  }
  Captured colourAlone() {
    return capture(modelSettings(31), [&](JobContext& job) { printColorPage(job, colourPage()); });
  }

  std::string black, second;
};

TEST_F(Page, LogoBlocksFollowLogoPosition) {
  // Model 31 draws its logos with FS p.
  const std::string block = toString(hex("1B 61 01 1C 70 01 00 1B 40 0A 0A"));
  const std::string body = colourAlone().out;
  struct Case {
    int32_t position;
    std::string expected;
  } cases[] = {
      {0, body}, {1, block + body}, {2, body + block}, {3, block + body + block},
      {4, ""},   {-1, ""},
  };
  for (const Case& c : cases) {
    Captured got = page(31, 0, logoSettings(c.position, 1, 0, 0, 2));
    EXPECT_EQ(got.out, c.expected) << "LogoPosition " << c.position << "\n"
                                   << describeMismatch(c.expected, got.out);
    EXPECT_EQ(got.err, "");
  }
}

TEST_F(Page, LineFeedZeroOrNegativeSendsNoLineFeed) {
  const std::string body = colourAlone().out;
  const std::string block = toString(hex("1B 61 00 1C 70 01 00 1B 40"));
  for (int32_t lineFeed : {0, -1}) {
    Captured got = page(31, 0, logoSettings(3, 0, 0, 0, lineFeed));
    EXPECT_EQ(got.out, block + body + block) << "LineFeed " << lineFeed;
  }
}

TEST_F(Page, FsPLogoSendsTheLowBytesOfTheSettings) {
  struct Case {
    int32_t image, width;
    std::string command;
  } cases[] = {
      {0, 0, "1C 70 01 00"}, {4, 3, "1C 70 05 03"}, {-1, -1, "1C 70 00 FF"},
      {255, 1, "1C 70 00 01"},
  };
  for (const Case& c : cases) {
    Captured got = page(31, 0, logoSettings(1, -1, c.image, c.width, 0));
    std::string expected = toString(hex("1B 61 FF " + c.command + " 1B 40")) + colourAlone().out;
    EXPECT_EQ(got.out, expected) << "LogoImage " << c.image << " LogoWidth " << c.width;
  }
}

TEST_F(Page, KeyCodeLogoOnNvModels) {
  // Model 10: key base '1', monochrome pages.
  Captured got = page(10, 1, logoSettings(2, 0, 2, 3, 1));
  std::string expected = grayAlone(10, 0).out + toString(hex("1B 61 00 1D 28 4C 06 00 30 45 30 33 02 02 1B 40 0A"));
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
  EXPECT_EQ(got.err, "Normal printing.\n");

  // Model 82 uses the key-code command in raster jobs (key base '0').
  got = page(82, 0, logoSettings(1, 0, 1, 1, 0));
  expected = toString(hex("1B 61 00 1D 28 4C 06 00 30 45 30 31 02 01 1B 40")) + colourAlone().out;
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
}

TEST_F(Page, KeyCodeAndScaleBytes) {
  JobSettings settings{};
  struct Case {
    char keyBase;
    int32_t image, width;
    std::string tail;  // kc x y
  } cases[] = {
      {'0', 0, 0, "30 01 01"}, {'0', 1, 1, "31 02 01"}, {'0', 2, 2, "32 01 02"},
      {'1', 0, 3, "31 02 02"}, {'1', 1, 0, "32 01 01"}, {'1', 2, 1, "33 02 01"},
      // Outside the stored logos and the scales: the nearest one.
      {'0', -1, -1, "30 01 01"}, {'1', 3, 4, "33 02 02"}, {'0', 255, 100, "32 02 02"},
  };
  for (const Case& c : cases) {
    settings.LogoImage = c.image;
    settings.LogoWidth = c.width;
    LogoBlock block = makeLogoBlock(LogoCommand::Nv, c.keyBase, settings);
    std::string command(block.command.begin(), block.command.begin() + block.commandSize);
    EXPECT_EQ(command, toString(hex("1D 28 4C 06 00 30 45 30 " + c.tail)))
        << "key base " << c.keyBase << " LogoImage " << c.image << " LogoWidth " << c.width;
  }
}

TEST_F(Page, PageGoesToTheWriterOfItsPipeline) {
  // Model 83 never takes the two-colour pipeline: its pages arrive with
  // ColorMode 1 and go to the monochrome writer with CompPrinting.
  JobSettings settings = logoSettings(0, 0, 0, 0, 0);
  settings.CompPrinting = 1;
  Captured got = page(83, 1, settings);
  EXPECT_EQ(got.out, grayAlone(83, 1).out);
  EXPECT_EQ(got.err, "RLE printing.\n");

  // A two-colour page: black plane as colour '1', colour plane as '2'.
  settings.CompPrinting = 0;
  got = page(31, 0, settings);
  auto frames = parseStored(got.out, 72);
  ASSERT_TRUE(frames.has_value());
  ASSERT_EQ(frameSummary(*frames), "S1:20 S2:20 P");
  EXPECT_EQ((*frames)[0].data, black.substr(0, 20 * 72));
  EXPECT_EQ((*frames)[1].data, second.substr(0, 20 * 72));
}

}  // namespace
}  // namespace talvero_test
