// A small bitmap font for pictures the tools and the Printer Application
// draw themselves (the previewer's receipts, the test receipt): 5 x 8 dot
// glyphs (7 above the baseline, one for descenders) for the printable ASCII
// characters 20-7E, and a hollow box that stands for every other byte.
#pragma once

#include <array>
#include <cstdint>

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 8;

// The glyph of `ch` as five columns, left to right; bit 0 of each column is
// the top dot. Bytes outside 20-7E get the placeholder box.
const std::array<uint8_t, kGlyphWidth>& glyphColumns(uint8_t ch);

