// The floor the benchmarks measure against: what libcups alone needs to read
// a raster stream. It opens standard input and reads every page's pixels with
// one cupsRasterReadPixels call per page, into a buffer of the page's size,
// and does nothing else.
//
//   read_floor < job.ras
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include <cups/raster.h>

int main() {
  cups_raster_t* in = cupsRasterOpen(STDIN_FILENO, CUPS_RASTER_READ);
  cups_page_header2_t header;
  std::vector<uint8_t> page;
  unsigned pages = 0;
  uint64_t checksum = 0;
  while (cupsRasterReadHeader2(in, &header)) {
    page.resize(size_t{header.cupsHeight} * header.cupsBytesPerLine);
    if (cupsRasterReadPixels(in, page.data(), static_cast<unsigned>(page.size())) == 0) break;
    checksum += page.empty() ? 0 : page[page.size() / 2];
    ++pages;
  }
  cupsRasterClose(in);
  std::printf("%u pages (%llu)\n", pages, static_cast<unsigned long long>(checksum));
  return 0;
}
