// Focus windows: the window of each row width and Rotation, compared with
// byte copies of the source rows, rows packed, nothing written past them.
#include "image/focus.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "plane_reference.h"
#include "support.h"

using namespace talvero_test;

namespace {

// A window function given the rotation the page has had.
using Window = int (*)(const uint8_t*, uint8_t*, const cups_page_header_t&, int32_t);

// The centred window, which does not look at the rotation.
int centred(const uint8_t* source, uint8_t* dest, const cups_page_header_t& header, int32_t) {
  return SelectFocusAreaCenter(source, dest, header);
}

class FocusTest : public testing::Test {
 protected:
  // Runs `fn` on `source` with the rotation `rotation` and checks the
  // result against bytes start to start + width - 1 of every row.
  void expectWindow(Window fn, const Plane& source, int32_t rotation, uint32_t start, uint32_t width) {
    cups_page_header_t header = makeHeader(8 * source.bytesPerRow, source.rows);
    ASSERT_EQ(source.bytesPerRow, header.cupsBytesPerLine);
    const cups_page_header_t before = header;
    Plane expected = referenceWindow(source, start, width);
    Bytes dest = guardedBuffer(expected.bytes.size());
    ASSERT_EQ(0, fn(source.bytes.data(), dest.data(), header, rotation));
    EXPECT_EQ(toString(expected.bytes), prefix(dest, expected.bytes.size()))
        << "B=" << source.bytesPerRow << " Rotation=" << rotation << "\n"
        << describeMismatch(toString(expected.bytes), prefix(dest, expected.bytes.size()));
    EXPECT_TRUE(guardsIntact(dest, expected.bytes.size())) << "wrote past the window rows";
    EXPECT_EQ(0, std::memcmp(&before, &header, sizeof header)) << "header changed";
  }
};

// A plane whose byte at (row y, byte i) is distinct enough to tell where
// each result byte came from.
Plane numberedPlane(uint32_t rows, uint32_t bytesPerRow) {
  Plane plane = blankPlane(rows, bytesPerRow);
  for (uint32_t y = 0; y < rows; ++y)
    for (uint32_t i = 0; i < bytesPerRow; ++i)
      plane.bytes[size_t{y} * bytesPerRow + i] = static_cast<uint8_t>(i + 7 * y + 1);
  return plane;
}

TEST_F(FocusTest, WindowsForEachRowWidth) {
  struct Case {
    uint32_t bytesPerRow;
    uint32_t centre;       // start of the centred window
    uint32_t thirdStart;   // start of the right-hand window, Rotation 0 or 2
    uint32_t quarterStart; // start of the last 64 bytes, Rotation 1 or 3
  };
  for (const Case& c : {Case{100, 18, 33, 36}, Case{65, 0, 21, 1}, Case{129, 32, 43, 65},
                        Case{64, 0, 21, 0}}) {
    Plane source = numberedPlane(3, c.bytesPerRow);
    SCOPED_TRACE("B=" + std::to_string(c.bytesPerRow));
    expectWindow(centred, source, 0, c.centre, 64);
    // The centred window does not look at Rotation.
    expectWindow(centred, source, 1, c.centre, 64);
    for (int32_t rotation : {0, 2, -1})
      expectWindow(SelectFocusArea, source, rotation, c.thirdStart, c.bytesPerRow - c.thirdStart);
    for (int32_t rotation : {1, 3}) expectWindow(SelectFocusArea, source, rotation, c.quarterStart, 64);
  }
}

// Rows narrower than a 64-byte window: refused, nothing written.
TEST_F(FocusTest, NarrowRowsRefused) {
  Plane source = numberedPlane(4, 40);
  cups_page_header_t header = makeHeader(320, 4);
  Bytes dest = guardedBuffer(0);
  EXPECT_EQ(1, SelectFocusAreaCenter(source.bytes.data(), dest.data(), header));
  EXPECT_EQ(1, SelectFocusArea(source.bytes.data(), dest.data(), header, 3));
  EXPECT_TRUE(guardsIntact(dest, 0));
  // The two-thirds window always fits.
  expectWindow(SelectFocusArea, source, 0, 13, 27);
}

TEST_F(FocusTest, RandomPlanesMatchByteCopies) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<uint32_t> rowDist(1, 300);
  std::uniform_int_distribution<uint32_t> byteDist(64, 200);
  for (int round = 0; round < 40; ++round) {
    uint32_t b = byteDist(rng);
    Plane source = randomPlane(rng, rowDist(rng), b, round % 2 == 0);
    expectWindow(centred, source, 0, b / 2 - 32, 64);
    expectWindow(SelectFocusArea, source, 2, b / 3, b - b / 3);
    expectWindow(SelectFocusArea, source, 1, b - 64, 64);
  }
}

}  // namespace
