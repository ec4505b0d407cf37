// Colour separation for a black-and-red thermal printer: how much black ink
// and how much red ink each RGB pixel needs, and the ordered dither that
// turns those amounts into dots of a black plane and a red plane that never
// share a dot. The printer has only paper white, black and red, so every
// pixel is read as a mix of the three: red ink leaves the red channel alone
// and takes away green and blue; black ink takes away all three.
#pragma once

#include <cstdint>
#include <span>

// Ink amounts of one pixel, 0 (none) to 255 (solid); black + red <= 255.
struct Coverage {
  uint8_t black;
  uint8_t red;
};

// Amounts below this are left white, above 255 - kDarkCut are printed solid,
// and the range between is stretched over 0..255. Colours converted by an
// ICC profile come out a little off their ideal values (DeviceCMYK black
// arrives as RGB 35 31 32, DeviceCMYK red as 237 28 36); the two cuts make
// such colours print as clean solid black and solid red.
constexpr int kLightCut = 32;
constexpr int kDarkCut = 48;

// One ink amount (0..255) after the light and dark cuts.
uint8_t toneStretch(int amount);

// The black and red amounts that reproduce the colour (r, g, b).
Coverage separate(uint8_t r, uint8_t g, uint8_t b);

// Black-only printing: red areas print black, at the same coverage.
uint8_t blackOnly(Coverage c);

// The dither threshold of dot (x, y), 2..254, from an 8 x 8 ordered matrix.
// A dot of coverage 255 is always printed, a dot of coverage 0 never.
uint8_t ditherThreshold(uint32_t x, uint32_t y);

struct Rgb {
  uint8_t r, g, b;
};

// Dithers row y of a page into a black plane row and a red plane row (1 bit
// per dot, most significant bit first, 1 = printed). Both rows must hold at
// least (pixels.size() + 7) / 8 bytes; they are cleared first. A dot is set
// in at most one of the two. The dither takes pixel x at column x + x0 of
// its pattern (x0 > 0 for a row of which the printer prints only a part).
void separateRow(std::span<const Rgb> pixels, uint32_t y, std::span<uint8_t> black,
                 std::span<uint8_t> red, uint32_t x0 = 0);

// Dithers row y of a page into one black plane row, red printed as black.
void blackRow(std::span<const Rgb> pixels, uint32_t y, std::span<uint8_t> black, uint32_t x0 = 0);
