// The Printer Application's PNG and JPEG reader and a picture's fit on the
// head, on any file. The first input byte chooses the format, the head (576
// or 384 dots) and print-scaling; the rest is the file, read twice as a job
// reads it. A reading hands on exactly the rows it announced, each as wide,
// or refuses with a reason; the fit lies on the head; the scaler makes
// every row of the fit.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/image_fit.h"
#include "app/image_reader.h"

namespace {

// Larger pictures are stopped after their size (their limits are tested
// live), so that no input keeps a run busy for seconds.
constexpr uint64_t kDotBudget = 1u << 20;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "CHECK FAILED: %s\n", what);
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = size >= 2 ? fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb") : nullptr;
  if (file == nullptr) return 0;
  const ImageFormat format = data[0] & 1 ? ImageFormat::Jpeg : ImageFormat::Png;
  const auto scaling = static_cast<ImageScaling>((data[0] >> 2) % 3);
  uint32_t width = 0, height = 0, rows = 0, inkFirst = UINT32_MAX, inkEnd = 0;
  uint64_t made = 0;
  ImageFit fit;
  std::optional<RowScaler> scaler;  // for the second reading
  RowScaler::Output out = [&](uint32_t y, std::span<const Rgb> row) {
    check(y == made++ && row.size() == fit.width, "page rows in order, as wide as the fit");
    return true;
  };
  ImageSink sink{[&](uint32_t w, uint32_t h) {
                   width = w, height = h, rows = 0;
                   return uint64_t{w} * h <= kDotBudget;
                 },
                 [&](uint32_t y, std::span<const Rgb> row) {
                   check(y == rows++ && row.size() == width, "rows in order, as wide as announced");
                   if (!scaler) widenInk(row, inkFirst, inkEnd);
                   return !scaler || scaler->add(row.subspan(fit.first, fit.sourceWidth), out);
                 }};
  std::string why;
  for (int reading = 0; reading < 2; ++reading) {
    ImageResult result = readImage(format, file, sink, why);
    check(result != ImageResult::Refused || !why.empty(), "a refusal says why");
    check(result != ImageResult::Done || rows == height, "a whole reading hands on every row");
    if (result != ImageResult::Done) break;
    if (scaler) {
      check(made == fit.height, "the scaler makes every row of the fit");
      break;
    }
    fit = fitImage(width, height, inkFirst, inkEnd, data[0] & 2 ? 384 : 576, scaling);
    check(fit.left + fit.width <= fit.pageWidth && fit.first + fit.sourceWidth <= width && fit.height > 0,
          "the fit lies on the head");
    if (fit.height * fit.width > kDotBudget) break;
    scaler.emplace(fit.sourceWidth, height, fit.width, fit.height);
  }
  std::fclose(file);
  return 0;
}
