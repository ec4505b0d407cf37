// The plane code that works eight bytes at a time, checked against byte-wise
// references on random planes at every alignment: the run-length coder and
// the turns. Words are loaded in the machine's own byte order, so these checks
// matter most on a big-endian machine; scripts/cross-test.sh s390x builds and
// runs this test alone there, as it needs neither libcups nor the filter.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "image/rotate.h"
#include "output/compress.h"
#include "core/output_sink.h"

namespace {

using Plane = std::vector<uint8_t>;

// The run-length code one byte at a time: 00 and FF runs as the byte and a
// count of 1 to 255, every other byte as itself.
std::string byteWiseCode(const uint8_t* data, size_t length) {
  std::string code;
  for (size_t i = 0; i < length;) {
    uint8_t byte = data[i];
    if (byte != 0x00 && byte != 0xFF) {
      code += static_cast<char>(data[i++]);
      continue;
    }
    size_t run = 0;
    while (i < length && data[i] == byte && run < 255) ++i, ++run;
    code += static_cast<char>(byte);
    code += static_cast<char>(run);
  }
  return code;
}

// Random bytes, mostly runs of 00 and FF of any length with literals between.
Plane randomPlane(std::mt19937& rng, size_t length) {
  Plane plane;
  while (plane.size() < length) {
    auto kind = static_cast<uint32_t>(rng() % 3);
    size_t run = 1 + rng() % 300;
    if (kind == 2) plane.push_back(static_cast<uint8_t>(rng()));
    else plane.insert(plane.end(), run, kind == 0 ? 0x00 : 0xFF);
  }
  plane.resize(length);
  return plane;
}

bool dot(const Plane& plane, size_t bytesPerRow, size_t x, size_t y) {
  return (plane[y * bytesPerRow + x / 8] & (0x80 >> (x % 8))) != 0;
}

TEST(ByteOrder, RunLengthCodeMatchesByteWiseCode) {
  std::mt19937 rng(1201);
  for (int trial = 0; trial < 3000; ++trial) {
    Plane plane = randomPlane(rng, rng() % 150);
    size_t shift = trial % 8;  // the data starts at every offset from a word boundary
    Plane buffer(shift, 0x5A);
    buffer.insert(buffer.end(), plane.begin(), plane.end());
    std::string code;
    OutputSink out(appendToString, &code);
    CompressData(out, buffer.data() + shift, static_cast<uint32_t>(plane.size()));
    out.flush();
    ASSERT_EQ(code, byteWiseCode(plane.data(), plane.size())) << "trial " << trial;
  }
}

TEST(ByteOrder, TurnsMatchByteWiseTurns) {
  std::mt19937 rng(1202);
  for (int trial = 0; trial < 300; ++trial) {
    auto rows = static_cast<uint32_t>(1 + rng() % 40), bytesPerRow = static_cast<uint32_t>(1 + rng() % 12);
    Plane source = randomPlane(rng, size_t{rows} * bytesPerRow);
    SCOPED_TRACE(std::to_string(rows) + " rows of " + std::to_string(bytesPerRow) + " bytes");

    Plane half = source;
    rotate180Degree(half.data(), static_cast<uint32_t>(half.size()));
    for (size_t i = 0; i < half.size(); ++i) {
      unsigned mirrored = 0;
      for (int b = 0; b < 8; ++b) mirrored |= ((source[source.size() - 1 - i] >> b) & 1u) << (7 - b);
      ASSERT_EQ(half[i], mirrored) << "half turn, byte " << i;
    }

    size_t width = size_t{bytesPerRow} * 8, turnedBytes = (rows + 7) / 8;
    Plane clockwise(width * turnedBytes, 0xA5), counter(width * turnedBytes, 0xA5);
    rotate90Degree(source.data(), clockwise.data(), rows, bytesPerRow);
    rotate270Degree(source.data(), counter.data(), rows, bytesPerRow);
    for (size_t y = 0; y < width; ++y) {
      for (size_t x = 0; x < turnedBytes * 8; ++x) {
        bool inside = x < rows;
        ASSERT_EQ(dot(clockwise, turnedBytes, x, y), inside && dot(source, bytesPerRow, y, rows - 1 - x))
            << "quarter turn clockwise, dot " << x << "," << y;
        ASSERT_EQ(dot(counter, turnedBytes, x, y), inside && dot(source, bytesPerRow, width - 1 - y, x))
            << "quarter turn counter-clockwise, dot " << x << "," << y;
      }
    }
  }
}

}  // namespace
