// Stored logos, written by output/logo_store and read back by the preview:
// the frames of both command families, random logos through both, and a
// later print command drawing the stored dots (FS q erasing what came
// before it).
#include <gtest/gtest.h>

#include <random>

#include "output/logo_store.h"
#include "support.h"
#include "tools/preview/receipt.h"

namespace {

using talvero_test::Bytes;
using talvero_test::hex;

LogoBitmap randomLogo(std::mt19937& random, uint32_t width, uint32_t rows, bool red) {
  LogoBitmap logo{width, rows, {}, {}};
  size_t plane = size_t{logo.bytesPerRow()} * rows;
  for (size_t i = 0; i < plane; ++i) logo.black.push_back(static_cast<uint8_t>(random()));
  // Dots past the width are never printed; the decoder keeps what was sent.
  if (red) {
    for (size_t i = 0; i < plane; ++i) logo.red.push_back(static_cast<uint8_t>(random() & ~logo.black[i]));
  }
  return logo;
}

const preview::StoredLogo& imageOf(const preview::ReceiptItem& item) {
  const auto& box = std::get<preview::LogoBox>(item.body);
  EXPECT_TRUE(box.image);
  return *box.image;
}

TEST(LogoStore, KnownFrames) {
  LogoBitmap logo{9, 1, hex("FF 80"), hex("00 00")};
  EXPECT_EQ(keyedLogoCommand('1', logo),
            hex("1D 28 4C 10 00 30 43 30 30 31 02 09 00 01 00 31 FF 80 32 00 00"));
  logo.red.clear();
  // One 16 x 8 image (x = 2, y = 1): columns 0-8 have their top dot, the
  // padding columns 9-15 nothing.
  const LogoBitmap* one[] = {&logo};
  EXPECT_EQ(bitImageLogosCommand(one), hex("1C 71 01 02 00 01 00 80 80 80 80 80 80 80 80 80 00 00 00 00 00 00 00"));
  EXPECT_TRUE(keyedLogoCommand('0', LogoBitmap{kMaxLogoWidth + 1, 1, Bytes(73), {}}).empty());
  EXPECT_TRUE(bitImageLogosCommand({}).empty());
  EXPECT_EQ(logoKeyCode('1', 2), '3');
  EXPECT_EQ(logoKeyCode(0, 9), '2');
}

// Random logos stored by key code in one and two colours and as FS q bit
// images come back dot for dot where a later command prints them.
TEST(LogoStore, RoundTripThroughThePreview) {
  std::mt19937 random(20);
  for (int round = 0; round < 20; ++round) {
    auto width = static_cast<uint32_t>(1 + random() % kMaxLogoWidth), rows = static_cast<uint32_t>(1 + random() % 64);
    LogoBitmap two = randomLogo(random, width, rows, true);
    LogoBitmap bits = randomLogo(random, (width + 7) / 8 * 8, (rows + 7) / 8 * 8, false);
    const LogoBitmap* images[] = {&bits, &two};
    Bytes stream = keyedLogoCommand('5', two);
    Bytes fsq = bitImageLogosCommand(images);
    stream.insert(stream.end(), fsq.begin(), fsq.end());
    Bytes print = hex("1D 28 4C 06 00 30 45 30 35 01 01 1C 70 01 00 1C 70 03 00");
    stream.insert(stream.end(), print.begin(), print.end());

    preview::LogoStore store;
    preview::Preview p = preview::previewBytes(stream, {}, &store);
    ASSERT_FALSE(p.decoded.error) << p.decoded.error->message;
    ASSERT_EQ(p.receipt.items.size(), 3u);
    const preview::StoredLogo& keyed = imageOf(p.receipt.items[0]);
    EXPECT_EQ(keyed.widthDots, width);
    EXPECT_EQ(keyed.black, two.black);
    EXPECT_EQ(keyed.colour, two.red);
    const preview::StoredLogo& numbered = imageOf(p.receipt.items[1]);
    EXPECT_EQ(numbered.black, bits.black);
    EXPECT_EQ(numbered.rows, bits.rows);
    // Image 3 was never stored: a box, as before.
    EXPECT_FALSE(std::get<preview::LogoBox>(p.receipt.items[2].body).image);
    EXPECT_EQ(store.numbered.size(), 2u);
  }
}

// The store outlives a job; the next FS q erases the images before it.
TEST(LogoStore, KeptAcrossJobsAndErasedByFsq) {
  std::mt19937 random(7);
  LogoBitmap a = randomLogo(random, 16, 8, false), b = randomLogo(random, 8, 8, false);
  const LogoBitmap* both[] = {&a, &b};
  const LogoBitmap* onlyB[] = {&b};
  preview::LogoStore store;
  preview::previewBytes(bitImageLogosCommand(both), {}, &store);
  preview::Preview later = preview::previewBytes(hex("1C 70 02 00"), {}, &store);
  EXPECT_EQ(imageOf(later.receipt.items[0]).black, b.black);
  preview::previewBytes(bitImageLogosCommand(onlyB), {}, &store);
  later = preview::previewBytes(hex("1C 70 02 00"), {}, &store);
  EXPECT_FALSE(std::get<preview::LogoBox>(later.receipt.items[0].body).image);
}

}  // namespace
