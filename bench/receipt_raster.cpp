// Writes receipt-like raster streams for the benchmarks: lines of text-like
// glyphs, blank gaps between paragraphs, solid logo areas and barcodes, in
// three layouts -- 1-bit black (what the filter reads for black printing),
// 1-bit banded CMYK with red text in the M and Y bands (what it reads for
// black and red), and 8-bit RGB (what the RIP hands the prefilter). "tones"
// is 8-bit RGB in continuous tones: a photo-like logo, grey and red ramps and
// anti-aliased black and red text, as a RIP renders a page with a picture.
//
//   receipt_raster mono|colour|rgb|tones WIDTH ROWS PAGES > job.ras
//
// The stream is compressed as the prefilter writes it; the same arguments
// always give the same bytes.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/raster.h>

namespace {

enum class Kind { Mono, Colour, Rgb, Tones };

// xorshift64*: repeatable glyphs.
struct Draw {
  uint64_t state = 0x9E3779B97F4A7C15ULL;
  uint32_t next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return static_cast<uint32_t>((state * 0x2545F4914F6CDD1DULL) >> 32);
  }
};

// What one row of the receipt holds at each dot: 0 white, 1 black, 2 red.
struct Receipt {
  uint32_t width;
  Draw draw;
  std::vector<uint8_t> glyphs;  // 96 glyphs of 12 x 24 dots, one byte per dot

  explicit Receipt(uint32_t w) : width(w), glyphs(96 * 12 * 24) {
    for (auto& dot : glyphs) dot = draw.next() % 100 < 35 ? 1 : 0;
  }

  // Row y of the page: a logo block at the top, then paragraphs of text
  // lines with gaps, a barcode every so often; red lines now and then.
  void row(uint32_t y, std::vector<uint8_t>& dots) {
    std::fill(dots.begin(), dots.end(), 0);
    uint32_t block = y % 1200;
    if (block < 160) {  // logo: a solid disc-like area in the middle
      uint32_t half = width / 4;
      uint32_t left = width / 2 - half, right = width / 2 + half;
      uint32_t inset = block < 80 ? 80 - block : block - 80;
      for (uint32_t x = left + inset; x < right - inset && x < width; ++x) dots[x] = 1;
      return;
    }
    if (block >= 1000 && block < 1100) {  // barcode
      for (uint32_t x = 40; x + 40 < width; ++x) dots[x] = ((x * 7919) >> 3) % 3 == 0 ? 1 : 0;
      return;
    }
    uint32_t line = block / 30, inLine = block % 30;
    if (inLine >= 24 || line % 6 == 5) return;  // gaps between lines and paragraphs
    uint8_t ink = line % 4 == 1 ? 2 : 1;
    uint32_t chars = (width - 16) / 12;
    uint32_t used = chars - (line * 7) % (chars / 2 + 1);
    for (uint32_t c = 0; c < used; ++c) {
      uint32_t glyph = (line * 31 + c * 17) % 96;
      if (glyph % 9 == 0) continue;  // a space
      const uint8_t* g = &glyphs[(glyph * 24 + inLine) * 12];
      for (uint32_t i = 0; i < 12; ++i) {
        if (g[i]) dots[8 + c * 12 + i] = ink;
      }
    }
  }
};

// Packs the row's dots of colour `which` (1 black, 2 red; 0 any ink) into bits.
void pack(const std::vector<uint8_t>& dots, uint8_t which, uint8_t* out) {
  std::memset(out, 0, (dots.size() + 7) / 8);
  for (size_t x = 0; x < dots.size(); ++x) {
    bool inked = which == 0 ? dots[x] != 0 : dots[x] == which;
    if (inked) out[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
}

cups_page_header2_t pageHeader(Kind kind, uint32_t width, uint32_t rows) {
  cups_page_header2_t h{};
  std::strcpy(h.MediaClass, "PwgRaster");
  h.HWResolution[0] = h.HWResolution[1] = 203;
  h.PageSize[0] = width * 72 / 203;
  h.PageSize[1] = rows * 72 / 203;
  h.NumCopies = 1;
  h.cupsWidth = width;
  h.cupsHeight = rows;
  uint32_t band = (width + 7) / 8;
  switch (kind) {
    case Kind::Mono:
      h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
      h.cupsColorSpace = CUPS_CSPACE_K;
      h.cupsColorOrder = CUPS_ORDER_CHUNKED;
      h.cupsNumColors = 1;
      h.cupsBytesPerLine = band;
      break;
    case Kind::Colour:
      h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
      h.cupsColorSpace = CUPS_CSPACE_CMYK;
      h.cupsColorOrder = CUPS_ORDER_BANDED;
      h.cupsNumColors = 4;
      h.cupsBytesPerLine = 4 * band;
      break;
    case Kind::Rgb:
    case Kind::Tones:
      h.cupsBitsPerColor = 8;
      h.cupsBitsPerPixel = 24;
      h.cupsColorSpace = CUPS_CSPACE_SRGB;
      h.cupsColorOrder = CUPS_ORDER_CHUNKED;
      h.cupsNumColors = 3;
      h.cupsBytesPerLine = 3 * width;
      break;
  }
  return h;
}

// One row of the page in the stream's layout.
void encodeRow(Kind kind, const std::vector<uint8_t>& dots, std::vector<uint8_t>& out) {
  size_t band = (dots.size() + 7) / 8;
  switch (kind) {
    case Kind::Mono:
      pack(dots, 0, out.data());  // red prints black
      break;
    case Kind::Colour:
      std::memset(out.data(), 0, band);
      pack(dots, 2, out.data() + band);
      std::memcpy(out.data() + 2 * band, out.data() + band, band);
      pack(dots, 1, out.data() + 3 * band);
      break;
    case Kind::Tones:
      break;  // tonesRow draws these
    case Kind::Rgb:
      for (size_t x = 0; x < dots.size(); ++x) {
        static const uint8_t kColours[3][3] = {{255, 255, 255}, {20, 20, 20}, {220, 30, 35}};
        std::memcpy(&out[3 * x], kColours[dots[x]], 3);
      }
      break;
  }
}

uint8_t clampByte(double value) {
  return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

// Row y of a page in continuous tones, 3 bytes a dot: in each 1,200 rows a
// photo-like logo (smooth colour fields with grain), grey and red ramps, then
// the receipt's text with anti-aliased edges (a dot's ink is shared with its
// neighbours, in quarters).
void tonesRow(Receipt& receipt, uint32_t y, std::vector<uint8_t>& dots, std::vector<uint8_t>& out) {
  uint32_t width = receipt.width, block = y % 1200;
  for (uint32_t x = 0; x < width; ++x) {
    uint8_t* p = &out[3 * x];
    if (block < 400) {
      double grain = static_cast<double>(receipt.draw.next() % 25) - 12;
      p[0] = clampByte(128 + 90 * std::sin((x + y * 0.7) / 37.0) + grain);
      p[1] = clampByte(128 + 90 * std::sin((x * 0.6 - y) / 29.0) + grain);
      p[2] = clampByte(128 + 90 * std::cos((x + y) / 53.0) + grain);
    } else if (block < 600) {
      uint8_t level = static_cast<uint8_t>(255 - x * 255 / (width - 1));
      bool red = block >= 500;
      p[0] = red ? 255 : level;
      p[1] = p[2] = level;
    }
  }
  if (block < 600) return;
  receipt.row(block - 600 + y / 1200 * 600, dots);
  for (uint32_t x = 0; x < width; ++x) {
    uint8_t left = x > 0 ? dots[x - 1] : 0, right = x + 1 < width ? dots[x + 1] : 0;
    uint8_t ink = dots[x] != 0 ? dots[x] : left != 0 ? left : right;
    int quarters = 2 * (dots[x] != 0) + (left != 0) + (right != 0);
    static const uint8_t kInk[3][3] = {{255, 255, 255}, {20, 20, 20}, {220, 30, 35}};
    for (int c = 0; c < 3; ++c) out[3 * x + c] = static_cast<uint8_t>(255 - (255 - kInk[ink][c]) * quarters / 4);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fputs("usage: receipt_raster mono|colour|rgb|tones WIDTH ROWS PAGES > job.ras\n", stderr);
    return 2;
  }
  std::string name = argv[1];
  Kind kind = name == "mono" ? Kind::Mono : name == "colour" ? Kind::Colour : name == "tones" ? Kind::Tones : Kind::Rgb;
  uint32_t width = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  uint32_t rows = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  uint32_t pages = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
  if ((name != "mono" && name != "colour" && name != "rgb" && name != "tones") || width < 64 || rows == 0) {
    std::fputs("receipt_raster: unknown layout, or a width under 64 dots or no rows\n", stderr);
    return 2;
  }
  cups_raster_t* out = cupsRasterOpen(STDOUT_FILENO, CUPS_RASTER_WRITE_COMPRESSED);
  Receipt receipt(width);
  std::vector<uint8_t> dots(width);
  for (uint32_t p = 0; p < pages; ++p) {
    cups_page_header2_t header = pageHeader(kind, width, rows);
    cupsRasterWriteHeader2(out, &header);
    std::vector<uint8_t> row(header.cupsBytesPerLine);
    for (uint32_t y = 0; y < rows; ++y) {
      if (kind == Kind::Tones) {
        tonesRow(receipt, y + p * 77, dots, row);
      } else {
        receipt.row(y + p * 77, dots);
        encodeRow(kind, dots, row);
      }
      cupsRasterWritePixels(out, row.data(), header.cupsBytesPerLine);
    }
  }
  cupsRasterClose(out);
  return 0;
}
