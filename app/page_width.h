// Fitting a page to the print head. The head prints the PPD's imageable
// width of the paper (576 dots on an 80 mm roll, 384 on 58 mm); clients of
// the Printer Application send pages as wide as the paper. A wider page is
// cut down to a window of the head's width: the centred window (the
// imageable area, where the CUPS filter path puts the page) when every
// mark lies inside it, else the nearest window that holds every mark, else
// the window centred on the marks, whose cut-off columns are reported.
#pragma once

#include <cstdint>

// The dots a page `widthDots` wide at `dpi` prints on: the imageable width
// of the PPD's paper size of that width (within 1 mm); A4 and Letter, which
// the filter reduces, keep their whole width; other widths print on the
// 80 mm roll.
uint32_t printableWidth(uint32_t widthDots, uint32_t dpi);

// The columns of a page that are printed.
struct CropWindow {
  uint32_t first = 0;      // first column kept
  uint32_t width = 0;      // columns kept
  uint32_t lostLeft = 0;   // marked columns cut off at the left
  uint32_t lostRight = 0;  // and at the right
};

// The window of at most `target` columns of a page `width` wide whose
// marks lie in columns [inkFirst, inkEnd) (inkFirst == inkEnd: no marks).
CropWindow chooseWindow(uint32_t width, uint32_t target, uint32_t inkFirst, uint32_t inkEnd);

// The columns [first, end) that hold a dot in any band of 1-bit rows
// (`bands` bands of (width + 7) / 8 bytes per row). False when no row has
// a dot.
bool inkedColumns(const uint8_t* rows, uint32_t rowCount, uint32_t bands, uint32_t width, uint32_t& first,
                  uint32_t& end);

// Keeps the window's columns of each band of each row, in place: rows of
// `bands` bands of (window.width + 7) / 8 bytes follow one another from
// `rows` on, padding bits cleared.
void cropRows(uint8_t* rows, uint32_t rowCount, uint32_t bands, uint32_t width, const CropWindow& window);
