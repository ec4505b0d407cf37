// make_raster: writes the test page of the Printer Application tests as PWG
// raster (what IPP Everywhere clients send) or as CUPS raster with the same
// header and pixels (what the CUPS RIP hands the prefilter), so the app and
// the filter chain can be given the same page.
//
//   make_raster pwg|cups|cups-head MEDIA srgb_8|sgray_8 OUT [PAGES]
//
// cups-head writes the centred 576 dots of each row, the 80 mm head's width
// that the PPD's imageable area gives the filter path.
// MEDIA is a PWG media name with its size, e.g. oe_80x297mm... or
// custom_x_80x297mm; the page is drawn at 203 dpi. The page, top to bottom:
// blank rows, a solid black bar, a solid red bar, a grey ramp from white to
// black, a checkerboard of 8-dot squares, then blank rows to the end (which
// the printer trims). In sgray_8 the red bar is its grey (76).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cups/cups.h>
#include <cups/raster.h>

namespace {

constexpr unsigned kDpi = 203;

struct Colour {
  uint8_t r, g, b;
};

// The colour of dot (x, y) of the test page `width` dots wide.
Colour testDot(unsigned x, unsigned y, unsigned width) {
  const Colour white{255, 255, 255};
  if (x < 40 || x + 40 >= width) return white;
  if (y >= 100 && y < 200) return {0, 0, 0};
  if (y >= 220 && y < 320) return {255, 0, 0};
  if (y >= 340 && y < 440) {
    auto level = static_cast<uint8_t>(255 - (x - 40) * 255 / (width - 80));
    return {level, level, level};
  }
  if (y >= 460 && y < 560) return ((x / 8 + y / 8) % 2) ? Colour{0, 0, 0} : white;
  return white;
}

// Fills one row of the page (`width` dots, from dot `first` on) in the
// header's colour space.
void drawRow(const cups_page_header2_t& header, unsigned y, std::vector<uint8_t>& row, unsigned width,
             unsigned first) {
  bool grey = header.cupsNumColors == 1;
  for (unsigned x = 0; x < header.cupsWidth; ++x) {
    Colour c = testDot(x + first, y, width);
    if (grey) {
      row[x] = static_cast<uint8_t>((c.r * 299 + c.g * 587 + c.b * 114) / 1000);
    } else {
      row[3 * x] = c.r;
      row[3 * x + 1] = c.g;
      row[3 * x + 2] = c.b;
    }
  }
}

// Prints the usage and returns 2.
int usage() {
  std::fputs("usage: make_raster pwg|cups|cups-head MEDIA srgb_8|sgray_8 OUT [PAGES]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 5 || argc > 6) return usage();
  std::string format = argv[1];
  pwg_media_t* media = pwgMediaForPWG(argv[2]);
  int pages = argc == 6 ? std::atoi(argv[5]) : 1;
  if ((format != "pwg" && format != "cups" && format != "cups-head") || media == nullptr || pages < 1) return usage();

  cups_page_header2_t header;
  if (!cupsRasterInitPWGHeader(&header, media, argv[3], kDpi, kDpi, "one-sided", nullptr)) {
    std::fprintf(stderr, "make_raster: %s\n", cupsLastErrorString());
    return 1;
  }
  const unsigned width = header.cupsWidth, head = 576;
  const unsigned first = format == "cups-head" && width > head ? (width - head) / 2 : 0;
  if (first > 0) {
    header.cupsBytesPerLine = header.cupsBytesPerLine / width * head;
    header.cupsWidth = head;
  }
  int fd = open(argv[4], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  cups_raster_t* raster =
      fd < 0 ? nullptr : cupsRasterOpen(fd, format == "pwg" ? CUPS_RASTER_WRITE_PWG : CUPS_RASTER_WRITE);
  if (raster == nullptr) {
    std::perror(argv[4]);
    return 1;
  }
  std::vector<uint8_t> row(header.cupsBytesPerLine);
  bool ok = true;
  for (int page = 0; page < pages && ok; ++page) {
    ok = cupsRasterWriteHeader2(raster, &header) != 0;
    for (unsigned y = 0; y < header.cupsHeight && ok; ++y) {
      drawRow(header, y, row, width, first);
      ok = cupsRasterWritePixels(raster, row.data(), header.cupsBytesPerLine) == header.cupsBytesPerLine;
    }
  }
  cupsRasterClose(raster);
  if (close(fd) != 0 || !ok) {
    std::fprintf(stderr, "make_raster: cannot write %s\n", argv[4]);
    return 1;
  }
  return 0;
}
