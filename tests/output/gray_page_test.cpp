// The monochrome writer: choice of form, the three command forms with their
// banding, trailing-row dropping for GS v 0, and pages beyond the fields.
#include <gtest/gtest.h>

#include "frames.h"
#include "output/gray_page.h"
#include "support.h"

namespace talvero_test {
namespace {

const std::string kPrint = toString(hex("1D 28 4C 02 00 30 32"));

class GrayPage : public testing::Test {
 protected:
  // Runs printGrayPage for `model` on `plane` (rows of `rowBytes` bytes,
  // `width` dots, 8 per byte unless given), in a job whose PageType and
  // Rotation are pageType and rotation.
  Captured gray(int32_t model, const std::string& plane, uint32_t rowBytes, int32_t compPrinting,
                uint32_t width = 0) {
    JobSettings settings = modelSettings(model);
    settings.CompPrinting = compPrinting;
    PagePlanes page{reinterpret_cast<const uint8_t*>(plane.data()), nullptr, width != 0 ? width : rowBytes * 8,
                    static_cast<uint32_t>(plane.size() / rowBytes), rowBytes};
    return capture(settings, [&](JobContext& job) {
      job.PageType = pageType;
      job.Rotation = rotation;
      printGrayPage(job, page);
    });
  }

  int32_t pageType = 0;
  int32_t rotation = 0;
};

// ---- stored graphics ----

TEST_F(GrayPage, StoredGraphics600RowsGoInBandsOf70) {
  std::string plane = patternPlane(600 * 72);
  std::string expected;
  for (int band = 0; band < 8; ++band) {
    expected += toString(hex("1D 28 4C BA 13 30 70 30 01 01 31 40 02 46 00")) +
                plane.substr(band * 70 * 72, 70 * 72) + kPrint;
  }
  expected += toString(hex("1D 28 4C 4A 0B 30 70 30 01 01 31 40 02 28 00")) +
              plane.substr(560 * 72) + kPrint;
  for (int32_t model : {31, 1, 33}) {  // an rleRows model with CompPrinting 0, and others
    Captured got = gray(model, plane, 72, 0);
    EXPECT_EQ(got.out, expected) << "model " << model << "\n" << describeMismatch(expected, got.out);
    EXPECT_EQ(got.err, "Normal printing.\n");
  }
}

TEST_F(GrayPage, StoredGraphicsBandBoundaries) {
  struct Case {
    uint32_t rows;
    std::string frames;
  } cases[] = {
      {1, "S1:1 P"},
      {255, "S1:255 P"},
      {256, "S1:70 P S1:70 P S1:70 P S1:46 P"},
      {280, "S1:70 P S1:70 P S1:70 P S1:70 P"},
  };
  for (const Case& c : cases) {
    std::string plane = patternPlane(c.rows * 72);
    Captured got = gray(1, plane, 72, 0);
    auto frames = parseStored(got.out, 72);
    ASSERT_TRUE(frames.has_value());
    EXPECT_EQ(frameSummary(*frames), c.frames) << c.rows << " rows";
    std::string data;
    for (const StoredFrame& frame : *frames) {
      if (frame.kind == 'S') {
        EXPECT_EQ(frame.width, 576u);
      }
      data += frame.data;
    }
    EXPECT_EQ(data, plane) << c.rows << " rows";
  }
}

// ---- GS v 0 ----

TEST_F(GrayPage, RasterBitImageSendsThePageInOneCommand) {
  std::string plane = patternPlane(100 * 72);
  std::string expected = toString(hex("1D 76 30 00 48 00 64 00")) + plane;
  // gsv0 models use GS v 0 whatever CompPrinting holds.
  for (int32_t model : {13, 52}) {
    for (int32_t comp : {0, 1, -1}) {
      Captured got = gray(model, plane, 72, comp);
      EXPECT_EQ(got.out, expected) << "model " << model << " CompPrinting " << comp << "\n"
                                   << describeMismatch(expected, got.out);
      EXPECT_EQ(got.err, "TALVERO DEBUG MSG: START PRINTING\n");
    }
  }
}

TEST_F(GrayPage, RasterBitImageDropsTrailingBlankRowsOnlyAfterQuarterTurn) {
  // 20 rows of 8 bytes: the last 3 blank, the one above with a dot in its
  // last byte only.
  std::string plane = patternPlane(20 * 8, true);
  plane.replace(16 * 8, 4 * 8, repeat(0x00, 4 * 8));
  plane[17 * 8 - 1] = '\x01';
  struct Case {
    int32_t pageType, rotation;
    uint32_t rows;
  } cases[] = {{0, 1, 17}, {0, 3, 17}, {0, 0, 20}, {0, 2, 20}, {1, 1, 20}, {1, 3, 20}};
  for (const Case& c : cases) {
    pageType = c.pageType;
    rotation = c.rotation;
    std::string expected = toString(hex("1D 76 30 00 08 00")) + static_cast<char>(c.rows) + '\0' +
                           plane.substr(0, c.rows * 8);
    Captured got = gray(13, plane, 8, 0);
    EXPECT_EQ(got.out, expected) << "PageType " << c.pageType << " Rotation " << c.rotation << "\n"
                                 << describeMismatch(expected, got.out);
  }

  // A last row blank but for its first byte keeps every row.
  pageType = 0;
  rotation = 1;
  std::string dotAtStart = repeat(0x00, 5 * 8);
  dotAtStart[4 * 8] = '\x80';
  Captured got = gray(13, dotAtStart, 8, 0);
  EXPECT_EQ(got.out, toString(hex("1D 76 30 00 08 00 05 00")) + dotAtStart);

  // A page without a dot has no row left: no command, only the line.
  got = gray(13, repeat(0x00, 5 * 8), 8, 0);
  EXPECT_EQ(got.out, "");
  EXPECT_EQ(got.err, "TALVERO DEBUG MSG: START PRINTING\n");
}

// ---- compressed raster ----

TEST_F(GrayPage, Compressed600RowsOnModel31) {
  // A blank page: every band is coded on its own, so each ends its run.
  // 246 x 72 = 69 x 255 + 117 zero bytes; 108 x 72 = 30 x 255 + 126.
  std::string fullBand = toString(hex("08 43 52 00 00 00 00 00 40 02 F6 00"));
  for (int i = 0; i < 69; ++i) fullBand += toString(hex("00 FF"));
  fullBand += toString(hex("00 75 08 43 52 FF 00"));
  std::string lastBand = toString(hex("08 43 52 00 00 00 00 00 40 02 6C 00"));
  for (int i = 0; i < 30; ++i) lastBand += toString(hex("00 FF"));
  lastBand += toString(hex("00 7E 08 43 52 FF 00"));
  std::string expected = fullBand + fullBand + lastBand;

  Captured got = gray(31, repeat(0x00, 600 * 72), 72, 1);
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
  EXPECT_EQ(got.err, "RLE printing.\n");
}

TEST_F(GrayPage, CompressedBandsFollowTheModel) {
  struct Case {
    int32_t model;
    uint32_t rows;
    std::vector<uint32_t> bands;
  } cases[] = {
      {33, 64, {64}},
      {33, 128, {64, 64}},
      {33, 65, {64, 1}},
      {31, 246, {246}},
      {31, 600, {246, 246, 108}},
      {40, 95, {10, 10, 10, 10, 10, 10, 10, 10, 10, 5}},
      {81, 95, {10, 10, 10, 10, 10, 10, 10, 10, 10, 5}},
      {116, 95, {10, 10, 10, 10, 10, 10, 10, 10, 10, 5}},
  };
  for (const Case& c : cases) {
    std::string plane = patternPlane(c.rows * 72);
    // Runs across every band boundary, which the code must cut there.
    for (uint32_t row = 1; row < c.rows; ++row) plane.replace(row * 72 - 3, 6, repeat(0xFF, 6));
    Captured got = gray(c.model, plane, 72, 1);
    EXPECT_EQ(got.err, "RLE printing.\n");
    auto frames = parseCompressed(got.out, 72);
    ASSERT_TRUE(frames.has_value()) << "model " << c.model << ", " << c.rows << " rows";
    std::vector<uint32_t> bands;
    std::string data;
    for (const CompressedFrame& frame : *frames) {
      EXPECT_EQ(frame.width, 576u);
      bands.push_back(frame.rows);
      auto decoded = decodeRuns(frame.code);
      ASSERT_TRUE(decoded.has_value());
      data += *decoded;
    }
    EXPECT_EQ(bands, c.bands) << "model " << c.model << ", " << c.rows << " rows";
    EXPECT_EQ(data, plane);
  }
}

TEST_F(GrayPage, OtherCompPrintingOnRleModelsSendsNothing) {
  std::string plane = patternPlane(100 * 72);
  for (int32_t model : {31, 33, 40}) {
    for (int32_t comp : {2, -1}) {
      Captured got = gray(model, plane, 72, comp);
      EXPECT_EQ(got.out, "") << "model " << model << " CompPrinting " << comp;
      EXPECT_EQ(got.err, "") << "model " << model << " CompPrinting " << comp;
    }
  }
}

// ---- pages beyond the two-byte fields ----

TEST_F(GrayPage, StoredGraphicsSplitsBandsThatWouldOverflowTheLength) {
  // Rows of 1000 bytes: at most 65 rows (65000 bytes) fit one store command.
  std::string plane = patternPlane(100 * 1000);
  Captured got = gray(1, plane, 1000, 0);
  EXPECT_EQ(got.out.substr(0, 15), toString(hex("1D 28 4C F2 FD 30 70 30 01 01 31 40 1F 41 00")));
  auto frames = parseStored(got.out, 1000);
  ASSERT_TRUE(frames.has_value());
  EXPECT_EQ(frameSummary(*frames), "S1:65 P S1:35 P");

  std::string tall = patternPlane(300 * 1000);
  got = gray(1, tall, 1000, 0);
  frames = parseStored(got.out, 1000);
  ASSERT_TRUE(frames.has_value());
  EXPECT_EQ(frameSummary(*frames), "S1:65 P S1:65 P S1:65 P S1:65 P S1:40 P");
  std::string data;
  for (const StoredFrame& frame : *frames) data += frame.data;
  EXPECT_EQ(data, tall);
  EXPECT_EQ(got.err, "Normal printing.\n");
}

TEST_F(GrayPage, RasterBitImageSplitsPagesOfMoreThanFFFFRows) {
  pageType = 1;
  std::string plane = patternPlane(70000);
  Captured got = gray(13, plane, 1, 0);
  std::string expected = toString(hex("1D 76 30 00 01 00 FF FF")) + plane.substr(0, 0xFFFF) +
                         toString(hex("1D 76 30 00 01 00 71 11")) + plane.substr(0xFFFF);
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
  EXPECT_EQ(got.err, "TALVERO DEBUG MSG: START PRINTING\n");
}

TEST_F(GrayPage, RowsTooWideForTheFieldsAreRefused) {
  struct Case {
    int32_t model, comp;
    uint32_t rowBytes, width;
  } cases[] = {
      {1, 0, 8750, 70000},     // stored graphics, width over FFFF dots
      {1, 0, 0xFFF6, 0xFFFF},  // stored graphics, one row over FFF5 bytes
      {31, 1, 8750, 70000},    // compressed raster, width over FFFF dots
      {13, 0, 0x10000, 0xFFFF},  // GS v 0, row length over FFFF bytes
  };
  for (const Case& c : cases) {
    std::string plane = patternPlane(2 * c.rowBytes);
    Captured got = gray(c.model, plane, c.rowBytes, c.comp, c.width);
    EXPECT_EQ(got.out, "") << "model " << c.model;
    ASSERT_EQ(lines(got.err).size(), 1u) << got.err;
    EXPECT_NE(got.err.find("too wide"), std::string::npos) << got.err;
  }
}

}  // namespace
}  // namespace talvero_test
