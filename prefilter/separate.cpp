// Colour separation and ordered dithering for the black-and-red planes; see
// separate.h for the ink model.
#include "prefilter/separate.h"

#include <algorithm>
#include <array>

uint8_t toneStretch(int amount) {
  int stretched = ((amount - kLightCut) * 255 + (255 - kLightCut - kDarkCut) / 2) /
                  (255 - kLightCut - kDarkCut);
  return static_cast<uint8_t>(std::clamp(amount <= kLightCut ? 0 : stretched, 0, 255));
}

Coverage separate(uint8_t r, uint8_t g, uint8_t b) {
  // Luminance, weights 77/150/29 out of 256.
  int luma = (77 * r + 150 * g + 29 * b + 128) >> 8;
  // Red ink shows as red standing above both green and blue.
  int maxGb = std::max(g, b);
  int excess = r > maxGb ? r - maxGb : 0;
  // Red ink darkens the page as much as 70% of its own amount of black would
  // (red's luminance is 30% of white's); the darkness it leaves is black ink.
  int black = std::max(0, 255 - luma - ((179 * excess + 128) >> 8));
  // How pure a red the pixel is, independent of how dark it is.
  int purity = r > 0 ? (excess * 255 + r / 2) / r : 0;
  uint8_t k = toneStretch(black);
  int red = (toneStretch(purity) * (255 - k) + 127) / 255;
  return Coverage{k, static_cast<uint8_t>(red)};
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

void separateRow(std::span<const Rgb> pixels, uint32_t y, std::span<uint8_t> black,
                 std::span<uint8_t> red) {
  size_t bytes = (pixels.size() + 7) / 8;
  std::fill_n(black.begin(), bytes, uint8_t{0});
  std::fill_n(red.begin(), bytes, uint8_t{0});
  for (uint32_t x = 0; x < pixels.size(); ++x) {
    Coverage c = separate(pixels[x].r, pixels[x].g, pixels[x].b);
    int threshold = ditherThreshold(x, y);
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

void blackRow(std::span<const Rgb> pixels, uint32_t y, std::span<uint8_t> black) {
  std::fill_n(black.begin(), (pixels.size() + 7) / 8, uint8_t{0});
  for (uint32_t x = 0; x < pixels.size(); ++x) {
    uint8_t amount = blackOnly(separate(pixels[x].r, pixels[x].g, pixels[x].b));
    if (amount > ditherThreshold(x, y)) black[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
}
