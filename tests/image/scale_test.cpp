// Plane reduction: known answers, every single dot of small planes, then
// random planes against the OR-over-blocks reference with guard bytes.
#include "image/scale.h"

#include <gtest/gtest.h>

#include <random>

#include "plane_reference.h"
#include "support.h"

using namespace talvero_test;

namespace {

using ScaleFn = void (*)(const uint8_t*, uint8_t*, uint32_t, uint32_t);

struct Reduction {
  const char* name;
  ScaleFn fn;
  uint32_t factor;
};
const Reduction kReductions[] = {{"reduceToHalf", reduceToHalf, 2}, {"reduceToThird", reduceToThird, 3}};

// Runs a reduction into a dirty, guarded destination; the result bytes.
Bytes reduce(const Reduction& r, const Bytes& source, uint32_t rows, uint32_t bytesPerRow) {
  size_t size = size_t{(rows + r.factor - 1) / r.factor} * (bytesPerRow / r.factor);
  Bytes dest = guardedBuffer(size);
  r.fn(source.data(), dest.data(), rows, bytesPerRow);
  EXPECT_TRUE(guardsIntact(dest, size)) << r.name << " wrote past its result";
  dest.resize(size);
  return dest;
}

TEST(Scale, KnownAnswers) {
  EXPECT_EQ(hex("81"), reduce(kReductions[0], hex("80 00 00 01"), 2, 2));
  EXPECT_EQ(hex("81"), reduce(kReductions[1], hex("20 00 00 00 00 00 00 00 01"), 3, 3));
  // The table's odd runs: dots 6-8 straddle bytes 0 and 1, dots 15-17 bytes
  // 1 and 2, of a run of three bytes.
  EXPECT_EQ(hex("20"), reduce(kReductions[1], hex("00 80 00"), 1, 3));
  EXPECT_EQ(hex("04"), reduce(kReductions[1], hex("00 00 40"), 1, 3));
  EXPECT_EQ(hex("E7"), reduce(kReductions[1], hex("FF 00 FF"), 1, 3));
  // Rows too short for one block: rows of 0 bytes, nothing written.
  EXPECT_TRUE(reduce(kReductions[1], hex("FF FF FF FF"), 2, 2).empty());
  EXPECT_TRUE(reduce(kReductions[0], hex("FF FF FF"), 3, 1).empty());
}

// Each dot of a 7 x 7-byte plane (thirds) and a 5 x 5-byte plane (halves)
// set alone: exactly one result dot at (x / f, y / f), or an all-zero result
// (written over a dirty destination) for a dot in the bytes at the end of a
// row that fill no block. The last result row comes from the last source row
// alone.
TEST(Scale, EverySingleDot) {
  struct Size {
    const Reduction& reduction;
    uint32_t rows, bytesPerRow;
  };
  for (const Size& size : {Size{kReductions[1], 7, 7}, Size{kReductions[0], 5, 5}}) {
    uint32_t f = size.reduction.factor;
    uint32_t resultBytes = size.bytesPerRow / f;
    uint32_t resultRows = (size.rows + f - 1) / f;
    ASSERT_EQ(3u, resultRows);
    ASSERT_EQ(2u, resultBytes);
    for (uint32_t y = 0; y < size.rows; ++y) {
      for (uint32_t x = 0; x < 8 * size.bytesPerRow; ++x) {
        Plane source = blankPlane(size.rows, size.bytesPerRow);
        setDot(source, x, y);
        Plane expected = blankPlane(resultRows, resultBytes);
        if (x / f < 8 * resultBytes) setDot(expected, x / f, y / f);
        Bytes got = reduce(size.reduction, source.bytes, size.rows, size.bytesPerRow);
        ASSERT_EQ(expected.bytes, got) << size.reduction.name << " dot " << x << "," << y;
      }
    }
  }
}

// Random planes of 1 to 300 rows and 1 to 120 bytes, dense and sparse.
TEST(ScaleRandom, MatchesBlockReference) {
  std::mt19937 rng(424242);
  std::uniform_int_distribution<uint32_t> rowDist(1, 300);
  std::uniform_int_distribution<uint32_t> byteDist(1, 120);
  for (int round = 0; round < 120; ++round) {
    uint32_t rows = rowDist(rng);
    uint32_t bytesPerRow = byteDist(rng);
    // Sparse planes show a missed dot; dense ones mostly give FF.
    Plane source = randomPlane(rng, rows, bytesPerRow, round % 4 != 0);
    for (const Reduction& r : kReductions) {
      Plane expected = referenceScale(source, r.factor);
      Bytes got = reduce(r, source.bytes, rows, bytesPerRow);
      ASSERT_EQ(toString(expected.bytes), toString(got))
          << r.name << " rows " << rows << " bytes " << bytesPerRow << "\n"
          << describeMismatch(toString(expected.bytes), toString(got));
    }
  }
}

}  // namespace
