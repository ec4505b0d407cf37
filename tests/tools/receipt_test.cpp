// The receipt model: bands stitched back into page planes (also straight
// from the filter's two-colour writer), text lines, and the warnings about
// output the printer would lose.
#include <gtest/gtest.h>

#include <random>

#include <cups/raster.h>

#include <memory>

#include "output/color_page.h"
#include "support.h"
#include "tools/preview/receipt.h"

namespace {

using talvero_test::Bytes;
using talvero_test::hex;

void append(Bytes& to, const Bytes& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// GS ( L 112 storing `data` as colour c ('1' or '2').
Bytes store(uint8_t colour, uint16_t width, uint16_t rows, const Bytes& data) {
  size_t p = data.size() + 10;
  Bytes out = {0x1D, 0x28, 0x4C, uint8_t(p & 0xFF), uint8_t(p >> 8), 0x30, 0x70, 0x30, 0x01, 0x01, colour,
               uint8_t(width & 0xFF), uint8_t(width >> 8), uint8_t(rows & 0xFF), uint8_t(rows >> 8)};
  append(out, data);
  return out;
}

const Bytes kPrint = hex("1D 28 4C 02 00 30 32");

preview::Preview previewOf(const Bytes& bytes, uint32_t width = 576) {
  preview::Preview p = preview::previewBytes(bytes, preview::ReceiptOptions{width});
  EXPECT_FALSE(p.decoded.error) << p.decoded.error->message;
  return p;
}

std::vector<std::string> warningTexts(const preview::Receipt& receipt) {
  std::vector<std::string> out;
  for (const auto& w : receipt.warnings) out.push_back(std::to_string(w.offset) + ": " + w.message);
  return out;
}

// Two two-colour bands (stores of '1' and '2', then print) and a GS v 0
// band make one page; a LF starts the next one.
TEST(Stitch, TwoColourBandsMakeOnePage) {
  Bytes black1 = hex("81 80 FF 00"), red1 = hex("7E 00 00 FF");  // 9 dots: 2 bytes a row, 2 rows
  Bytes black2 = hex("01 00"), red2 = hex("10 80");              // 1 row
  Bytes stream;
  append(stream, store('1', 9, 2, black1));
  append(stream, store('2', 9, 2, red1));
  append(stream, kPrint);
  append(stream, store('2', 9, 1, red2));  // the colour store may come first
  append(stream, store('1', 9, 1, black2));
  append(stream, kPrint);
  append(stream, hex("1D 76 30 00 02 00 01 00 AA 55"));
  append(stream, hex("0A 1D 76 30 00 01 00 01 00 3C"));

  preview::Preview p = previewOf(stream);
  EXPECT_TRUE(p.receipt.warnings.empty());
  std::vector<preview::Planes> pages = preview::stitchPages(p.receipt);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].rows, 4u);
  EXPECT_EQ(pages[0].bytesPerRow, 2u);
  EXPECT_EQ(pages[0].widthDots, 16u);  // the GS v 0 band is 2 bytes = 16 dots wide
  EXPECT_TRUE(pages[0].hasColour);
  EXPECT_EQ(pages[0].black, hex("81 80 FF 00 01 00 AA 55"));
  EXPECT_EQ(pages[0].colour, hex("7E 00 00 FF 10 80 00 00"));
  EXPECT_EQ(pages[0].bandOffsets.size(), 3u);
  EXPECT_EQ(pages[1].black, hex("3C"));
  EXPECT_FALSE(pages[1].hasColour);
  EXPECT_EQ(pages[1].colour, hex("00"));

  // Only a cut separates pages under CutOnly.
  EXPECT_EQ(preview::stitchPages(p.receipt, preview::PageBreak::CutOnly).size(), 1u);
}

// Bands of different widths: the narrower ones are padded on the right.
TEST(Stitch, NarrowBandsArePadded) {
  Bytes stream = hex("1D 76 30 00 01 00 02 00 11 22 1D 76 30 00 03 00 01 00 33 44 55");
  preview::Preview p = previewOf(stream);
  std::vector<preview::Planes> pages = preview::stitchPages(p.receipt);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].bytesPerRow, 3u);
  EXPECT_EQ(pages[0].black, hex("11 00 00 22 00 00 33 44 55"));
}

// The filter's two-colour writer, decoded and stitched, gives back the
// planes it was handed, for pages of one band and of several.
TEST(Stitch, FilterColourWriterRoundTrip) {
  std::mt19937 rng(7);
  for (uint32_t height : {40u, 256u, 301u}) {
    Bytes black(size_t{26} * height), colour(size_t{26} * height);
    for (auto& b : black) b = static_cast<uint8_t>(rng());
    for (auto& b : colour) b = static_cast<uint8_t>(rng());

    std::string out;
    auto sink = std::make_unique<OutputSink>(appendToString, &out);
    JobSettings settings{};
    settings.ModelNumber = 31;
    JobContext job(settings, *sink, Diagnostics());
    printColorPage(job, {black.data(), colour.data(), 203, height, 26});  // 26 bytes a row per plane
    sink->flush();

    preview::Preview p = previewOf(Bytes(out.begin(), out.end()));
    EXPECT_TRUE(p.receipt.warnings.empty()) << height;
    std::vector<preview::Planes> pages = preview::stitchPages(p.receipt);
    ASSERT_EQ(pages.size(), 1u) << height;
    EXPECT_EQ(pages[0].widthDots, 203u);
    EXPECT_EQ(pages[0].rows, height);
    EXPECT_TRUE(pages[0].black == black) << "black plane differs, height " << height;
    EXPECT_TRUE(pages[0].colour == colour) << "colour plane differs, height " << height;
  }
}

// Text: tabs to multiples of 8, CR ignored, lines wrap at the paper's
// columns (32 on 384 dots), justification recorded per line.
TEST(Receipt, TextLines) {
  std::string text = "ab\tc\r\n" + std::string(40, 'x') + "\n\n";
  Bytes stream = hex("1B 61 01");
  append(stream, Bytes(text.begin(), text.end()));
  preview::Preview p = previewOf(stream, 384);
  std::vector<std::pair<std::string, bool>> lines;
  for (const auto& item : p.receipt.items) {
    const auto* line = std::get_if<preview::TextLine>(&item.body);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(item.justification, 1);
    lines.emplace_back(line->cells, line->wrapped);
  }
  std::vector<std::pair<std::string, bool>> expected = {
      {"ab      c", false}, {std::string(32, 'x'), true}, {std::string(8, 'x'), false}, {"", false}};
  EXPECT_EQ(lines, expected);
}

// Stored logos, cuts, drawer kicks and a cancelled job's tail.
TEST(Receipt, MarksAndLogos) {
  Bytes stream = hex("1B 61 02 1C 70 01 03 1D 28 4C 06 00 30 45 30 31 02 01 1B 70 01 32 FF 1D 56 42 03 1B 40");
  stream.insert(stream.end(), 720, 0x00);
  append(stream, hex("1B 40"));
  preview::Preview p = previewOf(stream);
  const auto& items = p.receipt.items;
  ASSERT_EQ(items.size(), 5u);
  const auto& logo = std::get<preview::LogoBox>(items[0].body);
  EXPECT_EQ(items[0].justification, 2);
  EXPECT_EQ(logo.kind, preview::LogoBox::Kind::Numbered);
  EXPECT_EQ(logo.number, 1);
  EXPECT_EQ(logo.scaleX, 2);  // mode 3: double width and height
  EXPECT_EQ(logo.scaleY, 2);
  const auto& keyed = std::get<preview::LogoBox>(items[1].body);
  EXPECT_EQ(keyed.kind, preview::LogoBox::Kind::Keyed);
  EXPECT_EQ(keyed.scaleX, 2);
  EXPECT_EQ(keyed.scaleY, 1);
  EXPECT_EQ(std::get<preview::DrawerMark>(items[2].body).drawer, 2);
  const auto& cut = std::get<preview::CutMark>(items[3].body);
  EXPECT_TRUE(cut.partial);
  EXPECT_EQ(cut.feed, 3);
  EXPECT_NE(std::get<preview::Note>(items[4].body).text.find("CANCELLED"), std::string::npos);
  EXPECT_EQ(items[4].offset, 749u);  // the ESC @ after the 00 run
}

// What the printer would lose or garble is reported at its offset.
TEST(Receipt, Warnings) {
  Bytes stream;
  append(stream, store('1', 8, 1, hex("01")));  // 0: replaced before printing
  append(stream, store('1', 8, 1, hex("02")));  // 16
  append(stream, kPrint);                       // 32
  append(stream, kPrint);                       // 39: buffer now empty
  append(stream, hex("41 42 1B 40"));           // 46: text dropped by ESC @
  append(stream, hex("43 1D 56 30"));           // 50: text not ended before a cut
  append(stream, store('2', 8, 1, hex("04")));  // 54: never printed
  append(stream, hex("1B 61 05 44"));           // 70: bad justification; 73: text left at the end
  preview::Preview p = previewOf(stream);
  std::vector<std::string> expected = {
      "0: stored graphics replaced by the store at offset 16 before being printed",
      "39: GS ( L 50 prints an empty graphics buffer",
      "46: ESC @ discards text not yet printed: \"AB\"",
      "50: text not ended by LF before GS V",
      "70: ESC a with n = 5 (drawn left)",
      "73: text at the end of the stream is not ended by LF (the printer holds it unprinted)",
      "54: stored graphics never printed (no GS ( L 50 follows)",
  };
  EXPECT_EQ(warningTexts(p.receipt), expected);
  // The replacing store is the one printed.
  std::vector<preview::Planes> pages = preview::stitchPages(p.receipt);
  ASSERT_FALSE(pages.empty());
  EXPECT_EQ(pages[0].black, hex("02"));
}

// A decode error leaves a note at its offset after what was decoded.
TEST(Receipt, DecodeErrorNote) {
  preview::Preview p = preview::previewBytes(hex("0A 1B 99"));
  ASSERT_TRUE(p.decoded.error);
  ASSERT_EQ(p.receipt.items.size(), 2u);
  EXPECT_EQ(p.receipt.items[1].offset, 1u);
  EXPECT_EQ(std::get<preview::Note>(p.receipt.items[1].body).text, "DECODE ERROR at offset 1");
}

}  // namespace
