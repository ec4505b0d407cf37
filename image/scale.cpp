// Reducing 1-bit planes by OR over square blocks of dots. The rows of one
// block row are ORed byte by byte first; the merged bytes then go through
// lookup tables that OR each run of two (or three) neighbouring dots into one
// result dot. A run of three bytes holds exactly eight runs of three dots, and
// a pair of bytes eight runs of two, so every result byte comes from its own
// bytes of the source rows. No scratch memory is needed: neither reduction
// can fail.
#include "image/scale.h"

#include <array>
#include <cstddef>

namespace {

// For byte `position` of a run of `runBytes` bytes (24 dots in thirds, or 16
// in halves), the result bits each value of that byte sets: dot d of the run
// belongs to result dot d / `dotsPerResult`, result dot 0 being bit 7.
constexpr std::array<uint8_t, 256> makeTable(int position, int dotsPerResult) {
  std::array<uint8_t, 256> table{};
  for (int value = 0; value < 256; ++value) {
    uint8_t result = 0;
    for (int bit = 0; bit < 8; ++bit) {
      if (value & (0x80 >> bit)) {
        int dot = 8 * position + bit;
        result = static_cast<uint8_t>(result | (0x80 >> (dot / dotsPerResult)));
      }
    }
    table[value] = result;
  }
  return table;
}

constexpr std::array<uint8_t, 256> kThirdOfByte0 = makeTable(0, 3);
constexpr std::array<uint8_t, 256> kThirdOfByte1 = makeTable(1, 3);
constexpr std::array<uint8_t, 256> kThirdOfByte2 = makeTable(2, 3);
constexpr std::array<uint8_t, 256> kHalfOfByte0 = makeTable(0, 2);
constexpr std::array<uint8_t, 256> kHalfOfByte1 = makeTable(1, 2);

// The OR of byte `i` over the first `Count` rows of `rows`.
template <int Count>
inline uint8_t mergedByte(const uint8_t* const* rows, size_t i) {
  uint8_t merged = rows[0][i];
  for (int r = 1; r < Count; ++r) merged = static_cast<uint8_t>(merged | rows[r][i]);
  return merged;
}

// One result row of the one-third reduction from `Count` source rows.
template <int Count>
void thirdRow(const uint8_t* const* rows, uint8_t* out, size_t resultBytes) {
  for (size_t j = 0; j < resultBytes; ++j) {
    out[j] = kThirdOfByte0[mergedByte<Count>(rows, 3 * j)] |
             kThirdOfByte1[mergedByte<Count>(rows, 3 * j + 1)] |
             kThirdOfByte2[mergedByte<Count>(rows, 3 * j + 2)];
  }
}

// One result row of the one-half reduction from `Count` source rows.
template <int Count>
void halfRow(const uint8_t* const* rows, uint8_t* out, size_t resultBytes) {
  for (size_t j = 0; j < resultBytes; ++j) {
    out[j] = kHalfOfByte0[mergedByte<Count>(rows, 2 * j)] |
             kHalfOfByte1[mergedByte<Count>(rows, 2 * j + 1)];
  }
}

}  // namespace

void reduceToThird(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow) {
  const size_t resultBytes = bytesPerRow / 3;
  if (resultBytes == 0) return;
  for (size_t y = 0; y < rows; y += 3) {
    // A last block row that runs past the plane takes the rows that exist.
    const uint8_t* group[3];
    size_t count = rows - y < 3 ? rows - y : 3;
    for (size_t r = 0; r < count; ++r) group[r] = source + (y + r) * bytesPerRow;
    uint8_t* out = dest + (y / 3) * resultBytes;
    if (count == 3) thirdRow<3>(group, out, resultBytes);
    else if (count == 2) thirdRow<2>(group, out, resultBytes);
    else thirdRow<1>(group, out, resultBytes);
  }
}

void reduceToHalf(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow) {
  const size_t resultBytes = bytesPerRow / 2;
  if (resultBytes == 0) return;
  for (size_t y = 0; y < rows; y += 2) {
    const uint8_t* pair[2];
    size_t count = rows - y < 2 ? rows - y : 2;
    for (size_t r = 0; r < count; ++r) pair[r] = source + (y + r) * bytesPerRow;
    uint8_t* out = dest + (y / 2) * resultBytes;
    if (count == 2) halfRow<2>(pair, out, resultBytes);
    else halfRow<1>(pair, out, resultBytes);
  }
}
