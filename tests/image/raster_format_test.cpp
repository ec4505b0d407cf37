// Tests of the prefilter's raster formats: which page headers it accepts,
// how each input layout decodes to RGB, and the output page it writes.
#include "image/raster_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

cups_page_header2_t header(unsigned space, unsigned bitsPerColor, unsigned bitsPerPixel,
                           unsigned order, uint32_t width, uint32_t bytesPerLine) {
  cups_page_header2_t h{};
  h.cupsColorSpace = static_cast<cups_cspace_t>(space);
  h.cupsBitsPerColor = bitsPerColor;
  h.cupsBitsPerPixel = bitsPerPixel;
  h.cupsColorOrder = static_cast<cups_order_t>(order);
  h.cupsWidth = width;
  h.cupsHeight = 10;
  h.cupsBytesPerLine = bytesPerLine;
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.NumCopies = 2;
  return h;
}

TEST(InputLayout, AcceptsTheCommonLayouts) {
  struct Case {
    cups_page_header2_t h;
    InputLayout expected;
  } cases[] = {
      {header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 576, 1728), InputLayout::Rgb8},
      {header(CUPS_CSPACE_SRGB, 8, 24, CUPS_ORDER_CHUNKED, 575, 1725), InputLayout::Rgb8},
      {header(CUPS_CSPACE_ADOBERGB, 8, 24, CUPS_ORDER_CHUNKED, 10, 30), InputLayout::Rgb8},
      {header(CUPS_CSPACE_W, 8, 8, CUPS_ORDER_CHUNKED, 576, 576), InputLayout::Gray8},
      {header(CUPS_CSPACE_SW, 8, 8, CUPS_ORDER_CHUNKED, 576, 576), InputLayout::Gray8},
      {header(CUPS_CSPACE_K, 8, 8, CUPS_ORDER_CHUNKED, 576, 576), InputLayout::Black8},
      {header(CUPS_CSPACE_CMY, 8, 24, CUPS_ORDER_CHUNKED, 4, 12), InputLayout::Cmy8},
      {header(CUPS_CSPACE_CMYK, 8, 32, CUPS_ORDER_CHUNKED, 4, 16), InputLayout::Cmyk8},
      {header(CUPS_CSPACE_K, 1, 1, CUPS_ORDER_CHUNKED, 576, 72), InputLayout::Black1},
      {header(CUPS_CSPACE_W, 1, 1, CUPS_ORDER_CHUNKED, 13, 2), InputLayout::Gray1},
      {header(CUPS_CSPACE_CMYK, 1, 1, CUPS_ORDER_BANDED, 576, 288), InputLayout::CmykBanded1},
      // A little row padding is fine for chunky rows.
      {header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 575, 1728), InputLayout::Rgb8},
  };
  for (const auto& c : cases) {
    InputLayout layout;
    std::string why;
    ASSERT_TRUE(inputLayoutOf(c.h, layout, why)) << why;
    EXPECT_EQ(layout, c.expected) << c.h.cupsColorSpace << " " << c.h.cupsBitsPerColor;
  }
}

TEST(InputLayout, RejectsWithAReason) {
  struct Case {
    cups_page_header2_t h;
    const char* reason;
  } cases[] = {
      {header(CUPS_CSPACE_RGB, 16, 48, CUPS_ORDER_CHUNKED, 576, 3456), "unsupported"},
      {header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_BANDED, 576, 1728), "unsupported"},
      {header(CUPS_CSPACE_KCMY, 8, 32, CUPS_ORDER_CHUNKED, 576, 2304), "unsupported"},
      {header(CUPS_CSPACE_CMYK, 1, 1, CUPS_ORDER_BANDED, 576, 292), "bytes per line"},
      {header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 576, 1727), "bytes per line"},
      {header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 576, 4000000), "bytes per line"},
      {header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 0, 0), "empty page"},
      {header(CUPS_CSPACE_K, 1, 1, CUPS_ORDER_CHUNKED, 100000, 12500), "too large"},
  };
  for (const auto& c : cases) {
    InputLayout layout;
    std::string why;
    EXPECT_FALSE(inputLayoutOf(c.h, layout, why)) << c.reason;
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  }
  // Colour space or order outside its enum, as a damaged stream delivers
  // them: refused by the integer they hold (a sanitizer build checks that
  // no such value is ever loaded as the enum).
  for (bool space : {true, false}) {
    cups_page_header2_t odd = header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 576, 1728);
    unsigned raw = 65535;
    std::memcpy(space ? static_cast<void*>(&odd.cupsColorSpace) : static_cast<void*>(&odd.cupsColorOrder), &raw,
                sizeof raw);
    InputLayout layout;
    std::string why;
    EXPECT_FALSE(inputLayoutOf(odd, layout, why));
    EXPECT_NE(why.find(space ? "colour space 65535" : "colour order 65535"), std::string::npos) << why;
  }
  cups_page_header2_t tall = header(CUPS_CSPACE_K, 1, 1, CUPS_ORDER_CHUNKED, 8, 1);
  tall.cupsHeight = kMaxHeight + 1;
  InputLayout layout;
  std::string why;
  EXPECT_FALSE(inputLayoutOf(tall, layout, why));
}

struct DecodeCase {
  InputLayout layout;
  std::vector<uint8_t> row;
  std::vector<Rgb> expected;
};

TEST(DecodeRow, EveryLayout) {
  const Rgb W{255, 255, 255}, K{0, 0, 0}, R{255, 0, 0};
  const DecodeCase cases[] = {
      {InputLayout::Rgb8, {255, 0, 0, 1, 2, 3}, {R, {1, 2, 3}}},
      {InputLayout::Gray8, {0, 200}, {K, {200, 200, 200}}},
      {InputLayout::Black8, {0, 200}, {W, {55, 55, 55}}},
      {InputLayout::Cmy8, {0, 255, 255, 255, 255, 255}, {R, K}},
      {InputLayout::Cmyk8, {0, 0, 0, 255, 0, 255, 255, 0, 0, 0, 0, 0}, {K, R, W}},
      {InputLayout::Black1, {0xA0}, {K, W, K}},
      {InputLayout::Gray1, {0xA0}, {W, K, W}},
      // Bands C, M, Y, K of one byte each: dot 0 red (M and Y), dot 1 black,
      // dot 2 cyan, dot 3 white.
      {InputLayout::CmykBanded1, {0x20, 0x80, 0x80, 0x40}, {R, K, {0, 255, 255}, W}},
  };
  for (const auto& c : cases) {
    std::vector<Rgb> got(c.expected.size());
    decodeRow(c.layout, c.row, got);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].r, c.expected[i].r) << static_cast<int>(c.layout) << " dot " << i;
      EXPECT_EQ(got[i].g, c.expected[i].g) << static_cast<int>(c.layout) << " dot " << i;
      EXPECT_EQ(got[i].b, c.expected[i].b) << static_cast<int>(c.layout) << " dot " << i;
    }
  }
}

TEST(OutputHeader, TwoColourAndBlack) {
  cups_page_header2_t in = header(CUPS_CSPACE_RGB, 8, 24, CUPS_ORDER_CHUNKED, 575, 1725);
  cups_page_header2_t two = outputHeader(in, true);
  EXPECT_EQ(two.cupsColorSpace, CUPS_CSPACE_CMYK);
  EXPECT_EQ(two.cupsColorOrder, CUPS_ORDER_BANDED);
  EXPECT_EQ(two.cupsBitsPerColor, 1u);
  EXPECT_EQ(two.cupsBitsPerPixel, 1u);
  EXPECT_EQ(two.cupsNumColors, 4u);
  EXPECT_EQ(two.cupsBytesPerLine, 288u);
  cups_page_header2_t mono = outputHeader(in, false);
  EXPECT_EQ(mono.cupsColorSpace, CUPS_CSPACE_K);
  EXPECT_EQ(mono.cupsColorOrder, CUPS_ORDER_CHUNKED);
  EXPECT_EQ(mono.cupsNumColors, 1u);
  EXPECT_EQ(mono.cupsBytesPerLine, 72u);
  // The page itself passes through.
  for (const auto* out : {&two, &mono}) {
    EXPECT_EQ(out->cupsWidth, 575u);
    EXPECT_EQ(out->cupsHeight, 10u);
    EXPECT_EQ(out->HWResolution[0], 203u);
    EXPECT_EQ(out->NumCopies, 2u);
  }
}

TEST(EncodeRow, BandsCarryRedInMagentaAndYellowBlackInK) {
  std::vector<Rgb> pixels(16, Rgb{255, 255, 255});
  pixels[0] = {0, 0, 0};
  pixels[8] = {255, 0, 0};
  std::vector<uint8_t> out(8, 0xEE);
  encodeRow(pixels, 0, true, out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0, 0, 0, 0x80, 0, 0x80, 0x80, 0}));
  std::vector<uint8_t> mono(2, 0xEE);
  encodeRow(pixels, 0, false, mono);
  EXPECT_EQ(mono, (std::vector<uint8_t>{0x80, 0x80}));
}

}  // namespace
