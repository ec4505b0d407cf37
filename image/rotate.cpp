// Turning 1-bit planes. The half turn reverses the byte order and the bit
// order of every byte, eight bytes at a time from both ends. The quarter
// turns cut the plane into blocks of 8 rows x 1 byte (8 x 8 dots), transpose
// each block as one 64-bit word and store its eight bytes in the eight result
// rows that the block's dot columns become. Rows past the end of the plane in
// the last block count as blank and become the padding dots of the result
// rows. No scratch memory is needed, so the quarter turns cannot fail.
#include "image/rotate.h"

#include <cstddef>
#include <cstring>

#include "image/words.h"

namespace {

// Reverses the bit order inside each of the eight bytes of `word`.
inline uint64_t reverseBitsInBytes(uint64_t word) {
  word = ((word >> 4) & 0x0F0F0F0F0F0F0F0FULL) | ((word & 0x0F0F0F0F0F0F0F0FULL) << 4);
  word = ((word >> 2) & 0x3333333333333333ULL) | ((word & 0x3333333333333333ULL) << 2);
  word = ((word >> 1) & 0x5555555555555555ULL) | ((word & 0x5555555555555555ULL) << 1);
  return word;
}

// Eight bytes turned by 180 degrees: byte order and bit order reversed.
inline uint64_t turnWord(uint64_t word) {
  return reverseBitsInBytes(__builtin_bswap64(word));
}

// One byte with its bit order reversed (80 becomes 01, 03 becomes C0).
inline uint8_t reverseBits(uint8_t byte) {
  byte = static_cast<uint8_t>((byte >> 4) | (byte << 4));
  byte = static_cast<uint8_t>(((byte & 0xCC) >> 2) | ((byte & 0x33) << 2));
  byte = static_cast<uint8_t>(((byte & 0xAA) >> 1) | ((byte & 0x55) << 1));
  return byte;
}

// Transposes an 8 x 8 dot block held with row r in byte 7 - r of the word
// (row 0 the most significant byte) and dot column c in bit 7 - c of its
// byte. Returns the block with rows and columns exchanged, in the same form.
inline uint64_t transpose8x8(uint64_t x) {
  uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAULL;
  x ^= t ^ (t << 7);
  t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCULL;
  x ^= t ^ (t << 14);
  t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ULL;
  x ^= t ^ (t << 28);
  return x;
}

// The eight source rows that make one result byte column; a row past either
// end of the plane is null and reads as blank.
struct RowGroup {
  const uint8_t* row[8];
  bool full;  // all eight rows exist
};

// Gathers byte `u` of the eight rows of `group` into one word, row 0 of the
// group in the most significant byte.
inline uint64_t gatherBlock(const RowGroup& group, uint32_t u) {
  uint64_t block = 0;
  if (group.full) {
    for (int t = 0; t < 8; ++t) block = (block << 8) | group.row[t][u];
  } else {
    for (int t = 0; t < 8; ++t) block = (block << 8) | (group.row[t] ? group.row[t][u] : 0u);
  }
  return block;
}

}  // namespace

// Turns the first byteCount bytes in place by 180 degrees; returns nothing.
void rotate180Degree(uint8_t* buffer, uint32_t byteCount) {
  size_t front = 0;
  size_t back = byteCount;  // one past the last byte not yet turned
  // Eight bytes from each end change places, each word turned.
  while (back - front >= 16) {
    uint64_t head = load64(buffer + front);
    uint64_t tail = load64(buffer + back - 8);
    store64(buffer + front, turnWord(tail));
    store64(buffer + back - 8, turnWord(head));
    front += 8;
    back -= 8;
  }
  // The middle, fewer than 16 bytes, pairwise; an odd middle byte alone.
  while (back - front >= 2) {
    uint8_t head = buffer[front];
    buffer[front] = reverseBits(buffer[back - 1]);
    buffer[back - 1] = reverseBits(head);
    ++front;
    --back;
  }
  if (back - front == 1) buffer[front] = reverseBits(buffer[front]);
}

namespace {

// Both quarter turns. Result byte j of every result row packs eight source
// rows: clockwise rows R - 1 - 8j down to R - 8 - 8j, counter-clockwise rows
// 8j to 8j + 7, the first of them in its most significant bit. Source dot
// column x becomes result row x clockwise, and row 8B - 1 - x
// counter-clockwise (the rightmost source column is the top result row).
template <bool Clockwise>
void quarterTurn(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow) {
  const size_t resultBytesPerRow = (size_t{rows} + 7) / 8;
  const size_t columns = size_t{bytesPerRow} * 8;
  // Result rows x' = 8u + c (clockwise) or 8B - 1 - 8u - c follow each other
  // at this distance in the destination.
  const ptrdiff_t step = Clockwise ? static_cast<ptrdiff_t>(resultBytesPerRow)
                                   : -static_cast<ptrdiff_t>(resultBytesPerRow);
  for (size_t j = 0; j < resultBytesPerRow; ++j) {
    RowGroup group{{}, true};
    for (size_t t = 0; t < 8; ++t) {
      size_t k = 8 * j + t;
      if (k < rows) {
        group.row[t] = source + (Clockwise ? rows - 1 - k : k) * size_t{bytesPerRow};
      } else {
        group.row[t] = nullptr;
        group.full = false;
      }
    }
    // The result byte of source dot column 0 (clockwise: result row 0;
    // counter-clockwise: the last result row).
    uint8_t* out = dest + j + (Clockwise ? 0 : (columns - 1) * resultBytesPerRow);
    for (uint32_t u = 0; u < bytesPerRow; ++u, out += 8 * step) {
      uint64_t block = gatherBlock(group, u);
      // Blank blocks, the most common on a receipt, need no transposing.
      if (block != 0) block = transpose8x8(block);
      uint8_t* at = out;
      for (int c = 0; c < 8; ++c, at += step) *at = static_cast<uint8_t>(block >> (56 - 8 * c));
    }
  }
}

}  // namespace

void rotate90Degree(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow) {
  quarterTurn<true>(source, dest, rows, bytesPerRow);
}

void rotate270Degree(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow) {
  quarterTurn<false>(source, dest, rows, bytesPerRow);
}
