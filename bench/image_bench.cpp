// Timing of the plane operations on two page sizes (2000 rows of 72 bytes,
// a 576-dot receipt; 3000 rows of 216 bytes), each against a straightforward
// version of the same operation kept here for comparison: quarter turns that
// gather one dot column at a time through a byte-per-row scratch, reductions
// that test each dot of a block one by one, and focus windows that spread the
// whole plane into a byte-per-dot scratch before packing the window.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include <cups/raster.h>

#include "image/focus.h"
#include "image/rotate.h"
#include "image/scale.h"

namespace {

// ---- straightforward versions ----

// Quarter turn through a column scratch of one byte per source row.
// `clockwise` picks rotate90 or rotate270.
int straightQuarterTurn(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow,
                        bool clockwise) {
  uint32_t resultBytes = (rows + 7) / 8;
  auto* column = static_cast<uint8_t*>(std::calloc(size_t{resultBytes} * 8, 1));
  if (column == nullptr) return 1;
  size_t out = 0;
  for (uint32_t n = 0; n < bytesPerRow; ++n) {
    uint32_t u = clockwise ? n : bytesPerRow - 1 - n;
    for (int bit = 0; bit < 8; ++bit) {
      uint8_t mask = static_cast<uint8_t>(clockwise ? 0x80 >> bit : 0x01 << bit);
      for (uint32_t k = 0; k < rows; ++k) {
        uint32_t row = clockwise ? rows - 1 - k : k;
        column[k] = (source[size_t{row} * bytesPerRow + u] & mask) ? 1 : 0;
      }
      for (uint32_t j = 0; j < resultBytes; ++j) {
        uint8_t byte = 0;
        for (int t = 0; t < 8; ++t) byte = static_cast<uint8_t>((byte << 1) | column[8 * j + t]);
        dest[out++] = byte;
      }
    }
  }
  std::free(column);
  return 0;
}

// Half turn pairwise from both ends, one byte at a time.
void straightHalfTurn(uint8_t* buffer, uint32_t byteCount) {
  auto reverse = [](uint8_t b) {
    b = static_cast<uint8_t>((b >> 4) | (b << 4));
    b = static_cast<uint8_t>(((b & 0xCC) >> 2) | ((b & 0x33) << 2));
    return static_cast<uint8_t>(((b & 0xAA) >> 1) | ((b & 0x55) << 1));
  };
  if (byteCount == 0) return;
  uint32_t i = 0, j = byteCount - 1;
  while (i < j) {
    uint8_t head = reverse(buffer[i]);
    buffer[i++] = reverse(buffer[j]);
    buffer[j--] = head;
  }
  if (i == j) buffer[i] = reverse(buffer[i]);
}

// Reduction by `factor` testing each dot of each block through eight slots.
int straightScale(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow,
                  uint32_t factor) {
  auto* slot = static_cast<uint8_t*>(std::calloc(8, 1));
  if (slot == nullptr) return 1;
  uint32_t resultBytes = bytesPerRow / factor;
  size_t out = 0;
  for (uint32_t g = 0; g * factor < rows; ++g) {
    for (uint32_t j = 0; j < resultBytes; ++j) {
      for (uint32_t k = 0; k < 8; ++k) {
        slot[k] = 0;
        for (uint32_t dy = 0; dy < factor && g * factor + dy < rows; ++dy) {
          const uint8_t* row = source + size_t{g * factor + dy} * bytesPerRow + j * factor;
          for (uint32_t dx = 0; dx < factor; ++dx) {
            uint32_t dot = factor * k + dx;
            if (row[dot / 8] & (0x80 >> (dot % 8))) slot[k] = 1;
          }
        }
      }
      uint8_t byte = 0;
      for (int k = 0; k < 8; ++k) byte = static_cast<uint8_t>((byte << 1) | slot[k]);
      dest[out++] = byte;
    }
  }
  std::free(slot);
  return 0;
}

// Window of `width` bytes from `start` through a byte-per-dot scratch.
int straightWindow(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow,
                   uint32_t start, uint32_t width) {
  size_t bytes = size_t{rows} * bytesPerRow;
  auto* dots = static_cast<uint8_t*>(std::calloc(8 * bytes, 1));
  if (dots == nullptr) return 1;
  for (size_t n = 0; n < bytes; ++n)
    for (int b = 0; b < 8; ++b) dots[8 * n + b] = (source[n] >> (7 - b)) & 1;
  size_t out = 0;
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t i = 0; i < width; ++i) {
      const uint8_t* at = dots + 8 * (size_t{y} * bytesPerRow + start + i);
      uint8_t byte = 0;
      for (int b = 0; b < 8; ++b) byte = static_cast<uint8_t>((byte << 1) | at[b]);
      dest[out++] = byte;
    }
  std::free(dots);
  return 0;
}

// ---- benchmarks ----

// A page of printed text is mostly blank with dense strokes: random bytes
// on about one row in three.
std::vector<uint8_t> samplePage(uint32_t rows, uint32_t bytesPerRow) {
  std::mt19937 rng(rows * 1000 + bytesPerRow);
  std::vector<uint8_t> page(size_t{rows} * bytesPerRow, 0);
  for (uint32_t y = 0; y < rows; ++y) {
    if (rng() % 3 != 0) continue;
    for (uint32_t i = 0; i < bytesPerRow; ++i) page[size_t{y} * bytesPerRow + i] = static_cast<uint8_t>(rng());
  }
  return page;
}

enum class Op { Rotate90, Rotate270, Rotate180, ReduceToHalf, ReduceToThird, FocusCenter, FocusRight };

// Runs `op` once, ours or the straightforward version, on `source` (turned
// in place by the half turn) into `dest`.
void applyOp(Op op, bool straight, std::vector<uint8_t>& source, std::vector<uint8_t>& dest, uint32_t rows,
             uint32_t b, const cups_page_header_t& header) {
  uint8_t* from = source.data();
  uint8_t* to = dest.data();
  switch (op) {
    case Op::Rotate90:
      if (straight) straightQuarterTurn(from, to, rows, b, true); else rotate90Degree(from, to, rows, b);
      break;
    case Op::Rotate270:
      if (straight) straightQuarterTurn(from, to, rows, b, false); else rotate270Degree(from, to, rows, b);
      break;
    case Op::Rotate180:
      if (straight) straightHalfTurn(from, rows * b); else rotate180Degree(from, rows * b);
      break;
    case Op::ReduceToHalf:
      if (straight) straightScale(from, to, rows, b, 2); else reduceToHalf(from, to, rows, b);
      break;
    case Op::ReduceToThird:
      if (straight) straightScale(from, to, rows, b, 3); else reduceToThird(from, to, rows, b);
      break;
    case Op::FocusCenter:
      if (straight) straightWindow(from, to, rows, b, b / 2 - 32, 64); else SelectFocusAreaCenter(from, to, header);
      break;
    case Op::FocusRight:
      if (straight) straightWindow(from, to, rows, b, b / 3, b - b / 3); else SelectFocusArea(from, to, header, 0);
      break;
  }
}

// Times `op` (ours, or the straightforward version when `straight`) on a
// page of state.range(0) rows of state.range(1) bytes, after checking once
// that both versions give the same bytes.
void runOp(benchmark::State& state, Op op, bool straight) {
  uint32_t rows = static_cast<uint32_t>(state.range(0));
  uint32_t b = static_cast<uint32_t>(state.range(1));
  std::vector<uint8_t> source = samplePage(rows, b);
  std::vector<uint8_t> dest(size_t{8} * b * ((rows + 7) / 8) + 64);
  cups_page_header_t header{};
  header.cupsHeight = rows;
  header.cupsBytesPerLine = b;
  header.cupsWidth = 8 * b;

  std::vector<uint8_t> ourSource = source, ourDest = dest, straightSource = source, straightDest = dest;
  applyOp(op, false, ourSource, ourDest, rows, b, header);
  applyOp(op, true, straightSource, straightDest, rows, b, header);
  if (ourSource != straightSource || ourDest != straightDest) {
    state.SkipWithError("results differ from the straightforward version");
    return;
  }

  for (auto _ : state) {
    applyOp(op, straight, source, dest, rows, b, header);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * rows * b);
}

void pageSizes(benchmark::internal::Benchmark* bench) {
  bench->Args({2000, 72})->Args({3000, 216})->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK_CAPTURE(runOp, rotate90, Op::Rotate90, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, rotate90_straight, Op::Rotate90, true)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, rotate270, Op::Rotate270, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, rotate270_straight, Op::Rotate270, true)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, rotate180, Op::Rotate180, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, rotate180_straight, Op::Rotate180, true)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, reduce_to_half, Op::ReduceToHalf, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, reduce_to_half_straight, Op::ReduceToHalf, true)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, reduce_to_third, Op::ReduceToThird, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, reduce_to_third_straight, Op::ReduceToThird, true)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, focus_center, Op::FocusCenter, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, focus_center_straight, Op::FocusCenter, true)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, focus_right, Op::FocusRight, false)->Apply(pageSizes);
BENCHMARK_CAPTURE(runOp, focus_right_straight, Op::FocusRight, true)->Apply(pageSizes);

BENCHMARK_MAIN();
