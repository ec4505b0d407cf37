// Tests of the black/red separation and the ordered dither: known colours
// first (including the off-white values an ICC conversion gives DeviceCMYK
// black and red), then properties checked over the whole colour cube.
#include "image/separate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

namespace {

struct KnownColour {
  const char* name;
  Rgb rgb;
  int blackMin, blackMax, redMin, redMax;
};

TEST(Separate, KnownColours) {
  const KnownColour cases[] = {
      {"white", {255, 255, 255}, 0, 0, 0, 0},
      {"black", {0, 0, 0}, 255, 255, 0, 0},
      {"red", {255, 0, 0}, 0, 0, 255, 255},
      {"DeviceCMYK black through ICC", {35, 31, 32}, 255, 255, 0, 0},
      {"DeviceCMYK red through ICC", {237, 28, 36}, 0, 0, 255, 255},
      {"paper noise", {250, 247, 250}, 0, 0, 0, 0},
      {"mid grey", {128, 128, 128}, 120, 150, 0, 0},
      {"dark red", {128, 0, 0}, 110, 150, 105, 145},
      {"pink", {255, 128, 128}, 0, 0, 120, 150},
      {"blue prints black", {0, 0, 255}, 255, 255, 0, 0},
      {"dark green prints black", {0, 128, 0}, 190, 235, 0, 0},
      {"yellow is too light to print", {255, 255, 0}, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    Coverage got = separate(c.rgb.r, c.rgb.g, c.rgb.b);
    EXPECT_GE(got.black, c.blackMin) << c.name;
    EXPECT_LE(got.black, c.blackMax) << c.name;
    EXPECT_GE(got.red, c.redMin) << c.name;
    EXPECT_LE(got.red, c.redMax) << c.name;
  }
}

TEST(Separate, NeverMoreInkThanADot) {
  for (int r = 0; r < 256; r += 3)
    for (int g = 0; g < 256; g += 3)
      for (int b = 0; b < 256; b += 3) {
        Coverage c = separate(static_cast<uint8_t>(r), static_cast<uint8_t>(g),
                              static_cast<uint8_t>(b));
        ASSERT_LE(c.black + c.red, 255) << r << " " << g << " " << b;
      }
}

// Greys, also with the few levels of channel noise a colour conversion
// leaves, must never put a dot into the red plane.
TEST(Separate, NearNeutralColoursGetNoRed) {
  for (int v = 0; v < 256; ++v)
    for (int dr = -4; dr <= 4; ++dr)
      for (int dg = -4; dg <= 4; dg += 4) {
        auto ch = [](int x) { return static_cast<uint8_t>(std::clamp(x, 0, 255)); };
        Coverage c = separate(ch(v + dr), ch(v + dg), ch(v));
        ASSERT_EQ(c.red, 0) << v << " " << dr << " " << dg;
      }
}

TEST(Separate, DarkerGreyNeverPrintsLighter) {
  int previous = 0;
  for (int v = 255; v >= 0; --v) {
    auto u = static_cast<uint8_t>(v);
    int black = separate(u, u, u).black;
    ASSERT_GE(black, previous) << v;
    previous = black;
  }
}

// Red blended with white keeps black out; red blended with black always adds
// up to a full dot, split between the two inks.
TEST(Separate, RedBlends) {
  int previous = 0;
  for (int v = 255; v >= 0; --v) {
    auto u = static_cast<uint8_t>(v);
    Coverage onWhite = separate(255, u, u);
    ASSERT_EQ(onWhite.black, 0) << v;
    ASSERT_GE(onWhite.red, previous) << v;
    previous = onWhite.red;
    Coverage onBlack = separate(u, 0, 0);
    ASSERT_EQ(onBlack.black + onBlack.red, 255) << v;
  }
}

TEST(Separate, BlackOnlyPrintsRedAsBlack) {
  EXPECT_EQ(blackOnly(separate(255, 0, 0)), 255);
  EXPECT_EQ(blackOnly(separate(237, 28, 36)), 255);
  EXPECT_EQ(blackOnly(separate(0, 0, 0)), 255);
  EXPECT_EQ(blackOnly(separate(255, 255, 255)), 0);
  EXPECT_EQ(blackOnly(Coverage{200, 55}), 255);
}

TEST(ToneStretch, CutsAndStretches) {
  EXPECT_EQ(toneStretch(0), 0);
  EXPECT_EQ(toneStretch(kLightCut), 0);
  EXPECT_GT(toneStretch(kLightCut + 1), 0);
  EXPECT_LT(toneStretch(255 - kDarkCut - 1), 255);
  EXPECT_EQ(toneStretch(255 - kDarkCut), 255);
  EXPECT_EQ(toneStretch(255), 255);
  for (int v = 1; v < 256; ++v) ASSERT_GE(toneStretch(v), toneStretch(v - 1)) << v;
}

TEST(Dither, ThresholdsCoverEveryLevelOncePerTile) {
  std::set<int> seen;
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x) {
      int t = ditherThreshold(x, y);
      EXPECT_EQ(t % 4, 2);
      EXPECT_EQ(ditherThreshold(x + 8, y + 16), t);
      seen.insert(t);
    }
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_EQ(*seen.begin(), 2);
  EXPECT_EQ(*seen.rbegin(), 254);
}

// Dots of one 8 x 8 tile of a flat colour.
int tileDots(Rgb colour, bool wantRed) {
  std::vector<Rgb> row(8, colour);
  std::vector<uint8_t> black(1), red(1);
  int dots = 0;
  for (uint32_t y = 0; y < 8; ++y) {
    separateRow(row, y, black, red);
    dots += __builtin_popcount(wantRed ? red[0] : black[0]);
  }
  return dots;
}

TEST(Dither, FlatColoursGiveTheirShareOfDots) {
  EXPECT_EQ(tileDots({0, 0, 0}, false), 64);
  EXPECT_EQ(tileDots({0, 0, 0}, true), 0);
  EXPECT_EQ(tileDots({255, 0, 0}, true), 64);
  EXPECT_EQ(tileDots({255, 0, 0}, false), 0);
  EXPECT_EQ(tileDots({255, 255, 255}, false) + tileDots({255, 255, 255}, true), 0);
  Coverage grey = separate(128, 128, 128);
  EXPECT_NEAR(tileDots({128, 128, 128}, false), grey.black * 64 / 255, 1);
  Coverage pink = separate(255, 128, 128);
  EXPECT_NEAR(tileDots({255, 128, 128}, true), pink.red * 64 / 255, 1);
}

TEST(Dither, RowsAreClearedPackedAndDisjoint) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> level(0, 255);
  for (uint32_t width : {1u, 8u, 13u, 576u}) {
    std::vector<Rgb> row(width);
    for (auto& p : row)
      p = Rgb{static_cast<uint8_t>(level(random)), static_cast<uint8_t>(level(random)),
              static_cast<uint8_t>(level(random))};
    size_t bytes = (width + 7) / 8;
    std::vector<uint8_t> black(bytes, 0xFF), red(bytes, 0xFF), mono(bytes, 0xFF);
    separateRow(row, 3, black, red);
    blackRow(row, 3, mono);
    for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(black[i] & red[i], 0) << width << " " << i;
    // Dots past the width stay clear.
    auto pad = static_cast<uint8_t>(0xFF >> (width % 8 == 0 ? 8 : width % 8));
    EXPECT_EQ(black[bytes - 1] & pad, 0);
    EXPECT_EQ(red[bytes - 1] & pad, 0);
    EXPECT_EQ(mono[bytes - 1] & pad, 0);
    // Black-only output has a dot wherever the two-colour output has one.
    for (size_t i = 0; i < bytes; ++i) EXPECT_EQ(mono[i], black[i] | red[i]) << width << " " << i;
  }
}

}  // namespace

namespace {

// The separation written out with its divisions, as the ink model states it.
Coverage referenceSeparate(int r, int g, int b) {
  int luma = (77 * r + 150 * g + 29 * b + 128) >> 8;
  int maxGb = std::max(g, b);
  int excess = r > maxGb ? r - maxGb : 0;
  int black = std::max(0, 255 - luma - ((179 * excess + 128) >> 8));
  int purity = r > 0 ? (excess * 255 + r / 2) / r : 0;
  uint8_t k = toneStretch(black);
  return Coverage{k, static_cast<uint8_t>((toneStretch(purity) * (255 - k) + 127) / 255)};
}

}  // namespace

// Dots of `row` (row y of a page) dithered as the reference separation says.
void expectDotsOfReference(const std::vector<Rgb>& row, uint32_t y) {
  size_t bytes = (row.size() + 7) / 8;
  std::vector<uint8_t> black(bytes), red(bytes), gray(bytes);
  separateRow(row, y, black, red);
  blackRow(row, y, gray);
  for (uint32_t x = 0; x < row.size(); ++x) {
    Coverage c = referenceSeparate(row[x].r, row[x].g, row[x].b);
    int threshold = ditherThreshold(x, y);
    int want = (c.black > threshold ? 1 : 0) | (c.black <= threshold && c.black + c.red > threshold ? 2 : 0) |
               (blackOnly(c) > threshold ? 4 : 0);
    int bit = 7 - x % 8;
    int got = (black[x / 8] >> bit & 1) | (red[x / 8] >> bit & 1) << 1 | (gray[x / 8] >> bit & 1) << 2;
    ASSERT_EQ(got, want) << "dot " << x << " of row " << y;
  }
}

TEST(Separate, TablesAndRowsAgreeWithTheArithmetic) {
  // Every red and green level, blue in steps of 3 (and 255): 4.4 million
  // colours, one at a time and in rows of 573 dots (the rows work sixteen
  // dots at a time where the processor can, and end in a part of sixteen).
  std::vector<Rgb> row;
  uint32_t y = 0;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; b = b == 255 ? 256 : std::min(b + 3, 255)) {
        Coverage want = referenceSeparate(r, g, b);
        Coverage got = separate(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
        ASSERT_TRUE(want.black == got.black && want.red == got.red) << r << " " << g << " " << b;
        row.push_back(Rgb{static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
        if (row.size() < 573) continue;
        ASSERT_NO_FATAL_FAILURE(expectDotsOfReference(row, y++));
        row.clear();
      }
    }
  }
  expectDotsOfReference(row, y);
}

TEST(Dither, RowsMatchDotByDotSeparation) {
  // Rows of runs of a few colours (white among them), as receipts are, and
  // rows of noise: each dot as the separation of its own pixel decides.
  std::mt19937 rng(7);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<Rgb> pixels(1 + rng() % 700);
    Rgb colour{255, 255, 255};
    for (Rgb& p : pixels) {
      if (trial % 2 == 0 || rng() % 5 == 0) {
        colour = rng() % 3 == 0 ? Rgb{255, 255, 255}
                                : Rgb{static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
      }
      p = colour;
    }
    uint32_t y = static_cast<uint32_t>(trial);
    size_t bytes = (pixels.size() + 7) / 8;
    std::vector<uint8_t> black(bytes, 0xAA), red(bytes, 0x55), gray(bytes, 0x33);
    separateRow(pixels, y, black, red);
    blackRow(pixels, y, gray);
    for (uint32_t x = 0; x < pixels.size(); ++x) {
      Coverage c = referenceSeparate(pixels[x].r, pixels[x].g, pixels[x].b);
      int threshold = ditherThreshold(x, y);
      bool wantBlack = c.black > threshold;
      bool wantRed = !wantBlack && c.black + c.red > threshold;
      uint8_t mask = static_cast<uint8_t>(0x80 >> (x % 8));
      ASSERT_EQ((black[x / 8] & mask) != 0, wantBlack) << "trial " << trial << " dot " << x;
      ASSERT_EQ((red[x / 8] & mask) != 0, wantRed) << "trial " << trial << " dot " << x;
      ASSERT_EQ((gray[x / 8] & mask) != 0, blackOnly(c) > threshold) << "trial " << trial << " dot " << x;
    }
  }
}
