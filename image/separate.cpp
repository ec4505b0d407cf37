// Colour separation and ordered dithering for the black-and-red planes; see
// separate.h for the ink model.
#include "image/separate.h"

#include <algorithm>
#include <array>

#include "image/separate_wide.h"

uint8_t toneStretch(int amount) {
  int stretched = ((amount - kLightCut) * 255 + (255 - kLightCut - kDarkCut) / 2) /
                  (255 - kLightCut - kDarkCut);
  return static_cast<uint8_t>(std::clamp(amount <= kLightCut ? 0 : stretched, 0, 255));
}

namespace {

// The divisions of the separation, done once for every value they can take.
struct SeparationTables {
  uint8_t stretch[256];       // toneStretch of each amount
  uint8_t purity[256][256];   // [r][excess]: toneStretch of how pure a red the pixel is
  uint8_t red[256][256];      // [stretched purity][black]: the red amount
};

SeparationTables makeTables() {
  SeparationTables t{};
  for (int amount = 0; amount < 256; ++amount) t.stretch[amount] = toneStretch(amount);
  for (int r = 0; r < 256; ++r) {
    for (int excess = 0; excess <= r; ++excess) {
      int purity = r > 0 ? (excess * 255 + r / 2) / r : 0;
      t.purity[r][excess] = toneStretch(purity);
    }
  }
  for (int purity = 0; purity < 256; ++purity) {
    for (int k = 0; k < 256; ++k) t.red[purity][k] = static_cast<uint8_t>((purity * (255 - k) + 127) / 255);
  }
  return t;
}

const SeparationTables& tables() {
  static const SeparationTables kTables = makeTables();
  return kTables;
}

}  // namespace

Coverage separate(uint8_t r, uint8_t g, uint8_t b) {
  const SeparationTables& t = tables();
  // Luminance, weights 77/150/29 out of 256.
  int luma = (77 * r + 150 * g + 29 * b + 128) >> 8;
  // Red ink shows as red standing above both green and blue.
  int maxGb = std::max(g, b);
  int excess = r > maxGb ? r - maxGb : 0;
  // Red ink darkens the page as much as 70% of its own amount of black would
  // (red's luminance is 30% of white's); the darkness it leaves is black ink.
  int black = std::max(0, 255 - luma - ((179 * excess + 128) >> 8));
  // How pure a red the pixel is, independent of how dark it is, shares the
  // red that the black leaves.
  uint8_t k = t.stretch[black];
  return Coverage{k, t.red[t.purity[r][excess]][k]};
}

uint8_t blackOnly(Coverage c) {
  return static_cast<uint8_t>(std::min(255, c.black + c.red));
}

uint8_t ditherThreshold(uint32_t x, uint32_t y) {
  // Bayer's 8 x 8 ordered-dither matrix: each level adds one dot, spread as
  // evenly as the grid allows.
  static constexpr std::array<std::array<uint8_t, 8>, 8> kBayer = {{
      {0, 32, 8, 40, 2, 34, 10, 42},
      {48, 16, 56, 24, 50, 18, 58, 26},
      {12, 44, 4, 36, 14, 46, 6, 38},
      {60, 28, 52, 20, 62, 30, 54, 22},
      {3, 35, 11, 43, 1, 33, 9, 41},
      {51, 19, 59, 27, 49, 17, 57, 25},
      {15, 47, 7, 39, 13, 45, 5, 37},
      {63, 31, 55, 23, 61, 29, 53, 21},
  }};
  return static_cast<uint8_t>(kBayer[y % 8][x % 8] * 4 + 2);
}

namespace {

inline bool isWhite(const Rgb& p) {
  return (p.r & p.g & p.b) == 255;
}

inline bool sameColour(const Rgb& a, const Rgb& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}

// The dither thresholds of the first sixteen dots of row y, from column x0.
void rowThresholds(uint32_t y, uint32_t x0, uint8_t thresholds[16]) {
  for (uint32_t x = 0; x < 16; ++x) thresholds[x] = ditherThreshold(x + x0, y);
}

// The pixels' bytes, three a pixel (Rgb is three bytes, see raster_format.cpp).
const uint8_t* rgbBytes(std::span<const Rgb> pixels) {
  return reinterpret_cast<const uint8_t*>(pixels.data());
}

}  // namespace

// Paper white needs no ink and is skipped; a pixel of the same colour as the
// one before it reuses its separation (receipts are runs of few colours).
// Where the processor can, sixteen dots are worked out at once instead.
void separateRow(std::span<const Rgb> pixels, uint32_t y, std::span<uint8_t> black,
                 std::span<uint8_t> red, uint32_t x0) {
  size_t bytes = (pixels.size() + 7) / 8;
  if (wideSeparationAvailable()) {
    uint8_t thresholds[16];
    rowThresholds(y, x0, thresholds);
    separateRowWide(rgbBytes(pixels), pixels.size(), thresholds, black.data(), red.data());
    return;
  }
  std::fill_n(black.begin(), bytes, uint8_t{0});
  std::fill_n(red.begin(), bytes, uint8_t{0});
  Rgb last{255, 255, 255};
  Coverage c{0, 0};
  for (uint32_t x = 0; x < pixels.size(); ++x) {
    const Rgb& p = pixels[x];
    if (isWhite(p)) continue;
    if (!sameColour(p, last)) {
      c = separate(p.r, p.g, p.b);
      last = p;
    }
    int threshold = ditherThreshold(x + x0, y);
    auto mask = static_cast<uint8_t>(0x80 >> (x % 8));
    // One threshold for both inks: the dot is black below the black amount,
    // red in the band above it, so the two planes never share a dot.
    if (c.black > threshold) {
      black[x / 8] |= mask;
    } else if (c.black + c.red > threshold) {
      red[x / 8] |= mask;
    }
  }
}

void blackRow(std::span<const Rgb> pixels, uint32_t y, std::span<uint8_t> black, uint32_t x0) {
  if (wideSeparationAvailable()) {
    uint8_t thresholds[16];
    rowThresholds(y, x0, thresholds);
    separateRowWide(rgbBytes(pixels), pixels.size(), thresholds, black.data(), nullptr);
    return;
  }
  std::fill_n(black.begin(), (pixels.size() + 7) / 8, uint8_t{0});
  Rgb last{255, 255, 255};
  uint8_t amount = 0;
  for (uint32_t x = 0; x < pixels.size(); ++x) {
    const Rgb& p = pixels[x];
    if (isWhite(p)) continue;
    if (!sameColour(p, last)) {
      amount = blackOnly(separate(p.r, p.g, p.b));
      last = p;
    }
    if (amount > ditherThreshold(x + x0, y)) black[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
}
