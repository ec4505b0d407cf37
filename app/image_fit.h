// Where a picture (a PNG or JPEG document) goes on the print head, and the
// scaling of its rows on the way, one row at a time. A picture is taken
// dot for dot at the printer's resolution: when its marks fit the head it
// prints at that size, centred, cut to the head's width by the crop rule of
// page_width.h (blank margins go first); when they do not, it is reduced
// to the head's width ("print-scaling" auto, the default). With
// print-scaling fit or fill its marks are scaled, up or down, to the head's
// width; with none it is never reduced, and marks past the head are cut
// off and reported.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "image/separate.h"

enum class ImageScaling : uint8_t { Auto, Fit, None };

// The picture's place: source columns [first, first + sourceWidth) become
// `width` x `height` dots, `left` dots from the left of a page `pageWidth`
// (the head's width) wide.
struct ImageFit {
  uint32_t first = 0;
  uint32_t sourceWidth = 0;
  uint32_t pageWidth = 0;
  uint32_t left = 0;
  uint32_t width = 0;
  uint64_t height = 0;
  uint32_t lostLeft = 0;   // marked source columns not printed
  uint32_t lostRight = 0;
  bool reduced = false;    // scaled down to fit the head
};

// The fit of a picture `width` x `height` whose marks lie in columns
// [inkFirst, inkEnd) (inkFirst == inkEnd: none) on a head `head` dots wide.
ImageFit fitImage(uint32_t width, uint32_t height, uint32_t inkFirst, uint32_t inkEnd, uint32_t head,
                  ImageScaling scaling);

// Widens [first, end) to take the columns of `row` that would print a dot.
void widenInk(std::span<const Rgb> row, uint32_t& first, uint32_t& end);

// Scales rows of `sourceWidth` x `sourceHeight` dots to `width` x `height`:
// each page dot is the mean of the source dots it covers (or copies the one
// it lies on, when enlarging). Holds one row of sums.
class RowScaler {
 public:
  using Output = std::function<bool(uint32_t y, std::span<const Rgb> row)>;
  RowScaler(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t width, uint64_t height);

  // Takes the next source row; hands on each page row it completes. False
  // when `out` returned false.
  bool add(std::span<const Rgb> row, const Output& out);

 private:
  uint64_t rowStart(uint64_t y) const;
  uint64_t rowEnd(uint64_t y) const;

  uint64_t sourceHeight_, height_;
  std::vector<uint32_t> columnStart_, columnEnd_;
  std::vector<uint64_t> sums_;  // r, g, b per page column
  std::vector<Rgb> out_;
  uint64_t rowsSummed_ = 0, sourceRow_ = 0, row_ = 0;
};
