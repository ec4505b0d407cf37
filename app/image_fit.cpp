// A picture's place on the head and the scaling of its rows; see image_fit.h.
#include "app/image_fit.h"

#include <algorithm>

#include "app/page_width.h"

ImageFit fitImage(uint32_t width, uint32_t height, uint32_t inkFirst, uint32_t inkEnd, uint32_t head,
                  ImageScaling scaling) {
  ImageFit fit;
  fit.pageWidth = head;
  const bool marks = inkFirst < inkEnd;
  const uint32_t inkWidth = marks ? inkEnd - inkFirst : width;
  if (scaling == ImageScaling::None || (scaling == ImageScaling::Auto && inkWidth <= head)) {
    CropWindow window = chooseWindow(width, head, inkFirst, inkEnd);
    fit.first = window.first;
    fit.sourceWidth = fit.width = window.width;
    fit.height = height;
    fit.left = (head - window.width) / 2;
    fit.lostLeft = window.lostLeft;
    fit.lostRight = window.lostRight;
    return fit;
  }
  fit.first = marks ? inkFirst : 0;
  fit.sourceWidth = inkWidth;
  fit.width = head;
  fit.height = std::max<uint64_t>(1, (uint64_t{height} * head + inkWidth / 2) / inkWidth);
  fit.reduced = inkWidth > head;
  return fit;
}

void widenInk(std::span<const Rgb> row, uint32_t& first, uint32_t& end) {
  Rgb last{255, 255, 255};
  bool inked = false;
  for (uint32_t x = 0; x < row.size(); ++x) {
    const Rgb& dot = row[x];
    if (dot.r != last.r || dot.g != last.g || dot.b != last.b) {
      Coverage ink = separate(dot.r, dot.g, dot.b);
      inked = ink.black > 0 || ink.red > 0;
      last = dot;
    }
    if (inked) {
      first = std::min(first, x);
      end = std::max(end, x + 1);
    }
  }
}

RowScaler::RowScaler(uint32_t sourceWidth, uint32_t sourceHeight, uint32_t width, uint64_t height)
    : sourceHeight_(sourceHeight), height_(height), columnStart_(width), columnEnd_(width), sums_(3 * size_t{width}),
      out_(width) {
  // Page column x takes source columns [x * W / w, (x + 1) * W / w), at
  // least one.
  for (uint32_t x = 0; x < width; ++x) {
    columnStart_[x] = static_cast<uint32_t>(uint64_t{x} * sourceWidth / width);
    columnEnd_[x] = std::max(columnStart_[x] + 1, static_cast<uint32_t>(uint64_t{x + 1} * sourceWidth / width));
  }
}

uint64_t RowScaler::rowStart(uint64_t y) const { return y * sourceHeight_ / height_; }

uint64_t RowScaler::rowEnd(uint64_t y) const { return std::max(rowStart(y) + 1, (y + 1) * sourceHeight_ / height_); }

bool RowScaler::add(std::span<const Rgb> row, const Output& out) {
  if (row_ >= height_) return true;
  for (size_t x = 0; x < out_.size(); ++x) {
    for (uint32_t s = columnStart_[x]; s < columnEnd_[x]; ++s) {
      sums_[3 * x] += row[s].r;
      sums_[3 * x + 1] += row[s].g;
      sums_[3 * x + 2] += row[s].b;
    }
  }
  ++rowsSummed_;
  // The page rows this source row completes (several when enlarging).
  while (row_ < height_ && rowEnd(row_) == sourceRow_ + 1) {
    for (size_t x = 0; x < out_.size(); ++x) {
      uint64_t count = rowsSummed_ * (columnEnd_[x] - columnStart_[x]);
      auto mean = [&](size_t i) { return static_cast<uint8_t>((sums_[i] + count / 2) / count); };
      out_[x] = Rgb{mean(3 * x), mean(3 * x + 1), mean(3 * x + 2)};
    }
    if (!out(static_cast<uint32_t>(row_), out_)) return false;
    ++row_;
  }
  if (row_ >= height_ || rowStart(row_) > sourceRow_) {
    std::fill(sums_.begin(), sums_.end(), uint64_t{0});
    rowsSummed_ = 0;
  }
  ++sourceRow_;
  return true;
}
