// Receipt drawing in two passes: layout (each item's place on the paper and
// each label's place in the margin, which fixes the canvas size), then
// painting into a palette canvas, which libpng's simplified API writes out.
#include "tools/preview/render.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <type_traits>

#include "image/font.h"

namespace preview {
namespace {

constexpr uint32_t kPaperGap = 8;    // grey between paper and labels
constexpr uint32_t kLabelScale = 2;  // label glyphs: 10 x 16 dots
constexpr uint32_t kLabelCellWidth = kGlyphWidth * kLabelScale + 1;
constexpr uint32_t kLabelCellHeight = kGlyphHeight * kLabelScale + 2;
constexpr uint32_t kLabelSpacing = 4;
constexpr uint32_t kLabelColumns = (kMarginWidth - kPaperGap - 8) / kLabelCellWidth;
constexpr uint32_t kTextScaleX = 2;  // 5 x 8 glyphs drawn 10 x 24 in a 12 x 24 cell
constexpr uint32_t kTextScaleY = 3;
constexpr uint32_t kDash = 12;  // cut line: 12 dots on, 6 off
constexpr uint32_t kDashGap = 6;

// A margin label and the paper row it belongs to.
struct Label {
  uint32_t y = 0;
  Ink ink = Ink::Annotation;
  std::string text;
};

// "41" for 0x41.
std::string hex(uint8_t b) {
  char out[4];
  std::snprintf(out, sizeof out, "%02X", b);
  return out;
}

// The text inside a logo box.
std::string logoLabel(const LogoBox& logo) {
  if (logo.kind == LogoBox::Kind::Numbered) {
    return "LOGO " + std::to_string(logo.number) + " (FS p, mode " + std::to_string(logo.mode) + ")";
  }
  bool printable = std::all_of(logo.key.begin(), logo.key.end(), [](uint8_t b) { return b > 0x20 && b < 0x7F; });
  std::string key = printable ? std::string(logo.key.begin(), logo.key.end())
                              : hex(logo.key[0]) + " " + hex(logo.key[1]);
  return "LOGO key " + key + " x" + std::to_string(logo.scaleX) + " y" + std::to_string(logo.scaleY);
}

// The margin label of a cut.
std::string cutLabel(const CutMark& cut) {
  std::string out = std::string("CUT ") + (cut.partial ? "partial" : "full") + " m=" + hex(cut.mode);
  if (cut.mode == 0x41 || cut.mode == 0x42) out += " n=" + std::to_string(cut.feed);
  return out;
}

// The margin label of a drawer kick.
std::string drawerLabel(const DrawerMark& kick) {
  return "DRAWER " + std::to_string(kick.drawer) + " KICK " + std::to_string(kick.onTime * 2) + " ms";
}

// Splits a label into lines of at most kLabelColumns characters, at spaces
// where it can.
std::vector<std::string> wrapLabel(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (text.size() - start > kLabelColumns) {
    size_t cut = text.rfind(' ', start + kLabelColumns);
    if (cut == std::string::npos || cut <= start) {
      lines.push_back(text.substr(start, kLabelColumns));
      start += kLabelColumns;
    } else {
      lines.push_back(text.substr(start, cut - start));
      start = cut + 1;
    }
  }
  lines.push_back(text.substr(start));
  return lines;
}

// Size of an item on the paper: width and the paper advance.
struct Extent {
  uint32_t width = 0;
  uint32_t advance = 0;
};

Extent extentOf(const ItemBody& body) {
  return std::visit(
      [](const auto& item) -> Extent {
        using T = std::decay_t<decltype(item)>;
        if constexpr (std::is_same_v<T, RasterBand>) {
          return {item.widthDots * item.scaleX, item.rows * item.scaleY};
        } else if constexpr (std::is_same_v<T, TextLine>) {
          return {static_cast<uint32_t>(item.cells.size()) * kCellWidth, kLineHeight};
        } else if constexpr (std::is_same_v<T, LogoBox>) {
          if (item.image) return {item.image->widthDots * item.scaleX, item.image->rows * item.scaleY};
          return {kLogoWidth * item.scaleX, kLogoHeight * item.scaleY};
        } else if constexpr (std::is_same_v<T, CutMark>) {
          return {0, item.feed + kCutGap};
        } else {
          return {0, 0};  // drawer kicks and notes take no paper
        }
      },
      body);
}

// Draws receipts into a palette canvas.
class Painter {
 public:
  explicit Painter(Canvas& canvas) : c_(canvas) {}

  void fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Ink ink) {
    uint32_t x1 = std::min(c_.width, x + w);
    uint32_t y1 = std::min(c_.height, y + h);
    for (uint32_t yy = y; yy < y1; ++yy) {
      for (uint32_t xx = x; xx < x1; ++xx) c_.pixels[size_t{yy} * c_.width + xx] = uint8_t(ink);
    }
  }

  // Draws one glyph with its top-left dot at (x, y), each dot sx x sy pixels.
  void glyphAt(uint8_t ch, uint32_t x, uint32_t y, uint32_t sx, uint32_t sy, Ink ink) {
    const auto& columns = glyphColumns(ch);
    for (int col = 0; col < kGlyphWidth; ++col) {
      for (int row = 0; row < kGlyphHeight; ++row) {
        if (columns[col] & (1u << row)) fill(x + uint32_t(col) * sx, y + uint32_t(row) * sy, sx, sy, ink);
      }
    }
  }

  // Draws a label string in the label font starting at (x, y).
  void label(const std::string& text, uint32_t x, uint32_t y, Ink ink) {
    for (char ch : text) {
      glyphAt(static_cast<uint8_t>(ch), x, y, kLabelScale, kLabelScale, ink);
      x += kLabelCellWidth;
    }
  }

  // Draws a black plane and a colour plane (or none) of `rows` rows, each
  // dot sx x sy pixels.
  void planes(const std::vector<uint8_t>& blackPlane, const std::vector<uint8_t>& colourPlane, uint32_t widthDots,
              uint32_t bytesPerRow, uint32_t rows, uint32_t x0, uint32_t y0, uint32_t sx, uint32_t sy) {
    for (uint32_t r = 0; r < rows; ++r) {
      const uint8_t* black = blackPlane.data() + size_t{r} * bytesPerRow;
      const uint8_t* colour = colourPlane.empty() ? nullptr : colourPlane.data() + size_t{r} * bytesPerRow;
      for (uint32_t d = 0; d < widthDots; ++d) {
        uint8_t mask = uint8_t(0x80 >> (d & 7));
        Ink ink = Ink::Paper;
        // Where both planes have a dot, black wins.
        if (black[d >> 3] & mask) {
          ink = Ink::Black;
        } else if (colour && (colour[d >> 3] & mask)) {
          ink = Ink::Red;
        }
        if (ink != Ink::Paper) fill(x0 + d * sx, y0 + r * sy, sx, sy, ink);
      }
    }
  }

  void band(const RasterBand& b, uint32_t x0, uint32_t y0) {
    planes(b.black, b.colour, b.widthDots, b.bytesPerRow, b.rows, x0, y0, b.scaleX, b.scaleY);
  }

  void text(const TextLine& line, uint32_t x0, uint32_t y0) {
    for (size_t i = 0; i < line.cells.size(); ++i) {
      glyphAt(static_cast<uint8_t>(line.cells[i]), x0 + uint32_t(i) * kCellWidth + 1, y0, kTextScaleX,
              kTextScaleY, Ink::Black);
    }
  }

  // A stored logo as its dots, one not stored as a labelled box.
  void logo(const LogoBox& logo, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
    if (const StoredLogo* image = logo.image.get()) {
      return planes(image->black, image->colour, image->widthDots, image->bytesPerRow, image->rows, x0, y0,
                    logo.scaleX, logo.scaleY);
    }
    constexpr uint32_t kFrame = 2;
    fill(x0, y0, w, kFrame, Ink::Annotation);
    fill(x0, y0 + h - kFrame, w, kFrame, Ink::Annotation);
    fill(x0, y0, kFrame, h, Ink::Annotation);
    fill(x0 + w - kFrame, y0, kFrame, h, Ink::Annotation);
    std::string text = logoLabel(logo);
    uint32_t textWidth = uint32_t(text.size()) * kLabelCellWidth;
    uint32_t tx = x0 + (w > textWidth ? (w - textWidth) / 2 : kFrame);
    label(text, tx, y0 + (h - kLabelCellHeight) / 2, Ink::Annotation);
  }

  // A dashed line across the paper at row y.
  void cutLine(uint32_t y) {
    for (uint32_t x = 0; x < c_.paperWidth; x += kDash + kDashGap) {
      fill(x, y, std::min(kDash, c_.paperWidth - x), 2, Ink::Annotation);
    }
  }

 private:
  Canvas& c_;
};

// The x of an item `width` wide on paper `paperWidth` wide.
uint32_t justifiedX(uint8_t justification, uint32_t width, uint32_t paperWidth) {
  if (width >= paperWidth) return 0;
  if (justification == 1) return (paperWidth - width) / 2;
  if (justification == 2) return paperWidth - width;
  return 0;
}

}  // namespace

bool renderReceipt(const Receipt& receipt, const RenderOptions& options, Canvas& canvas, std::string& error) {
  // Layout: the paper width, each item's place, each label's row.
  uint32_t paperWidth = std::max<uint32_t>(options.paperWidthDots, 1);
  for (const ReceiptItem& item : receipt.items) paperWidth = std::max(paperWidth, extentOf(item.body).width);

  std::vector<Placement> placements;
  std::vector<Label> labels;
  uint64_t y = kTopMargin;
  uint64_t labelBottom = 0;
  // Labels stack down the margin, never overlapping.
  auto addLabel = [&](uint64_t at, Ink ink, const std::string& text) {
    uint64_t top = std::max(at, labelBottom);
    for (const std::string& line : wrapLabel(text)) {
      labels.push_back(Label{uint32_t(std::min<uint64_t>(top, UINT32_MAX)), ink, line});
      top += kLabelCellHeight;
    }
    labelBottom = top + kLabelSpacing;
  };
  for (size_t i = 0; i < receipt.items.size(); ++i) {
    const ReceiptItem& item = receipt.items[i];
    Extent extent = extentOf(item.body);
    uint32_t x = justifiedX(item.justification, extent.width, paperWidth);
    if (const auto* cut = std::get_if<CutMark>(&item.body)) {
      uint64_t lineY = y + cut->feed + kCutGap / 2 - 1;
      addLabel(lineY >= kLabelCellHeight / 2 ? lineY - kLabelCellHeight / 2 : 0, Ink::Annotation, cutLabel(*cut));
    } else if (const auto* kick = std::get_if<DrawerMark>(&item.body)) {
      addLabel(y, Ink::Annotation, drawerLabel(*kick));
    } else if (const auto* note = std::get_if<Note>(&item.body)) {
      addLabel(y, Ink::Alert, note->text);
    } else if (const auto* logo = std::get_if<LogoBox>(&item.body); logo && logo->image) {
      addLabel(y, Ink::Annotation, logoLabel(*logo));
    }
    placements.push_back(Placement{i, x, uint32_t(std::min<uint64_t>(y, UINT32_MAX)), extent.width, extent.advance});
    y += extent.advance;
  }
  uint64_t height = std::max(y + kBottomMargin, labelBottom + kLabelSpacing);
  uint64_t width = uint64_t{paperWidth} + kMarginWidth;
  std::string size = std::to_string(width) + " x " + std::to_string(height) + " dots";
  if (width * height > options.maxPixels) {
    error = "preview too large to draw (" + size + "); use --list";
    return false;
  }

  // Painting.
  try {
    canvas.pixels.assign(size_t(width * height), uint8_t(Ink::Paper));
  } catch (const std::bad_alloc&) {
    canvas.pixels = {};
    error = "not enough memory to draw the preview (" + size + "); use --list";
    return false;
  }
  canvas.width = uint32_t(width);
  canvas.height = uint32_t(height);
  canvas.paperWidth = paperWidth;
  canvas.placements = std::move(placements);
  Painter paint(canvas);
  paint.fill(paperWidth, 0, kMarginWidth, canvas.height, Ink::Margin);
  for (const Placement& place : canvas.placements) {
    const ItemBody& body = receipt.items[place.item].body;
    if (const auto* band = std::get_if<RasterBand>(&body)) {
      paint.band(*band, place.x, place.y);
    } else if (const auto* line = std::get_if<TextLine>(&body)) {
      paint.text(*line, place.x, place.y);
    } else if (const auto* logo = std::get_if<LogoBox>(&body)) {
      paint.logo(*logo, place.x, place.y, place.width, place.height);
    } else if (const auto* cut = std::get_if<CutMark>(&body)) {
      paint.cutLine(place.y + cut->feed + kCutGap / 2 - 1);
    }
  }
  for (const Label& l : labels) paint.label(l.text, paperWidth + kPaperGap, l.y, l.ink);
  return true;
}

bool writePng(const Canvas& canvas, const std::string& path, std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = canvas.width;
  image.height = canvas.height;
  image.format = PNG_FORMAT_RGB_COLORMAP;
  image.colormap_entries = std::size(kPalette);
  static_assert(sizeof(Rgb) == 3);
  int ok = path == "-" ? png_image_write_to_stdio(&image, stdout, 0, canvas.pixels.data(), 0, kPalette)
                       : png_image_write_to_file(&image, path.c_str(), 0, canvas.pixels.data(), 0, kPalette);
  if (!ok) {
    error = "cannot write " + (path == "-" ? std::string("PNG to standard output") : path) + ": " +
            image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

}  // namespace preview
