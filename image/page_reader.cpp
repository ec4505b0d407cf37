// The page reader's decisions on a page held in memory. Page type 0 drops a
// page of zeros and the whole blank rows at both ends of any other page:
// the trailing ones counted back from the page's last byte, the leading ones
// forward from its first byte. The kept rows stay where they are; the caller
// reads the page from its first kept row on.
#include "image/page_reader.h"

#include "image/blank_rows.h"

// Trims (page type 0) one page; kPageReady or kPageBlank.
int trimBlankRows(const Diagnostics& log, const uint8_t* page, cups_page_header_t& header, int32_t pageType,
                   uint32_t& firstRow) {
  firstRow = 0;
  if (pageType != 0) return kPageReady;
  const uint32_t bytesPerRow = header.cupsBytesPerLine;
  uint32_t height = header.cupsHeight;
  // Blank rows at the end: only whole rows of zeros count.
  uint32_t blankRows = trailingBlankRows(page, height, bytesPerRow);
  if (blankRows == height) {
    log.line("TALVERO DEBUG MSG : removeNullLine() NULLPAGE\n");
    return kPageBlank;
  }
  header.cupsHeight = height - blankRows;
  // Blank rows at the start; the non-zero byte found above keeps a row.
  firstRow = leadingBlankRows(page, header.cupsHeight, bytesPerRow);
  header.cupsHeight -= firstRow;
  return kPageReady;
}

void reportUnreadablePage(const Diagnostics& log, int32_t pageType) {
  log.line(pageType == 0 ? "TALVERO DEBUG MSG : removeNullLine() NULLIMAGE\n"
                         : "TALVERO DEBUG MSG : removeNullLine() NULLIMAGE2\n");
}
