// The raster pages the prefilter reads and the pages it writes. It reads what
// the RIPs produce for our PPDs (8-bit RGB) and, so that a job sent as raster
// still prints, the other common 1-bit and 8-bit layouts; each input row is
// decoded to RGB. It writes either a two-colour page, 1-bit banded CMYK in
// which each row is four bands C, M, Y, K of (width + 7) / 8 bytes (red in M
// and Y, black in K, C empty), or a 1-bit black page (colour space K, 1 = a
// printed dot).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "image/separate.h"

// How an input page stores its dots.
enum class InputLayout : uint8_t {
  Gray8,       // 8-bit, one channel, 255 = white (W, SW)
  Black8,      // 8-bit, one channel, 255 = black (K)
  Rgb8,        // 8-bit chunky RGB (RGB, sRGB, AdobeRGB)
  Cmy8,        // 8-bit chunky CMY
  Cmyk8,       // 8-bit chunky CMYK
  Gray1,       // 1-bit, 1 = white (W, SW)
  Black1,      // 1-bit, 1 = black (K)
  CmykBanded1, // 1-bit banded CMYK, the filter's own two-colour layout
};

// Largest page the prefilter takes: enough for a 3276 mm roll or an A3 page
// at 600 dpi, small enough that a damaged header cannot ask for gigabytes.
constexpr uint32_t kMaxWidth = 16384;
constexpr uint32_t kMaxHeight = 1u << 20;

// The layout of a page, or false with a reason in `why` when the prefilter
// cannot read it (unsupported colour space or depth, sizes that disagree).
bool inputLayoutOf(const cups_page_header2_t& header, InputLayout& layout, std::string& why);

// Decodes one input row (cupsBytesPerLine bytes) into header.cupsWidth RGB
// pixels.
void decodeRow(InputLayout layout, std::span<const uint8_t> row, std::span<Rgb> pixels);

// The header of the output page for an input page: the same page, 1 bit per
// colour, two-colour banded CMYK or black only.
cups_page_header2_t outputHeader(const cups_page_header2_t& input, bool twoColour);

// Converts one decoded row into the output row (outputHeader's
// cupsBytesPerLine bytes), dithered from column x0 of the pattern on.
void encodeRow(std::span<const Rgb> pixels, uint32_t y, bool twoColour, std::span<uint8_t> out, uint32_t x0 = 0);
