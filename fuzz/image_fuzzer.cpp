// The Printer Application's PNG and JPEG reader and the placement of a
// picture on the head, on any file. The first input byte chooses the
// format, the head (576 or 384 dots) and print-scaling; the rest is the
// file. It is read as a job reads it: once for its size and the columns of
// its marks, then again through the row scaler. A reading must hand on
// exactly the rows it announced, each as wide, or refuse with a reason;
// the fit must lie on the head, and the scaler must make exactly the rows
// of the fit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/image_fit.h"
#include "app/image_reader.h"

namespace {

// Pictures larger than this are stopped after their size, so that one input
// cannot keep a run busy for seconds (the limits themselves are tested live).
constexpr uint64_t kDotBudget = 1u << 20;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "CHECK FAILED: %s\n", what);
    std::abort();
  }
}

// Reads the file once; returns the result and counts the rows handed on.
ImageResult readCounting(ImageFormat format, FILE* file, uint32_t& width, uint32_t& height, uint32_t& rows,
                         const std::function<bool(uint32_t, std::span<const Rgb>)>& each) {
  rows = 0;
  std::string why;
  ImageSink sink{[&](uint32_t w, uint32_t h) {
                   width = w;
                   height = h;
                   return uint64_t{w} * h <= kDotBudget;
                 },
                 [&](uint32_t y, std::span<const Rgb> row) {
                   check(y == rows++ && row.size() == width, "rows in order, each as wide as the picture");
                   return each(y, row);
                 }};
  ImageResult result = readImage(format, file, sink, why);
  check(result != ImageResult::Refused || !why.empty(), "a refusal says why");
  check(result != ImageResult::Done || rows == height, "a whole reading hands on every row");
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const ImageFormat format = data[0] & 1 ? ImageFormat::Jpeg : ImageFormat::Png;
  const uint32_t head = data[0] & 2 ? 384 : 576;
  const auto scaling = static_cast<ImageScaling>((data[0] >> 2) % 3);
  FILE* file = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb");
  if (file == nullptr) return 0;
  uint32_t width = 0, height = 0, rows = 0, inkFirst = UINT32_MAX, inkEnd = 0;
  ImageResult first = readCounting(format, file, width, height, rows, [&](uint32_t, std::span<const Rgb> row) {
    widenInk(row, inkFirst, inkEnd);
    return true;
  });
  ImageFit fit = fitImage(width, height, inkFirst, inkEnd, head, scaling);
  if (first == ImageResult::Done) {
    check(fit.left + fit.width <= head && fit.first + fit.sourceWidth <= width && fit.height > 0, "fit on the head");
  }
  if (first == ImageResult::Done && fit.height * fit.width <= kDotBudget) {
    RowScaler scaler(fit.sourceWidth, height, fit.width, fit.height);
    uint64_t made = 0;
    RowScaler::Output out = [&](uint32_t y, std::span<const Rgb> row) {
      check(y == made++ && row.size() == fit.width, "page rows in order, each as wide as the fit");
      return true;
    };
    uint32_t again = 0;
    readCounting(format, file, width, height, again, [&](uint32_t, std::span<const Rgb> row) {
      return scaler.add(row.subspan(fit.first, fit.sourceWidth), out);
    });
    check(again == rows && made == fit.height, "the second reading makes every page row");
  }
  std::fclose(file);
  return 0;
}
