// Counting blank rows (rows whose bytes are all 0) at either end of a plane.
// The counts look at whole bytes and whole rows only: a row with a dot in any
// byte, padding bits included, is not blank.
#pragma once

#include <cstddef>
#include <cstdint>

// Zero bytes at the start of the first `length` bytes of `bytes`, up to the
// first non-zero one (`length` when all are zero).
size_t leadingZeroBytes(const uint8_t* bytes, size_t length);

// Zero bytes at the end of the first `length` bytes of `bytes`, back to the
// last non-zero one (`length` when all are zero).
size_t trailingZeroBytes(const uint8_t* bytes, size_t length);

// Whole blank rows at the start of `rows` rows of `bytesPerRow` (> 0) bytes.
inline uint32_t leadingBlankRows(const uint8_t* plane, uint32_t rows, uint32_t bytesPerRow) {
  return static_cast<uint32_t>(leadingZeroBytes(plane, size_t{rows} * bytesPerRow) / bytesPerRow);
}

// Whole blank rows at the end of `rows` rows of `bytesPerRow` (> 0) bytes.
inline uint32_t trailingBlankRows(const uint8_t* plane, uint32_t rows, uint32_t bytesPerRow) {
  return static_cast<uint32_t>(trailingZeroBytes(plane, size_t{rows} * bytesPerRow) / bytesPerRow);
}
