// Builds the logo store commands; see logo_store.h for their frames.
#include "output/logo_store.h"

#include <algorithm>

#include "core/commands.h"

namespace {

// The colours c of GS ( L function 67.
constexpr uint8_t kBlack = 0x31;
constexpr uint8_t kRed = 0x32;
constexpr size_t kMaxBitImages = 255;  // n of FS q is one byte

// Appends a two-byte number, low byte first.
void putLe16(std::vector<uint8_t>& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
}

bool fits(const LogoBitmap& logo) {
  size_t plane = size_t{logo.bytesPerRow()} * logo.rows;
  return logo.widthDots > 0 && logo.rows > 0 && logo.widthDots <= kMaxLogoWidth && logo.rows <= kMaxLogoRows &&
         logo.black.size() == plane && (logo.red.empty() || logo.red.size() == plane);
}

// Whether dot (x, y) of the black plane is printed.
bool blackDot(const LogoBitmap& logo, uint32_t x, uint32_t y) {
  return (logo.black[size_t{y} * logo.bytesPerRow() + x / 8] & (0x80u >> (x % 8))) != 0;
}

// Appends one FS q image: its size in 8-dot units, then its columns.
void putBitImage(std::vector<uint8_t>& out, const LogoBitmap& logo) {
  uint32_t x = (logo.widthDots + 7) / 8;
  uint32_t y = (logo.rows + 7) / 8;
  putLe16(out, x);
  putLe16(out, y);
  for (uint32_t column = 0; column < x * 8; ++column) {
    for (uint32_t band = 0; band < y; ++band) {
      uint8_t byte = 0;
      for (uint32_t bit = 0; bit < 8; ++bit) {
        uint32_t row = band * 8 + bit;
        if (column < logo.widthDots && row < logo.rows && blackDot(logo, column, row)) {
          byte = static_cast<uint8_t>(byte | (0x80u >> bit));
        }
      }
      out.push_back(byte);
    }
  }
}

}  // namespace

uint8_t logoKeyCode(char keyBase, int32_t image) {
  uint8_t base = keyBase != 0 ? static_cast<uint8_t>(keyBase) : uint8_t{'0'};
  return static_cast<uint8_t>(base + std::clamp(image, 0, 2));
}

std::vector<uint8_t> keyedLogoCommand(uint8_t keyCode, const LogoBitmap& logo) {
  if (!fits(logo)) return {};
  bool twoColours = !logo.red.empty();
  size_t planeBytes = logo.black.size();
  size_t p = 10 + (twoColours ? 2 : 1) * (1 + planeBytes);
  std::vector<uint8_t> out(std::begin(command::kGraphics), std::end(command::kGraphics));
  out.reserve(5 + p);
  putLe16(out, static_cast<uint32_t>(p));
  out.insert(out.end(), std::begin(command::kDefineKeyedGraphics), std::end(command::kDefineKeyedGraphics));
  out.push_back(keyCode);
  out.push_back(twoColours ? 2 : 1);
  putLe16(out, logo.widthDots);
  putLe16(out, logo.rows);
  out.push_back(kBlack);
  out.insert(out.end(), logo.black.begin(), logo.black.end());
  if (twoColours) {
    out.push_back(kRed);
    out.insert(out.end(), logo.red.begin(), logo.red.end());
  }
  return out;
}

std::vector<uint8_t> bitImageLogosCommand(std::span<const LogoBitmap* const> logos) {
  if (logos.empty() || logos.size() > kMaxBitImages) return {};
  if (!std::all_of(logos.begin(), logos.end(), [](const LogoBitmap* logo) { return logo && fits(*logo); })) {
    return {};
  }
  std::vector<uint8_t> out(std::begin(command::kDefineBitImages), std::end(command::kDefineBitImages));
  out.push_back(static_cast<uint8_t>(logos.size()));
  for (const LogoBitmap* logo : logos) putBitImage(out, *logo);
  return out;
}
