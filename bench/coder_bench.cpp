// Timing of the per-byte and per-pixel stages (Google Benchmark): the
// run-length coder of the compressed raster command on receipt-like bands,
// and the prefilter's row decoding, colour separation and dithering on an
// 8-bit RGB receipt row.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output/compress.h"
#include "core/output_sink.h"
#include "image/raster_format.h"
#include "image/separate.h"

namespace {

// A band of 246 rows of 72 bytes: text-like rows (sparse glyph bytes),
// blank gaps and a solid bar, as a receipt's band looks.
std::vector<uint8_t> receiptBand() {
  std::vector<uint8_t> band(246 * 72);
  uint32_t state = 12345;
  for (size_t i = 0; i < band.size(); ++i) {
    state = state * 1103515245 + 12345;
    size_t row = i / 72;
    if (row % 30 >= 24) band[i] = 0;
    else if (row >= 200 && row < 210) band[i] = 0xFF;
    else band[i] = (state >> 24) % 3 == 0 ? static_cast<uint8_t>(state >> 16) : 0;
  }
  return band;
}

void compressReceipt(benchmark::State& state) {
  std::vector<uint8_t> band = receiptBand();
  std::string code;
  auto sink = std::make_unique<OutputSink>(appendToString, &code);
  for (auto _ : state) {
    CompressData(*sink, band.data(), static_cast<uint32_t>(band.size()));
    sink->flush();
    code.clear();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * band.size()));
}

// An RGB row of 576 pixels: mostly white, black and red text-like runs.
std::vector<uint8_t> rgbRow() {
  std::vector<uint8_t> row(576 * 3, 255);
  for (size_t x = 0; x < 576; ++x) {
    if (x % 12 < 4) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = 20;
    else if (x % 40 < 6) row[3 * x] = 220, row[3 * x + 1] = 30, row[3 * x + 2] = 35;
  }
  return row;
}

void separateReceiptRow(benchmark::State& state) {
  std::vector<uint8_t> in = rgbRow();
  std::vector<Rgb> pixels(576);
  std::vector<uint8_t> out(4 * 72);
  bool twoColour = state.range(0) != 0;
  uint32_t y = 0;
  for (auto _ : state) {
    decodeRow(InputLayout::Rgb8, in, pixels);
    encodeRow(pixels, y++, twoColour, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * 576));
}

}  // namespace

BENCHMARK(compressReceipt);
BENCHMARK(separateReceiptRow)->Arg(1)->Arg(0);

BENCHMARK_MAIN();
