// Dot-by-dot references for the plane operations, written straight from the
// dot mappings with no attempt at speed, and random planes to feed them.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "support.h"

namespace talvero_test {

// A plane of `rows` rows of `bytesPerRow` bytes.
struct Plane {
  uint32_t rows = 0;
  uint32_t bytesPerRow = 0;
  Bytes bytes;

  bool dot(uint32_t x, uint32_t y) const {
    return (bytes[size_t{y} * bytesPerRow + x / 8] >> (7 - x % 8)) & 1;
  }
};

// An empty plane of the given size.
inline Plane blankPlane(uint32_t rows, uint32_t bytesPerRow) {
  return Plane{rows, bytesPerRow, Bytes(size_t{rows} * bytesPerRow, 0)};
}

// Sets dot (x, y) of `plane`.
inline void setDot(Plane& plane, uint32_t x, uint32_t y) {
  plane.bytes[size_t{y} * plane.bytesPerRow + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
}

// A random plane: each byte random (dense) or, for a sparse plane, each dot
// set with probability 1/64.
inline Plane randomPlane(std::mt19937& rng, uint32_t rows, uint32_t bytesPerRow, bool sparse) {
  Plane plane = blankPlane(rows, bytesPerRow);
  if (sparse) {
    std::uniform_int_distribution<int> chance(0, 63);
    for (uint32_t y = 0; y < rows; ++y)
      for (uint32_t x = 0; x < 8 * bytesPerRow; ++x)
        if (chance(rng) == 0) setDot(plane, x, y);
  } else {
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& b : plane.bytes) b = static_cast<uint8_t>(byte(rng));
  }
  return plane;
}

// Half turn: dot (x, y) goes to (8B - 1 - x, R - 1 - y).
inline Plane referenceRotate180(const Plane& source) {
  Plane result = blankPlane(source.rows, source.bytesPerRow);
  for (uint32_t y = 0; y < source.rows; ++y)
    for (uint32_t x = 0; x < 8 * source.bytesPerRow; ++x)
      if (source.dot(x, y)) setDot(result, 8 * source.bytesPerRow - 1 - x, source.rows - 1 - y);
  return result;
}

// Quarter turn clockwise: result (x', y') = source (y', R - 1 - x').
inline Plane referenceRotate90(const Plane& source) {
  Plane result = blankPlane(8 * source.bytesPerRow, (source.rows + 7) / 8);
  for (uint32_t yr = 0; yr < result.rows; ++yr)
    for (uint32_t xr = 0; xr < source.rows; ++xr)
      if (source.dot(yr, source.rows - 1 - xr)) setDot(result, xr, yr);
  return result;
}

// Quarter turn counter-clockwise: result (x', y') = source (8B - 1 - y', x').
inline Plane referenceRotate270(const Plane& source) {
  Plane result = blankPlane(8 * source.bytesPerRow, (source.rows + 7) / 8);
  for (uint32_t yr = 0; yr < result.rows; ++yr)
    for (uint32_t xr = 0; xr < source.rows; ++xr)
      if (source.dot(8 * source.bytesPerRow - 1 - yr, xr)) setDot(result, xr, yr);
  return result;
}

// Reduction by `factor` (2 or 3): result dot (X, Y) is the OR of the source
// dots of its block; dots of bytes that fill no whole block take no part.
inline Plane referenceScale(const Plane& source, uint32_t factor) {
  Plane result = blankPlane((source.rows + factor - 1) / factor, source.bytesPerRow / factor);
  for (uint32_t y = 0; y < result.rows; ++y)
    for (uint32_t x = 0; x < 8 * result.bytesPerRow; ++x) {
      bool any = false;
      for (uint32_t dy = 0; dy < factor; ++dy)
        for (uint32_t dx = 0; dx < factor; ++dx) {
          uint32_t sy = factor * y + dy;
          if (sy < source.rows && source.dot(factor * x + dx, sy)) any = true;
        }
      if (any) setDot(result, x, y);
    }
  return result;
}

// Window of `width` bytes from byte `start` of every row, by byte copies.
inline Plane referenceWindow(const Plane& source, uint32_t start, uint32_t width) {
  Plane result = blankPlane(source.rows, width);
  for (uint32_t y = 0; y < source.rows; ++y)
    for (uint32_t i = 0; i < width; ++i)
      result.bytes[size_t{y} * width + i] = source.bytes[size_t{y} * source.bytesPerRow + start + i];
  return result;
}

// The first `size` bytes of `buffer` as a string, for describeMismatch.
inline std::string prefix(const Bytes& buffer, size_t size) {
  return std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
}

// A destination of `size` bytes followed by guard bytes, all set to `fill`.
constexpr size_t kGuardBytes = 16;
constexpr uint8_t kGuard = 0xA5;
inline Bytes guardedBuffer(size_t size, uint8_t fill = kGuard) {
  return Bytes(size + kGuardBytes, fill);
}

// True when the guard bytes past `size` are untouched.
inline bool guardsIntact(const Bytes& buffer, size_t size, uint8_t fill = kGuard) {
  for (size_t i = size; i < buffer.size(); ++i)
    if (buffer[i] != fill) return false;
  return true;
}

}  // namespace talvero_test
