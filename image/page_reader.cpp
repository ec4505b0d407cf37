// Stand-in page reader: reads each page's pixels whole, without trimming.
#include "image/page_reader.h"

int removeNullLine(cups_raster_t* stream, uint8_t* pageBuffer, uint8_t*,
                   cups_page_header_t& header, int32_t) {
  unsigned length = header.cupsHeight * header.cupsBytesPerLine;
  return cupsRasterReadPixels(stream, pageBuffer, length) == 0 ? kPageUnreadable : kPageReady;
}
