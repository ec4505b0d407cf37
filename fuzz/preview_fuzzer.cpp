// The previewer's decoder and renderer on any byte stream. The decoded
// commands must tile the input from its first byte, up to the end or up to
// the command in which the reported error lies; a drawn canvas must hold one pixel per dot of its size and
// every placement must lie inside it; every stitched page must hold the rows
// it claims.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>

#include "fuzz/harness.h"
#include "tools/preview/decode.h"
#include "tools/preview/receipt.h"
#include "tools/preview/render.h"

namespace {

// Pages and pictures of up to this many bytes are built; a few bytes can
// describe far larger ones, which the fuzzing allocator (64 MiB at most)
// would fail.
constexpr uint64_t kBuildable = uint64_t{32} << 20;

void checkTiling(const preview::DecodeResult& decoded, size_t size) {
  size_t end = 0;
  for (const preview::Command& command : decoded.commands) {
    fuzz::check(command.offset == end && command.length > 0, "commands do not tile the input");
    end += command.length;
  }
  // An error names the offending byte, which may lie inside the command it stopped.
  bool stopped = decoded.error ? end <= decoded.error->offset && decoded.error->offset <= size : end == size;
  fuzz::check(stopped, "decoding stopped at the wrong offset");
}

void checkCanvas(const preview::Canvas& canvas) {
  fuzz::check(canvas.pixels.size() == size_t{canvas.width} * canvas.height, "canvas size");
  fuzz::check(canvas.paperWidth <= canvas.width, "paper wider than the canvas");
  for (const preview::Placement& p : canvas.placements) {
    fuzz::check(uint64_t{p.x} + p.width <= canvas.width && uint64_t{p.y} + p.height <= canvas.height,
                "a placement outside the canvas");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  preview::Preview result = preview::previewBytes({data, size});
  checkTiling(result.decoded, size);
  for (const preview::Command& command : result.decoded.commands) {
    fuzz::check(!preview::listLine(command).empty(), "empty list line");
  }
  // A stitched page is as wide as its widest band and as tall as all its
  // bands (bands of many rows of no bytes, then a wide one, ask for hundreds
  // of megabytes). Stitch only when even all bands in one page would fit.
  uint64_t widest = 0, rows = 0;
  for (const preview::ReceiptItem& item : result.receipt.items) {
    if (const auto* band = std::get_if<preview::RasterBand>(&item.body)) {
      widest = std::max<uint64_t>(widest, band->bytesPerRow);
      rows += band->rows;
    }
  }
  if (widest * rows <= kBuildable) {
    for (const preview::Planes& page : preview::stitchPages(result.receipt)) {
      size_t bytes = size_t{page.rows} * page.bytesPerRow;
      fuzz::check(page.black.size() == bytes && page.colour.size() == bytes, "stitched page size");
    }
  }
  preview::Canvas canvas;
  std::string error;
  // Larger pictures take the refusal path.
  preview::RenderOptions options{size > 0 && data[0] % 2 == 0 ? 384u : 576u, kBuildable};
  if (preview::renderReceipt(result.receipt, options, canvas, error)) {
    checkCanvas(canvas);
  } else {
    fuzz::check(!error.empty() && canvas.pixels.empty(), "a refused picture without a message");
  }
  return 0;
}
