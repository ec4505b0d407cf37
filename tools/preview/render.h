// Draws a receipt model as a picture of the paper roll and writes it as PNG.
//
// The paper is white and at least `paperWidthDots` wide (wider when an image
// or logo is wider, never clipped), one pixel per printer dot, with a grey
// margin on its right for remarks. Black dots are black, second-colour dots
// red; a dot set in both planes is drawn black. The paper advances by each
// raster band's rows (doubled for GS v 0 double height), by kLineHeight per
// text line (12 x 24 dot character cells), by each logo's height, and by
// a cut's feed plus a kCutGap dot gap that only the preview adds. A logo
// stored in the printer is drawn as its dots (scaled as printed), one that
// is not as a box. Everything the printer does not print itself is drawn in
// blue: logo boxes, cut lines, and labels in the margin (drawer kicks, cuts,
// stored logos, notes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/preview/receipt.h"

namespace preview {

// Palette indexes of the canvas.
enum class Ink : uint8_t {
  Paper,       // white
  Black,       // black dots
  Red,         // second-colour dots
  Margin,      // the grey strip beside the paper
  Annotation,  // what the preview adds: boxes, cut lines, labels
  Alert,       // notes on a cancelled job or a decode error
};

struct Rgb {
  uint8_t r, g, b;
  bool operator==(const Rgb&) const = default;
};

// The colour of each Ink, in Ink order.
constexpr Rgb kPalette[] = {
    {255, 255, 255}, {0, 0, 0}, {220, 0, 0}, {230, 230, 230}, {0, 90, 200}, {230, 110, 0},
};

constexpr uint32_t kCellWidth = 12;     // dots per character cell (font A)
constexpr uint32_t kCellHeight = 24;    // dots per character cell
constexpr uint32_t kLineHeight = 34;    // paper advance per text line: 1/6 inch at 203 dpi
constexpr uint32_t kTopMargin = 8;      // blank paper above the first item
constexpr uint32_t kBottomMargin = 16;  // blank paper below the last item
constexpr uint32_t kCutGap = 8;         // preview-only gap below a cut line
constexpr uint32_t kMarginWidth = 296;  // grey strip right of the paper
constexpr uint32_t kLogoWidth = 256;    // logo placeholder box at scale 1
constexpr uint32_t kLogoHeight = 96;

// The largest picture drawn by default: 256 Mi pixels, one byte each.
constexpr uint64_t kMaxCanvasPixels = uint64_t{256} << 20;

struct RenderOptions {
  uint32_t paperWidthDots = 576;  // 576 for 80 mm paper, 384 for 58 mm
  // A picture of more pixels is refused, not drawn. A few bytes can describe
  // a huge one (an image 65535 bytes wide), so callers short of memory set less.
  uint64_t maxPixels = kMaxCanvasPixels;
};

// Where an item of the receipt was drawn, in canvas pixels. Labels in the
// margin are not included.
struct Placement {
  size_t item = 0;  // index into Receipt::items
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

// The drawn picture: one palette index per pixel, rows top to bottom.
struct Canvas {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t paperWidth = 0;  // the paper spans x = 0 .. paperWidth - 1
  std::vector<uint8_t> pixels;
  std::vector<Placement> placements;

  // The ink at (x, y); both must be inside the canvas.
  Ink at(uint32_t x, uint32_t y) const { return static_cast<Ink>(pixels[size_t{y} * width + x]); }
};

// Draws `receipt` into `canvas`. Returns false, with a message in `error`,
// when the picture would be larger than `options.maxPixels` or there is not
// enough memory for it.
bool renderReceipt(const Receipt& receipt, const RenderOptions& options, Canvas& canvas, std::string& error);

// Writes `canvas` as an 8-bit palette PNG to `path` ("-" for standard
// output). Returns false, with a message in `error`, when it cannot.
bool writePng(const Canvas& canvas, const std::string& path, std::string& error);

}  // namespace preview
