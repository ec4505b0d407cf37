// Input layouts, row decoding and the output page format of the prefilter;
// see raster_format.h.
#include "image/raster_format.h"

#include <algorithm>
#include <cstring>

namespace {

// Bytes one row of `layout` needs for `width` dots.
uint64_t rowBytes(InputLayout layout, uint32_t width) {
  uint64_t w = width;
  switch (layout) {
    case InputLayout::Gray8:
    case InputLayout::Black8: return w;
    case InputLayout::Rgb8:
    case InputLayout::Cmy8: return 3 * w;
    case InputLayout::Cmyk8: return 4 * w;
    case InputLayout::Gray1:
    case InputLayout::Black1: return (w + 7) / 8;
    case InputLayout::CmykBanded1: return 4 * ((w + 7) / 8);
  }
  return 0;
}

bool isGray(unsigned space) { return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW; }

bool isRgb(unsigned space) {
  return space == CUPS_CSPACE_RGB || space == CUPS_CSPACE_SRGB || space == CUPS_CSPACE_ADOBERGB;
}

// The integer an enum field of the header holds. A damaged header may hold a
// value outside the enum's range, so the field is read as its bytes, never
// loaded as the enum.
template <typename Enum>
unsigned rawValue(const Enum& field) {
  static_assert(sizeof(Enum) == sizeof(unsigned));
  unsigned value;
  std::memcpy(&value, &field, sizeof value);
  return value;
}

bool bit(std::span<const uint8_t> bytes, uint32_t x) {
  return (bytes[x / 8] & (0x80 >> (x % 8))) != 0;
}

// RGB of a subtractive colour; each amount 0..255, 255 = full ink.
Rgb fromInks(int c, int m, int y, int k) {
  auto channel = [k](int ink) { return static_cast<uint8_t>((255 - ink) * (255 - k) / 255); };
  return Rgb{channel(c), channel(m), channel(y)};
}

}  // namespace

bool inputLayoutOf(const cups_page_header2_t& h, InputLayout& layout, std::string& why) {
  const unsigned space = rawValue(h.cupsColorSpace);
  const unsigned order = rawValue(h.cupsColorOrder);
  const bool banded = order == CUPS_ORDER_BANDED;
  const bool chunky = order == CUPS_ORDER_CHUNKED;
  bool known = true;
  if (h.cupsBitsPerColor == 8 && chunky && h.cupsBitsPerPixel == 8 && isGray(space)) {
    layout = InputLayout::Gray8;
  } else if (h.cupsBitsPerColor == 8 && chunky && h.cupsBitsPerPixel == 8 &&
             space == CUPS_CSPACE_K) {
    layout = InputLayout::Black8;
  } else if (h.cupsBitsPerColor == 8 && chunky && h.cupsBitsPerPixel == 24 && isRgb(space)) {
    layout = InputLayout::Rgb8;
  } else if (h.cupsBitsPerColor == 8 && chunky && h.cupsBitsPerPixel == 24 &&
             space == CUPS_CSPACE_CMY) {
    layout = InputLayout::Cmy8;
  } else if (h.cupsBitsPerColor == 8 && chunky && h.cupsBitsPerPixel == 32 &&
             space == CUPS_CSPACE_CMYK) {
    layout = InputLayout::Cmyk8;
  } else if (h.cupsBitsPerColor == 1 && chunky && h.cupsBitsPerPixel == 1 && isGray(space)) {
    layout = InputLayout::Gray1;
  } else if (h.cupsBitsPerColor == 1 && chunky && h.cupsBitsPerPixel == 1 &&
             space == CUPS_CSPACE_K) {
    layout = InputLayout::Black1;
  } else if (h.cupsBitsPerColor == 1 && banded && space == CUPS_CSPACE_CMYK) {
    layout = InputLayout::CmykBanded1;
  } else {
    known = false;
  }
  if (!known) {
    why = "unsupported raster format (colour space " + std::to_string(space) + ", " +
          std::to_string(h.cupsBitsPerColor) + " bits per colour, " +
          std::to_string(h.cupsBitsPerPixel) + " bits per pixel, colour order " +
          std::to_string(order) + ")";
    return false;
  }
  if (h.cupsWidth == 0 || h.cupsHeight == 0) {
    why = "empty page (" + std::to_string(h.cupsWidth) + " x " + std::to_string(h.cupsHeight) +
          " dots)";
    return false;
  }
  if (h.cupsWidth > kMaxWidth || h.cupsHeight > kMaxHeight) {
    why = "page too large (" + std::to_string(h.cupsWidth) + " x " +
          std::to_string(h.cupsHeight) + " dots)";
    return false;
  }
  // Chunky rows may carry a little padding; banded rows are four exact bands.
  const uint64_t needed = rowBytes(layout, h.cupsWidth);
  const uint64_t slack = layout == InputLayout::CmykBanded1 ? 0 : 64;
  if (h.cupsBytesPerLine < needed || h.cupsBytesPerLine > needed + slack) {
    why = "bytes per line (" + std::to_string(h.cupsBytesPerLine) + ") do not match a width of " +
          std::to_string(h.cupsWidth) + " dots";
    return false;
  }
  return true;
}

static_assert(sizeof(Rgb) == 3, "RGB rows are copied into pixels as they are");

// One loop per layout, so the layout is chosen once per row.
void decodeRow(InputLayout layout, std::span<const uint8_t> row, std::span<Rgb> pixels) {
  const auto width = static_cast<uint32_t>(pixels.size());
  const uint32_t band = (width + 7) / 8;
  const Rgb white{255, 255, 255}, black{0, 0, 0};
  switch (layout) {
    case InputLayout::Gray8:
      for (uint32_t x = 0; x < width; ++x) pixels[x] = Rgb{row[x], row[x], row[x]};
      break;
    case InputLayout::Black8:
      for (uint32_t x = 0; x < width; ++x) {
        auto v = static_cast<uint8_t>(255 - row[x]);
        pixels[x] = Rgb{v, v, v};
      }
      break;
    case InputLayout::Rgb8:
      std::memcpy(pixels.data(), row.data(), 3 * size_t{width});
      break;
    case InputLayout::Cmy8:
      for (uint32_t x = 0; x < width; ++x) pixels[x] = fromInks(row[3 * x], row[3 * x + 1], row[3 * x + 2], 0);
      break;
    case InputLayout::Cmyk8:
      for (uint32_t x = 0; x < width; ++x) {
        pixels[x] = fromInks(row[4 * x], row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]);
      }
      break;
    case InputLayout::Gray1:
      for (uint32_t x = 0; x < width; ++x) pixels[x] = bit(row, x) ? white : black;
      break;
    case InputLayout::Black1:
      for (uint32_t x = 0; x < width; ++x) pixels[x] = bit(row, x) ? black : white;
      break;
    case InputLayout::CmykBanded1:
      for (uint32_t x = 0; x < width; ++x) {
        auto ink = [&](uint32_t plane) { return bit(row.subspan(plane * band, band), x) ? 255 : 0; };
        pixels[x] = fromInks(ink(0), ink(1), ink(2), ink(3));
      }
      break;
  }
}

cups_page_header2_t outputHeader(const cups_page_header2_t& input, bool twoColour) {
  cups_page_header2_t out = input;
  const uint32_t band = (input.cupsWidth + 7) / 8;
  out.cupsBitsPerColor = 1;
  out.cupsBitsPerPixel = 1;
  if (twoColour) {
    out.cupsColorOrder = CUPS_ORDER_BANDED;
    out.cupsColorSpace = CUPS_CSPACE_CMYK;
    out.cupsNumColors = 4;
    out.cupsBytesPerLine = 4 * band;
  } else {
    out.cupsColorOrder = CUPS_ORDER_CHUNKED;
    out.cupsColorSpace = CUPS_CSPACE_K;
    out.cupsNumColors = 1;
    out.cupsBytesPerLine = band;
  }
  return out;
}

void encodeRow(std::span<const Rgb> pixels, uint32_t y, bool twoColour, std::span<uint8_t> out, uint32_t x0) {
  const size_t band = (pixels.size() + 7) / 8;
  if (!twoColour) {
    blackRow(pixels, y, out.first(band), x0);
    return;
  }
  // Bands C, M, Y, K: red is magenta plus yellow, black is K alone.
  std::span<uint8_t> magenta = out.subspan(band, band);
  separateRow(pixels, y, out.subspan(3 * band, band), magenta, x0);
  std::fill_n(out.begin(), band, uint8_t{0});
  std::copy(magenta.begin(), magenta.end(), out.begin() + static_cast<std::ptrdiff_t>(2 * band));
}
