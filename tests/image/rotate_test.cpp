// Plane rotation: known answers, then random planes against the dot-by-dot
// reference, with guard bytes past every result.
#include "image/rotate.h"

#include <gtest/gtest.h>

#include <random>

#include "plane_reference.h"
#include "support.h"

using namespace talvero_test;

namespace {

struct HalfTurnCase {
  const char* input;
  uint32_t count;
  const char* expected;  // the whole buffer afterwards
};

TEST(Rotate180, KnownAnswers) {
  const HalfTurnCase cases[] = {
      {"01 02 03 04", 4, "20 C0 40 80"},
      {"01 02 03", 3, "C0 40 80"},
      {"01", 1, "80"},
      {"3C 03", 1, "3C 03"},
      {"01 02", 0, "01 02"},
      {"80 03", 1, "01 03"},  // bytes past the count stay as they are
      // Longer than two words: the word-wise swap from both ends meets an
      // odd middle.
      {"01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11", 17,
       "88 08 F0 70 B0 30 D0 50 90 10 E0 60 A0 20 C0 40 80"},
  };
  for (const HalfTurnCase& c : cases) {
    Bytes buffer = hex(c.input);
    rotate180Degree(buffer.data(), c.count);
    EXPECT_EQ(toString(hex(c.expected)), toString(buffer))
        << c.input << " N=" << c.count << "\n"
        << describeMismatch(toString(hex(c.expected)), toString(buffer));
  }
}

struct QuarterTurnCase {
  const char* source;
  uint32_t rows;
  uint32_t bytesPerRow;
  const char* clockwise;
  const char* counterClockwise;
};

TEST(RotateQuarter, KnownAnswers) {
  const QuarterTurnCase cases[] = {
      {"C0 00", 2, 1, "40 40 00 00 00 00 00 00", "00 00 00 00 00 00 80 80"},
      {"80 01", 2, 1, "40 00 00 00 00 00 00 80", "40 00 00 00 00 00 00 80"},
      {"80 80 80 80 80 80 80 80 80", 9, 1, "FF 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
       "00 00 00 00 00 00 00 00 00 00 00 00 00 00 FF 80"},
  };
  for (const QuarterTurnCase& c : cases) {
    Bytes source = hex(c.source);
    Bytes expected90 = hex(c.clockwise);
    Bytes expected270 = hex(c.counterClockwise);
    Bytes dest = guardedBuffer(expected90.size());
    rotate90Degree(source.data(), dest.data(), c.rows, c.bytesPerRow);
    EXPECT_EQ(toString(expected90), prefix(dest, expected90.size())) << c.source;
    EXPECT_TRUE(guardsIntact(dest, expected90.size()));

    dest = guardedBuffer(expected270.size());
    rotate270Degree(source.data(), dest.data(), c.rows, c.bytesPerRow);
    EXPECT_EQ(toString(expected270), prefix(dest, expected270.size())) << c.source;
    EXPECT_TRUE(guardsIntact(dest, expected270.size()));
    EXPECT_EQ(toString(hex(c.source)), toString(source)) << "source changed";
  }
}

// Random planes of 1 to 300 rows and 1 to 120 bytes, dense and sparse.
TEST(RotateRandom, MatchesDotReference) {
  std::mt19937 rng(20240601);
  std::uniform_int_distribution<uint32_t> rowDist(1, 300);
  std::uniform_int_distribution<uint32_t> byteDist(1, 120);
  for (int round = 0; round < 120; ++round) {
    uint32_t rows = rowDist(rng);
    uint32_t bytesPerRow = byteDist(rng);
    Plane source = randomPlane(rng, rows, bytesPerRow, round % 3 == 0);
    SCOPED_TRACE("rows " + std::to_string(rows) + ", bytes per row " + std::to_string(bytesPerRow));

    Plane expected = referenceRotate90(source);
    size_t size = expected.bytes.size();
    ASSERT_EQ(size_t{8} * bytesPerRow * ((rows + 7) / 8), size);
    // The destination starts out dirty: every result byte must be written.
    Bytes dest = guardedBuffer(size);
    rotate90Degree(source.bytes.data(), dest.data(), rows, bytesPerRow);
    ASSERT_EQ(toString(expected.bytes), prefix(dest, size))
        << "rotate90\n" << describeMismatch(toString(expected.bytes), prefix(dest, size));
    ASSERT_TRUE(guardsIntact(dest, size)) << "rotate90 wrote past its result";

    expected = referenceRotate270(source);
    dest = guardedBuffer(size);
    rotate270Degree(source.bytes.data(), dest.data(), rows, bytesPerRow);
    ASSERT_EQ(toString(expected.bytes), prefix(dest, size))
        << "rotate270\n" << describeMismatch(toString(expected.bytes), prefix(dest, size));
    ASSERT_TRUE(guardsIntact(dest, size)) << "rotate270 wrote past its result";

    expected = referenceRotate180(source);
    Bytes turned = source.bytes;
    turned.resize(turned.size() + kGuardBytes, kGuard);
    rotate180Degree(turned.data(), rows * bytesPerRow);
    ASSERT_EQ(toString(expected.bytes), prefix(turned, expected.bytes.size()))
        << "rotate180\n" << describeMismatch(toString(expected.bytes), prefix(turned, expected.bytes.size()));
    ASSERT_TRUE(guardsIntact(turned, expected.bytes.size())) << "rotate180 touched bytes past N";
  }
}

// Two half turns give back any buffer, whatever its length.
TEST(RotateRandom, TwoHalfTurnsRestore) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (uint32_t count = 0; count < 200; ++count) {
    Bytes original(count);
    for (uint8_t& b : original) b = static_cast<uint8_t>(byte(rng));
    Bytes buffer = original;
    rotate180Degree(buffer.data(), count);
    rotate180Degree(buffer.data(), count);
    ASSERT_EQ(toString(original), toString(buffer)) << "N=" << count;
  }
}

// Four quarter turns either way give back a plane of 8k rows.
TEST(RotateRandom, FourQuarterTurnsRestore) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<uint32_t> groupDist(1, 30);
  std::uniform_int_distribution<uint32_t> byteDist(1, 40);
  for (int round = 0; round < 30; ++round) {
    Plane source = randomPlane(rng, 8 * groupDist(rng), byteDist(rng), round % 2 == 0);
    for (auto turn : {rotate90Degree, rotate270Degree}) {
      Bytes plane = source.bytes;
      uint32_t rows = source.rows;
      uint32_t bytesPerRow = source.bytesPerRow;
      for (int step = 0; step < 4; ++step) {
        Bytes next(plane.size());
        turn(plane.data(), next.data(), rows, bytesPerRow);
        uint32_t nextRows = 8 * bytesPerRow;
        bytesPerRow = rows / 8;
        rows = nextRows;
        plane = std::move(next);
      }
      ASSERT_EQ(source.rows, rows);
      ASSERT_EQ(toString(source.bytes), toString(plane))
          << describeMismatch(toString(source.bytes), toString(plane));
    }
  }
}

}  // namespace
