// Reading PNG and JPEG documents row by row, for the Printer Application's
// image jobs (libpng, libjpeg). Every row comes out as 8-bit RGB, transparent
// parts laid on white paper. The reader never holds more than a few rows,
// except for the two layouts that need the whole picture before its first
// row: an interlaced PNG (its RGB pixels) and a progressive JPEG (libjpeg's
// coefficients, about 2 bytes per pixel and colour channel); both are held
// only up to kMaxHeldBytes. A file that breaks a limit, is damaged or ends
// early is refused with the reason in words; no input makes the reader
// crash, loop or allocate past its limits.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "image/separate.h"

enum class ImageFormat : uint8_t { Png, Jpeg };

// The largest picture read: at most 32768 dots on a side (the widest is
// reduced to the head's width), 2^20 rows and 2^27 dots in all, so one
// reading takes a second or two at most.
constexpr uint32_t kMaxImageSide = 32768;
constexpr uint32_t kMaxImageRows = 1u << 20;
constexpr uint64_t kMaxImageDots = uint64_t{1} << 27;
// Memory for a picture that must be held whole (see above).
constexpr uint64_t kMaxHeldBytes = uint64_t{64} << 20;
// Scans of a progressive JPEG: real files have about ten.
constexpr int kMaxJpegScans = 500;

// What a reading hands on: the size once, before the first row (false
// stops the reading), then each row top to bottom (false stops it).
struct ImageSink {
  std::function<bool(uint32_t width, uint32_t height)> size;
  std::function<bool(uint32_t y, std::span<const Rgb> row)> row;
};

// How a reading ended.
enum class ImageResult : uint8_t {
  Done,     // every row was handed on
  Stopped,  // the sink stopped it
  Refused,  // damaged, too large or not of its format: the reason is in `why`
};

// Reads the picture in `file` (rewound first) as `format`.
ImageResult readImage(ImageFormat format, FILE* file, const ImageSink& sink, std::string& why);
