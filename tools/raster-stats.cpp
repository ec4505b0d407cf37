// raster-stats: a development tool that reads a CUPS raster stream and prints,
// for every page, its header fields and where its dots are. A two-colour page
// (1-bit banded CMYK, each row four quarters C, M, Y, K) is split the way the
// printer sees it: the black plane is K, the colour plane is C OR M OR Y. A
// 1-bit single-plane page counts as black only (1 = printed dot; for the
// white-based colour spaces 0 = printed dot). Boxes given on the command line
// get their own counts, so a check can ask how many dots of a black area
// landed in the colour plane. Pages of other depths are described by their
// header alone. Output is one "key=value" record per line:
//
//   page=1 width=576 height=2375 bitsPerColor=1 bitsPerPixel=1 bytesPerLine=288
//       colorOrder=1 colorSpace=6 numColors=4 resolution=203x203 layout=cmyk-banded
//   page=1 box=all black=4100 colour=120 both=3 blackBox=20,30,560,300 colourBox=...
//   page=1 box=rect black=... colour=... both=...
//
// Usage: raster-stats [--box name:x0,y0,x1,y1]... [--ppm prefix] [file]
// Box corners are in dots, x1 and y1 exclusive. --ppm writes each 1-bit page
// as prefix-N.ppm (black dots black, colour dots red, both dark red).
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Box {
  std::string name;
  uint32_t x0, y0, x1, y1;
};

struct Counts {
  uint64_t black = 0, colour = 0, both = 0;
  uint32_t bx0 = UINT32_MAX, by0 = UINT32_MAX, bx1 = 0, by1 = 0;  // black bounds
  uint32_t cx0 = UINT32_MAX, cy0 = UINT32_MAX, cx1 = 0, cy1 = 0;  // colour bounds
};

enum class Layout { CmykBanded, Mono, Other };

// How the dots of a page are laid out in its rows.
Layout layoutOf(const cups_page_header2_t& h) {
  if (h.cupsBitsPerColor != 1) return Layout::Other;
  if (h.cupsColorOrder == CUPS_ORDER_BANDED && h.cupsColorSpace == CUPS_CSPACE_CMYK)
    return Layout::CmykBanded;
  if (h.cupsBitsPerPixel == 1 && h.cupsColorOrder == CUPS_ORDER_CHUNKED) return Layout::Mono;
  return Layout::Other;
}

const char* layoutName(Layout layout) {
  switch (layout) {
    case Layout::CmykBanded: return "cmyk-banded";
    case Layout::Mono: return "mono";
    default: return "other";
  }
}

// True for the colour spaces in which a 1 bit means paper left white.
bool whiteIsOne(unsigned space) {
  return space == CUPS_CSPACE_W || space == CUPS_CSPACE_SW || space == CUPS_CSPACE_RGB ||
         space == CUPS_CSPACE_SRGB;
}

void widen(uint32_t& lo0, uint32_t& lo1, uint32_t& hi0, uint32_t& hi1, uint32_t x, uint32_t y) {
  lo0 = std::min(lo0, x);
  lo1 = std::min(lo1, y);
  hi0 = std::max(hi0, x + 1);
  hi1 = std::max(hi1, y + 1);
}

// Adds one dot to the counts.
void count(Counts& c, uint32_t x, uint32_t y, bool black, bool colour) {
  if (black) {
    ++c.black;
    widen(c.bx0, c.by0, c.bx1, c.by1, x, y);
  }
  if (colour) {
    ++c.colour;
    widen(c.cx0, c.cy0, c.cx1, c.cy1, x, y);
  }
  if (black && colour) ++c.both;
}

void printCounts(unsigned page, const std::string& name, const Counts& c) {
  std::printf("page=%u box=%s black=%llu colour=%llu both=%llu", page, name.c_str(),
              static_cast<unsigned long long>(c.black), static_cast<unsigned long long>(c.colour),
              static_cast<unsigned long long>(c.both));
  if (c.black != 0) std::printf(" blackBox=%u,%u,%u,%u", c.bx0, c.by0, c.bx1, c.by1);
  if (c.colour != 0) std::printf(" colourBox=%u,%u,%u,%u", c.cx0, c.cy0, c.cx1, c.cy1);
  std::printf("\n");
}

// Parses "name:x0,y0,x1,y1"; returns false when the text is not one.
bool parseBox(const char* text, Box& box) {
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr || colon == text) return false;
  box.name.assign(text, colon);
  char tail = 0;
  return std::sscanf(colon + 1, "%u,%u,%u,%u%c", &box.x0, &box.y0, &box.x1, &box.y1, &tail) == 4 &&
         box.x0 < box.x1 && box.y0 < box.y1;
}

int usage() {
  std::fputs("usage: raster-stats [--box name:x0,y0,x1,y1]... [--ppm prefix] [file]\n", stderr);
  return 2;
}

// Writes one page as a PPM picture; returns false when the file cannot be written.
bool writePpm(const std::string& path, uint32_t width, uint32_t height,
              const std::vector<uint8_t>& dots) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::fprintf(f, "P6\n%u %u\n255\n", width, height);
  static const uint8_t colours[4][3] = {{255, 255, 255}, {0, 0, 0}, {230, 0, 0}, {110, 0, 0}};
  for (uint8_t d : dots) std::fwrite(colours[d], 1, 3, f);
  return std::fclose(f) == 0;
}

// Reads and reports one page; returns false on a read error.
bool reportPage(cups_raster_t* ras, const cups_page_header2_t& h, unsigned page,
                const std::vector<Box>& boxes, const char* ppmPrefix) {
  Layout layout = layoutOf(h);
  std::printf("page=%u width=%u height=%u bitsPerColor=%u bitsPerPixel=%u bytesPerLine=%u "
              "colorOrder=%u colorSpace=%u numColors=%u resolution=%ux%u layout=%s\n",
              page, h.cupsWidth, h.cupsHeight, h.cupsBitsPerColor, h.cupsBitsPerPixel,
              h.cupsBytesPerLine, h.cupsColorOrder, h.cupsColorSpace, h.cupsNumColors,
              h.HWResolution[0], h.HWResolution[1], layoutName(layout));

  std::vector<uint8_t> row(h.cupsBytesPerLine);
  // A banded page stores each colour as its own row; read them as one.
  uint32_t bands = h.cupsColorOrder == CUPS_ORDER_BANDED ? std::max(1u, h.cupsNumColors) : 1;
  uint32_t bandBytes = h.cupsBytesPerLine / bands;
  uint32_t planeWidth = layout == Layout::CmykBanded ? bandBytes * 8 : h.cupsBytesPerLine * 8;
  if (layout == Layout::Other) {
    for (uint32_t y = 0; y < h.cupsHeight; ++y)
      if (cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
        return false;
    return true;
  }
  bool invert = layout == Layout::Mono && whiteIsOne(h.cupsColorSpace);
  std::vector<Counts> counts(boxes.size() + 1);
  std::vector<uint8_t> picture;
  if (ppmPrefix != nullptr) picture.assign(static_cast<size_t>(planeWidth) * h.cupsHeight, 0);

  for (uint32_t y = 0; y < h.cupsHeight; ++y) {
    if (cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
      return false;
    for (uint32_t x = 0; x < planeWidth; ++x) {
      uint8_t mask = static_cast<uint8_t>(0x80 >> (x % 8));
      uint32_t i = x / 8;
      bool black, colour;
      if (layout == Layout::CmykBanded) {
        black = row[3 * bandBytes + i] & mask;
        colour = (row[i] | row[bandBytes + i] | row[2 * bandBytes + i]) & mask;
      } else {
        black = ((row[i] & mask) != 0) != invert;
        colour = false;
      }
      if (!black && !colour) continue;
      count(counts[0], x, y, black, colour);
      for (size_t b = 0; b < boxes.size(); ++b)
        if (x >= boxes[b].x0 && x < boxes[b].x1 && y >= boxes[b].y0 && y < boxes[b].y1)
          count(counts[b + 1], x, y, black, colour);
      if (!picture.empty())
        picture[static_cast<size_t>(y) * planeWidth + x] =
            static_cast<uint8_t>((black ? 1 : 0) | (colour ? 2 : 0));
    }
  }
  printCounts(page, "all", counts[0]);
  for (size_t b = 0; b < boxes.size(); ++b) printCounts(page, boxes[b].name, counts[b + 1]);
  if (!picture.empty()) {
    std::string path = std::string(ppmPrefix) + "-" + std::to_string(page) + ".ppm";
    if (!writePpm(path, planeWidth, h.cupsHeight, picture))
      std::fprintf(stderr, "raster-stats: cannot write %s\n", path.c_str());
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Box> boxes;
  const char* ppmPrefix = nullptr;
  const char* file = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--box") == 0 && i + 1 < argc) {
      Box box;
      if (!parseBox(argv[++i], box)) {
        std::fprintf(stderr, "raster-stats: bad box \"%s\"\n", argv[i]);
        return usage();
      }
      boxes.push_back(box);
    } else if (std::strcmp(argv[i], "--ppm") == 0 && i + 1 < argc) {
      ppmPrefix = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return usage();
    } else if (file == nullptr) {
      file = argv[i];
    } else {
      return usage();
    }
  }

  int fd = 0;
  if (file != nullptr && (fd = open(file, O_RDONLY)) < 0) {
    std::fprintf(stderr, "raster-stats: cannot open %s: %s\n", file, std::strerror(errno));
    return 1;
  }
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (ras == nullptr) {
    std::fputs("raster-stats: not a CUPS raster stream\n", stderr);
    return 1;
  }
  cups_page_header2_t header;
  unsigned page = 0;
  bool ok = true;
  while (ok && cupsRasterReadHeader2(ras, &header)) {
    ok = reportPage(ras, header, ++page, boxes, ppmPrefix);
    if (!ok) std::fprintf(stderr, "raster-stats: page %u is cut short\n", page);
  }
  cupsRasterClose(ras);
  if (fd != 0) close(fd);
  if (page == 0) {
    std::fputs("raster-stats: no pages\n", stderr);
    return 1;
  }
  return ok ? 0 : 1;
}
