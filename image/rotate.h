// Turning 1-bit planes by 90, 180 and 270 degrees. A plane is rows of
// bytes, most significant bit the leftmost dot; every row counts as
// 8 x bytesPerRow dots, padding dots included.
#pragma once

#include <cstdint>

// Turns the first `byteCount` bytes of `buffer` by 180 degrees in place:
// byte k becomes the bit reversal of byte byteCount - 1 - k. Touches nothing
// past them.
void rotate180Degree(uint8_t* buffer, uint32_t byteCount);

// Quarter turn clockwise of `rows` rows of `bytesPerRow` bytes into `dest`:
// 8 x bytesPerRow rows of (rows + 7) / 8 bytes, result dot (x, y) being
// source dot (y, rows - 1 - x); the last 8 x R' - rows dots of each result
// row are 0. Exactly 8 x bytesPerRow x R' bytes are written. `dest` must not
// overlap `source`. Needs no scratch memory and cannot fail.
void rotate90Degree(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow);

// Quarter turn counter-clockwise: result dot (x, y) is source dot
// (8 x bytesPerRow - 1 - y, x); otherwise as rotate90Degree.
void rotate270Degree(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow);
