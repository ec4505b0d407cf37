// The prefilter's own row compression against libcups's: the same pages
// (random bytes, runs, rows repeated past 256, rows one byte wide) written
// both ways must give the same stream, byte for byte.
#include "image/raster_writer.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Raster write callback: appends to a byte vector.
ssize_t collect(void* context, unsigned char* bytes, size_t length) {
  auto& stream = *static_cast<std::vector<uint8_t>*>(context);
  stream.insert(stream.end(), bytes, bytes + length);
  return static_cast<ssize_t>(length);
}

// A page of 1-bit rows: each row random, in runs, or the row before again.
std::vector<std::vector<uint8_t>> makePage(std::mt19937& rng, uint32_t bytes, uint32_t rows) {
  std::vector<std::vector<uint8_t>> page(rows, std::vector<uint8_t>(bytes));
  auto below = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  for (uint32_t y = 0; y < rows; ++y) {
    uint32_t kind = below(4);
    if (kind == 0 && y > 0) {
      for (uint32_t n = below(600); n > 0 && y < rows; --n, ++y) page[y] = page[y - 1];
      --y;
      continue;
    }
    // Random bytes, short runs of a few values, or runs longer than 128 bytes.
    const uint32_t change = kind == 1 ? 1 : kind == 2 ? 4 : 200;
    uint8_t value = 0;
    for (auto& b : page[y]) {
      if (below(change) == 0) value = static_cast<uint8_t>(below(kind == 2 ? 3 : 256));
      b = value;
    }
  }
  return page;
}

TEST(RowWriter, WritesTheStreamLibcupsWrites) {
  std::mt19937 rng(22);
  std::vector<uint8_t> theirs, ours;
  cups_raster_t* libcups = cupsRasterOpenIO(collect, &theirs, CUPS_RASTER_WRITE_COMPRESSED);
  cups_raster_t* headers = cupsRasterOpenIO(collect, &ours, CUPS_RASTER_WRITE_COMPRESSED);
  RowWriter writer;
  writer.write = collect;
  writer.context = &ours;
  for (uint32_t bytes : {1u, 2u, 3u, 72u, 129u, 288u, 600u}) {
    for (uint32_t rows : {1u, 257u, 1500u}) {
      cups_page_header2_t header{};
      header.cupsWidth = 8 * bytes;
      header.cupsHeight = rows;
      header.cupsBitsPerColor = header.cupsBitsPerPixel = 1;
      header.cupsColorSpace = CUPS_CSPACE_K;
      header.cupsBytesPerLine = bytes;
      ASSERT_TRUE(cupsRasterWriteHeader2(libcups, &header));
      ASSERT_TRUE(cupsRasterWriteHeader2(headers, &header));
      startRows(writer, header);
      for (auto& row : makePage(rng, bytes, rows)) {
        ASSERT_EQ(cupsRasterWritePixels(libcups, row.data(), bytes), bytes);
        ASSERT_TRUE(writeRow(writer, row.data()));
      }
      std::vector<uint8_t> extra(bytes);
      EXPECT_FALSE(writeRow(writer, extra.data())) << "a row past the page's end";
      ASSERT_EQ(ours.size(), theirs.size()) << bytes << " bytes a row, " << rows << " rows";
      ASSERT_TRUE(ours == theirs) << bytes << " bytes a row, " << rows << " rows";
    }
  }
  cupsRasterClose(libcups);
  cupsRasterClose(headers);
}

}  // namespace
