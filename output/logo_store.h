// The commands that store a logo in the printer's non-volatile memory, for
// the logo block (logo.h) to print later. Two families, as the model prints
// logos:
//
//   key-code graphics  GS ( L pL pH 30 43 30 kc1 kc2 b xL xH yL yH
//                      [c d1..dk]b: function 67, one raster graphic under
//                      key code kc1 kc2 in b colours (c 31 black, 32 red),
//                      x dots wide and y rows high, k = (x + 7) / 8 * y;
//                      p = 10 + b * (1 + k). Other key codes stay stored.
//   bit images         FS q n [xL xH yL yH d1..dk]n: images 1 to n, each
//                      x * 8 dots wide and y * 8 dots high, k = x * y * 8
//                      bytes in columns (each column top to bottom, bit 7
//                      the top dot). Erases every image stored before, so
//                      all of them are sent each time.
//
// The printer's memory takes a limited number of writes; these are sent
// only when the owner stores a logo.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// A logo as the printer stores it: a black plane and, for two-colour
// graphics, a red plane, rows of (widthDots + 7) / 8 bytes, most significant
// bit the leftmost dot, 1 a printed dot. A dot is in at most one plane.
struct LogoBitmap {
  uint32_t widthDots = 0;
  uint32_t rows = 0;
  std::vector<uint8_t> black;
  std::vector<uint8_t> red;  // empty: black only

  uint32_t bytesPerRow() const { return (widthDots + 7) / 8; }
};

// The largest logo a store command takes: the widest roll's printable width,
// and a height that keeps two colours of it within one GS ( L frame (and is
// a whole number of FS q's 8-dot units).
constexpr uint32_t kMaxLogoWidth = 576;
constexpr uint32_t kMaxLogoRows = 448;

// The key code byte kc2 of stored logo `image` (0 for logo 1, clamped to
// 0-2: the three logos a model keeps by key code) on a model whose logo 1
// has key character `keyBase` ('0' when none); kc1 is always '0'.
uint8_t logoKeyCode(char keyBase, int32_t image);

// GS ( L function 67 storing `logo` under key code '0' `keyCode`, in one
// colour, or two when it has a red plane. Empty when the logo is empty or
// larger than kMaxLogoWidth x kMaxLogoRows.
std::vector<uint8_t> keyedLogoCommand(uint8_t keyCode, const LogoBitmap& logo);

// FS q storing `logos` as bit images 1, 2, ... (black planes only; each
// padded with blank dots to whole 8-dot units). Empty when there is none,
// or one is empty or too large.
std::vector<uint8_t> bitImageLogosCommand(std::span<const LogoBitmap* const> logos);
