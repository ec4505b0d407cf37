// Draws the test receipt and writes it as PNG; see test_page.h.
#include "app/test_page.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/localization.h"
#include "image/font.h"

namespace {

constexpr int kDpi = 203;
constexpr uint32_t kMargin = 16;  // blank dots above the title and below the last line

struct Colour {
  uint8_t r, g, b;
};
constexpr Colour kBlack{0, 0, 0};
constexpr Colour kRed{255, 0, 0};

// The options a receipt depends on, in the order the receipt lists them.
constexpr const char* kShownOptions[] = {"PageCut", "LogoPosition", "LogoImage", "CashDrawer", "CashDrawerOpen"};

// The x of millimetre `mm` from the left edge.
uint32_t dotsOfMm(double mm) { return static_cast<uint32_t>(std::lround(mm * kDpi / 25.4)); }

// Paints a growing picture: a pen position moves down as things are drawn.
class Canvas {
 public:
  explicit Canvas(uint32_t width) { picture_.width = width; }

  void fill(uint32_t x, uint32_t y, uint32_t w, uint32_t h, Colour c) {
    grow(y + h);
    for (uint32_t yy = y; yy < y + h; ++yy) {
      for (uint32_t xx = x; xx < std::min(x + w, picture_.width); ++xx) {
        uint8_t* dot = &picture_.rgb[(size_t{yy} * picture_.width + xx) * 3];
        dot[0] = c.r, dot[1] = c.g, dot[2] = c.b;
      }
    }
  }

  // Text in the bitmap font, each font dot `scale` x `scale`, at (x, y).
  void text(const std::string& s, uint32_t x, uint32_t y, uint32_t scale, Colour c) {
    for (char ch : s) {
      const auto& columns = glyphColumns(static_cast<uint8_t>(ch));
      for (uint32_t col = 0; col < kGlyphWidth; ++col) {
        for (uint32_t row = 0; row < kGlyphHeight; ++row) {
          if (columns[col] & (1u << row)) fill(x + col * scale, y + row * scale, scale, scale, c);
        }
      }
      x += (kGlyphWidth + 1) * scale;
    }
  }

  // Lines of text at the pen, wrapped at spaces to the width, then a gap.
  void paragraph(const std::string& s, uint32_t scale, Colour c = kBlack) {
    size_t perLine = std::max<size_t>(1, picture_.width / ((kGlyphWidth + 1) * scale));
    size_t start = 0;
    while (start < s.size()) {
      size_t end = std::min(s.size(), start + perLine);
      if (end < s.size()) {
        size_t space = s.rfind(' ', end);
        if (space != std::string::npos && space > start) end = space;
      }
      text(s.substr(start, end - start), 0, pen, scale, c);
      pen += (kGlyphHeight + 2) * scale;
      start = end < s.size() && s[end] == ' ' ? end + 1 : end;
    }
  }

  // Text centred across the width at the pen.
  void centred(const std::string& s, uint32_t scale, Colour c = kBlack) {
    auto width = static_cast<uint32_t>(s.size()) * (kGlyphWidth + 1) * scale;
    text(s, width < picture_.width ? (picture_.width - width) / 2 : 0, pen, scale, c);
    pen += (kGlyphHeight + 2) * scale;
  }

  uint32_t width() const { return picture_.width; }
  RgbPicture finish() {
    grow(pen + kMargin);
    return std::move(picture_);
  }

  uint32_t pen = kMargin;

 private:
  // Adds white rows up to `height`.
  void grow(uint32_t height) {
    if (height <= picture_.height) return;
    picture_.rgb.resize(size_t{height} * picture_.width * 3, 0xFF);
    picture_.height = height;
  }

  RgbPicture picture_;
};

// The ruler: a line across the whole width, a tick each millimetre (longer
// each 5 and 10), the centimetres numbered, and a bar at each edge.
void drawRuler(Canvas& canvas) {
  uint32_t top = canvas.pen;
  uint32_t width = canvas.width();
  canvas.fill(0, top, width, 3, kBlack);
  for (uint32_t mm = 0; dotsOfMm(mm) < width; ++mm) {
    uint32_t x = std::min(dotsOfMm(mm), width - 2);
    uint32_t length = mm % 10 == 0 ? 24 : mm % 5 == 0 ? 16 : 8;
    canvas.fill(x, top + 3, 2, length, kBlack);
    std::string number = std::to_string(mm);
    auto numberWidth = static_cast<uint32_t>(number.size()) * (kGlyphWidth + 1) * 2;
    if (mm % 10 == 0 && mm > 0 && x + 4 + numberWidth <= width) canvas.text(number, x + 4, top + 12, 2, kBlack);
  }
  canvas.fill(0, top, 3, 48, kBlack);
  canvas.fill(width - 3, top, 3, 48, kBlack);
  canvas.pen = top + 56;
  canvas.paragraph("Printable width: " + std::to_string(width) + " dots (" +
                       std::to_string(static_cast<int>(std::lround(width * 25.4 / kDpi))) + " mm)",
                   2);
}

// Solid samples of the colours the printer prints, labelled.
void drawColours(Canvas& canvas, bool twoColour) {
  uint32_t half = canvas.width() / 2;
  uint32_t top = canvas.pen;
  canvas.fill(0, top, twoColour ? half - 8 : canvas.width(), 48, kBlack);
  canvas.text("Black", 0, top + 56, 3, kBlack);
  if (twoColour) {
    canvas.fill(half + 8, top, canvas.width() - half - 8, 48, kRed);
    canvas.text("Red", half + 8, top + 56, 3, kRed);
  }
  canvas.pen = top + 56 + 3 * kGlyphHeight + 16;
}

}  // namespace

uint32_t printableDots(int width, int margin) {
  long dots = std::lround((width - 2.0 * margin) * kDpi / 2540.0);
  return static_cast<uint32_t>(std::clamp<long>(dots, 8, 8192));
}

std::vector<std::pair<std::string, std::string>> testPageSettings(
    const ModelRow& model, bool colour, const char* (*valueOf)(const char*, const void*), const void* context) {
  std::vector<std::pair<std::string, std::string>> lines;
  if (model.twoColour) lines.emplace_back(findJobOption("ColorModel")->label.english, colourModeLabel(colour));
  for (const char* keyword : kShownOptions) {
    const JobOption& option = *findJobOption(keyword);
    if (!readsOption(&model, option)) continue;
    const char* value = valueOf(option.ipp, context);
    int32_t number = value != nullptr ? choiceNumberOf(option, value) : -1;
    if (number < 0) number = option.defaultNumber;
    for (const OptionChoice& choice : option.choices) {
      if (choice.number == number) lines.emplace_back(option.label.english, choice.label.english);
    }
  }
  return lines;
}

RgbPicture drawTestPage(const TestPage& page) {
  Canvas canvas(std::max<uint32_t>(page.widthDots, 64));
  canvas.centred("TEST RECEIPT", 4);
  canvas.centred(page.model, 3);
  canvas.pen += 16;
  drawRuler(canvas);
  canvas.pen += 16;
  drawColours(canvas, page.twoColour);
  for (const auto& [label, value] : page.settings) canvas.paragraph(label + ": " + value, 2);
  canvas.pen += 16;
  canvas.paragraph("Printer: " + page.printerUri, 2);
  if (!page.deviceUri.empty()) canvas.paragraph("Device: " + page.deviceUri, 2);
  return canvas.finish();
}

bool writeTestPagePng(const RgbPicture& picture, const std::string& path, std::string& why) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = picture.width;
  image.height = picture.height;
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, path.c_str(), 0, picture.rgb.data(), 0, nullptr)) {
    why = path + ": " + image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}
