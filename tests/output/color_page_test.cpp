// The two-colour writer: both planes per band, black first, bytes per plane
// row from Rotation and Scale, and bands kept within the store command.
#include <gtest/gtest.h>

#include "filter/globals.h"
#include "frames.h"
#include "output/color_page.h"
#include "support.h"

namespace talvero_test {
namespace {

const std::string kPrint = toString(hex("1D 28 4C 02 00 30 32"));

class ColorPage : public testing::Test {
 protected:
  void SetUp() override { resetJobGlobals(); }
  void TearDown() override { resetJobGlobals(); }

  // Runs printColorPage on two planes of `rows` rows under a header with
  // `bytesPerLine` and `width`.
  Captured colour(const std::string& black, const std::string& second, uint32_t rows,
                  uint32_t bytesPerLine, uint32_t width) {
    cups_page_header_t header{};
    header.cupsWidth = width;
    header.cupsHeight = rows;
    header.cupsBytesPerLine = bytesPerLine;
    return capture([&] {
      printColorPage(reinterpret_cast<const uint8_t*>(black.data()),
                     reinterpret_cast<const uint8_t*>(second.data()), header);
    });
  }
};

TEST_F(ColorPage, HundredRowPageIsOneBandInTwoColours) {
  // 576 dots in four quarters of 72 bytes, neither turned nor reduced.
  std::string black = patternPlane(100 * 72);
  std::string second = patternPlane(100 * 72 + 1).substr(1);
  std::string expected = toString(hex("1D 28 4C 2A 1C 30 70 30 01 01 31 40 02 64 00")) + black +
                         toString(hex("1D 28 4C 2A 1C 30 70 30 01 01 32 40 02 64 00")) + second +
                         kPrint;
  Captured got = colour(black, second, 100, 288, 576);
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
  EXPECT_EQ(got.err, "");
}

TEST_F(ColorPage, ThreeHundredRowPageGoesInBandsOf70) {
  std::string black = patternPlane(300 * 72);
  std::string second = patternPlane(300 * 72 + 5).substr(5);
  std::string expected;
  for (int band = 0; band < 4; ++band) {
    expected += toString(hex("1D 28 4C BA 13 30 70 30 01 01 31 40 02 46 00")) +
                black.substr(band * 70 * 72, 70 * 72) +
                toString(hex("1D 28 4C BA 13 30 70 30 01 01 32 40 02 46 00")) +
                second.substr(band * 70 * 72, 70 * 72) + kPrint;
  }
  expected += toString(hex("1D 28 4C AA 05 30 70 30 01 01 31 40 02 14 00")) + black.substr(280 * 72) +
              toString(hex("1D 28 4C AA 05 30 70 30 01 01 32 40 02 14 00")) +
              second.substr(280 * 72) + kPrint;
  Captured got = colour(black, second, 300, 288, 576);
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
  EXPECT_EQ(got.err, "");
}

TEST_F(ColorPage, BandBoundaries) {
  struct Case {
    uint32_t rows;
    std::string frames;
  } cases[] = {
      {255, "S1:255 S2:255 P"},
      {256, "S1:70 S2:70 P S1:70 S2:70 P S1:70 S2:70 P S1:46 S2:46 P"},
      {280, "S1:70 S2:70 P S1:70 S2:70 P S1:70 S2:70 P S1:70 S2:70 P"},
  };
  for (const Case& c : cases) {
    std::string black = patternPlane(c.rows * 72);
    std::string second = patternPlane(c.rows * 72 + 3).substr(3);
    Captured got = colour(black, second, c.rows, 288, 576);
    auto frames = parseStored(got.out, 72);
    ASSERT_TRUE(frames.has_value());
    EXPECT_EQ(frameSummary(*frames), c.frames) << c.rows << " rows";
    std::string blackData, colourData;
    for (const StoredFrame& frame : *frames) {
      (frame.colour == '1' ? blackData : colourData) += frame.data;
    }
    EXPECT_EQ(blackData, black);
    EXPECT_EQ(colourData, second);
  }
}

TEST_F(ColorPage, RotationAndScaleDecideBytesPerPlaneRow) {
  // The header's row length is 288 bytes throughout; each plane row is a
  // quarter of it until a quarter turn or a reduction has rewritten it.
  struct Case {
    int32_t rotation, scale;
    size_t rowBytes;
  } cases[] = {{0, 0, 72}, {2, 0, 72}, {1, 0, 288}, {3, 0, 288},
               {0, 100, 288}, {0, 95, 288}, {2, 95, 288}};
  for (const Case& c : cases) {
    Rotation = c.rotation;
    Scale = c.scale;
    std::string black = patternPlane(10 * c.rowBytes);
    std::string second = patternPlane(10 * c.rowBytes + 7).substr(7);
    Captured got = colour(black, second, 10, 288, 576);
    auto frames = parseStored(got.out, c.rowBytes);
    ASSERT_TRUE(frames.has_value()) << "Rotation " << c.rotation << " Scale " << c.scale;
    ASSERT_EQ(frameSummary(*frames), "S1:10 S2:10 P");
    EXPECT_EQ((*frames)[0].data, black);
    EXPECT_EQ((*frames)[1].data, second);
  }
}

TEST_F(ColorPage, BandsBeyondTheStoreLengthAreSplit) {
  // Plane rows of 1000 bytes: at most 65 rows per store command.
  Rotation = 1;
  std::string black = patternPlane(100 * 1000);
  std::string second = patternPlane(100 * 1000 + 1).substr(1);
  Captured got = colour(black, second, 100, 1000, 8000);
  auto frames = parseStored(got.out, 1000);
  ASSERT_TRUE(frames.has_value());
  EXPECT_EQ(frameSummary(*frames), "S1:65 S2:65 P S1:35 S2:35 P");

  // Rows that not even one store command can hold are not sent.
  got = colour(black, second, 1, 8750, 70000);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(lines(got.err).size(), 1u) << got.err;
}

}  // namespace
}  // namespace talvero_test
