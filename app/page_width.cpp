// The print head's width and the crop rule; see page_width.h.
#include "app/page_width.h"

#include <algorithm>
#include <cstdlib>

#include "app/job_options.h"
#include "image/blank_rows.h"

namespace {

constexpr int kHundredthsPerInch = 2540;

// Bit x of a 1-bit row, most significant bit first.
bool dotAt(const uint8_t* band, uint32_t x) {
  return (band[x / 8] & (0x80 >> (x % 8))) != 0;
}

// Widens [first, end) to take the dots of one band.
void takeBand(const uint8_t* band, uint32_t bytes, uint32_t& first, uint32_t& end) {
  size_t lead = leadingZeroBytes(band, bytes);
  if (lead == bytes) return;
  size_t trail = trailingZeroBytes(band, bytes);
  auto x = static_cast<uint32_t>(lead * 8);
  while (!dotAt(band, x)) ++x;
  auto last = static_cast<uint32_t>((bytes - trail) * 8 - 1);
  while (!dotAt(band, last)) --last;
  first = std::min(first, x);
  end = std::max(end, last + 1);
}

}  // namespace

uint32_t printableWidth(uint32_t widthDots, uint32_t dpi) {
  std::span<const MediaSize> sizes = mediaSizes();
  const MediaSize* paper = &sizes[0];
  if (dpi > 0) {
    int64_t hundredths = int64_t{widthDots} * kHundredthsPerInch / dpi;
    auto match = std::find_if(sizes.begin(), sizes.end(),
                              [&](const MediaSize& size) { return std::abs(size.width - hundredths) <= 100; });
    if (match != sizes.end()) paper = &*match;
  }
  int64_t imageable = paper->width - 2 * paper->sideMargin;
  int64_t resolution = dpi > 0 ? dpi : 203;
  return static_cast<uint32_t>((imageable * resolution + kHundredthsPerInch / 2) / kHundredthsPerInch);
}

CropWindow chooseWindow(uint32_t width, uint32_t target, uint32_t inkFirst, uint32_t inkEnd) {
  CropWindow window;
  window.width = std::min(width, target);
  if (width <= target) return window;
  const int64_t centred = (width - target) / 2;
  if (inkFirst >= inkEnd) {
    window.first = static_cast<uint32_t>(centred);
  } else if (inkEnd - inkFirst <= target) {
    // The window nearest the centre that holds every mark.
    window.first = static_cast<uint32_t>(std::min<int64_t>(std::max<int64_t>(centred, int64_t{inkEnd} - target), inkFirst));
  } else {
    window.first = inkFirst + (inkEnd - inkFirst - target) / 2;
    window.lostLeft = window.first - inkFirst;
    window.lostRight = inkEnd - (window.first + target);
  }
  return window;
}

bool inkedColumns(const uint8_t* rows, uint32_t rowCount, uint32_t bands, uint32_t width, uint32_t& first,
                  uint32_t& end) {
  const uint32_t bandBytes = (width + 7) / 8;
  first = width;
  end = 0;
  for (size_t band = 0; band < size_t{rowCount} * bands; ++band) {
    takeBand(rows + band * bandBytes, bandBytes, first, end);
  }
  return first < end;
}

void cropRows(uint8_t* rows, uint32_t rowCount, uint32_t bands, uint32_t width, const CropWindow& window) {
  const uint32_t oldBytes = (width + 7) / 8;
  const uint32_t newBytes = (window.width + 7) / 8;
  const uint32_t skip = window.first / 8;
  const uint32_t shift = window.first % 8;
  const auto padMask = static_cast<uint8_t>(window.width % 8 ? 0xFF << (8 - window.width % 8) : 0xFF);
  // Each band moves to an address no later than its own, so reading ahead
  // of the byte written never meets a byte already rewritten.
  for (size_t band = 0; band < size_t{rowCount} * bands; ++band) {
    const uint8_t* source = rows + band * oldBytes + skip;
    uint8_t* dest = rows + band * newBytes;
    for (uint32_t i = 0; i < newBytes; ++i) {
      unsigned high = source[i] << shift;
      unsigned low = shift != 0 && skip + i + 1 < oldBytes ? source[i + 1] >> (8 - shift) : 0;
      dest[i] = static_cast<uint8_t>(high | low);
    }
    dest[newBytes - 1] &= padMask;
  }
}
