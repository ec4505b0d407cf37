// The two-colour writer: both planes per band, black first, and bands kept
// within the store command.
#include <gtest/gtest.h>

#include "frames.h"
#include "output/color_page.h"
#include "support.h"

namespace talvero_test {
namespace {

const std::string kPrint = toString(hex("1D 28 4C 02 00 30 32"));

class ColorPage : public testing::Test {
 protected:
  // Runs printColorPage on two planes of `rows` rows of `rowBytes` bytes,
  // `width` dots wide.
  Captured colour(const std::string& black, const std::string& second, uint32_t rows, uint32_t rowBytes,
                  uint32_t width) {
    PagePlanes page{reinterpret_cast<const uint8_t*>(black.data()), reinterpret_cast<const uint8_t*>(second.data()),
                    width, rows, rowBytes};
    return capture(modelSettings(31), [&](JobContext& job) { printColorPage(job, page); });
  }
};

TEST_F(ColorPage, HundredRowPageIsOneBandInTwoColours) {
  // 576 dots in four quarters of 72 bytes, neither turned nor reduced.
  std::string black = patternPlane(100 * 72);
  std::string second = patternPlane(100 * 72 + 1).substr(1);
  std::string expected = toString(hex("1D 28 4C 2A 1C 30 70 30 01 01 31 40 02 64 00")) + black +
                         toString(hex("1D 28 4C 2A 1C 30 70 30 01 01 32 40 02 64 00")) + second +
                         kPrint;
  Captured got = colour(black, second, 100, 72, 576);
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
  Captured got = colour(black, second, 300, 72, 576);
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
    Captured got = colour(black, second, c.rows, 72, 576);
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

TEST_F(ColorPage, BandsBeyondTheStoreLengthAreSplit) {
  // Plane rows of 1000 bytes: at most 65 rows per store command.
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
