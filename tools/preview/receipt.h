// The receipt model: what the printer puts on paper for a decoded command
// list, in paper order. Raster bands keep the exact planes that were sent, so
// a test can decode the filter's output, stitch the bands of each page back
// into one black plane and one colour plane, and compare them with the planes
// that went into the filter:
//
//   preview::Preview p = preview::previewBytes(filterStdout);
//   ASSERT_FALSE(p.decoded.error);
//   std::vector<preview::Planes> pages = preview::stitchPages(p.receipt);
//   EXPECT_EQ(pages[0].black, blackPlaneIn);
//   EXPECT_EQ(pages[0].colour, colourPlaneIn);  // all zero for a mono page
//
// Besides the printed items the model collects warnings: things the stream
// does that lose or garble output without being undecodable (a stored plane
// replaced before it was printed, text never ended by LF, ...).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "tools/preview/decode.h"

namespace preview {

// The command that carried a raster band.
enum class RasterSource {
  RasterImage,     // GS v 0
  StoredGraphics,  // GS ( L 112 store(s) printed by GS ( L 50
  Compressed,      // 08 43 52 compressed raster
};

// One printed raster band, as sent: rows of bytesPerRow bytes, most
// significant bit the leftmost dot, 1 a dot.
struct RasterBand {
  RasterSource source = RasterSource::RasterImage;
  uint32_t widthDots = 0;
  uint32_t bytesPerRow = 0;
  uint32_t rows = 0;
  std::vector<uint8_t> black;   // rows x bytesPerRow
  std::vector<uint8_t> colour;  // rows x bytesPerRow, or empty: no second colour
  uint8_t scaleX = 1;           // GS v 0 double width
  uint8_t scaleY = 1;           // GS v 0 double height
  // StoredGraphics: the offsets of the store commands (black first).
  std::vector<size_t> storeOffsets;
};

// One printed text line. Each byte of `cells` fills one 12 x 24 dot
// character cell: 20-7E the character, 80-FF a placeholder glyph; tabs are
// already expanded to spaces.
struct TextLine {
  std::string cells;
  bool wrapped = false;  // printed because the line was full, not by LF
};

// A logo the printer keeps in its non-volatile memory: one or two planes of
// rows (most significant bit the leftmost dot).
struct StoredLogo {
  uint32_t widthDots = 0;
  uint32_t bytesPerRow = 0;
  uint32_t rows = 0;
  std::vector<uint8_t> black;   // rows x bytesPerRow
  std::vector<uint8_t> colour;  // rows x bytesPerRow, or empty
};

// The printer's stored logos: graphics by key code (GS ( L 67) and the bit
// images of the last FS q, numbered from 1. A printer keeps them from job to
// job, so a caller may pass one store to the receipts of several jobs.
struct LogoStore {
  std::map<std::array<uint8_t, 2>, std::shared_ptr<const StoredLogo>> keyed;
  std::vector<std::shared_ptr<const StoredLogo>> numbered;
};

// A stored logo printed by FS p or GS ( L 69: its dots when the store holds
// it, else drawn as a labelled box.
struct LogoBox {
  enum class Kind { Numbered, Keyed };
  Kind kind = Kind::Numbered;
  uint8_t number = 0;  // FS p n
  uint8_t mode = 0;    // FS p m
  std::array<uint8_t, 2> key{};  // GS ( L 69 kc1 kc2
  uint8_t scaleX = 1;
  uint8_t scaleY = 1;
  std::shared_ptr<const StoredLogo> image;  // nullptr: not stored in the printer
};

// A cut, after feeding `feed` dots.
struct CutMark {
  uint8_t mode = 0;
  bool partial = false;
  uint8_t feed = 0;
};

// A cash-drawer kick: drawer 1 or 2 (or the raw m when it is neither).
struct DrawerMark {
  uint8_t drawer = 1;
  uint8_t onTime = 0;   // units of 2 ms
  uint8_t offTime = 0;  // units of 2 ms
};

// A remark for the reader of the preview, not printed by the printer
// (a cancelled job, where decoding stopped).
struct Note {
  std::string text;
};

using ItemBody = std::variant<RasterBand, TextLine, LogoBox, CutMark, DrawerMark, Note>;

// One thing on the paper (or beside it) in the order the printer makes it.
struct ReceiptItem {
  size_t offset = 0;          // of the command that printed it
  uint8_t justification = 0;  // 0 left, 1 centre, 2 right
  ItemBody body;
};

struct Receipt {
  std::vector<ReceiptItem> items;
  std::vector<DecodeError> warnings;  // offset and what goes wrong there
};

struct ReceiptOptions {
  uint32_t paperWidthDots = 576;  // sets the characters per text line (12 dots each)
};

// Lays the commands out as the printer would print them. Logos stored by the
// commands go into `store` (a store of this call's own when nullptr), and
// logos printed are looked up there.
Receipt buildReceipt(std::span<const Command> commands, const ReceiptOptions& options = {},
                     LogoStore* store = nullptr);

// A decoded stream and the receipt of every command before any error.
struct Preview {
  DecodeResult decoded;
  Receipt receipt;
};

// Decodes `bytes` and builds the receipt (with a Note where decoding stopped),
// with the stored logos of `store` as buildReceipt.
Preview previewBytes(std::span<const uint8_t> bytes, const ReceiptOptions& options = {},
                     LogoStore* store = nullptr);

// One page's raster: the bands' rows concatenated in paper order. Bands
// narrower than the widest are padded with zero bytes on the right. The
// colour plane is always rows x bytesPerRow (zero where no band had one).
struct Planes {
  uint32_t widthDots = 0;
  uint32_t bytesPerRow = 0;
  uint32_t rows = 0;
  std::vector<uint8_t> black;
  std::vector<uint8_t> colour;
  bool hasColour = false;           // some band carried a second-colour plane
  std::vector<size_t> bandOffsets;  // the offsets of the bands' print commands
};

// Where stitchPages starts a new page.
enum class PageBreak {
  AnyFeed,  // at any text line (LF), logo or cut between bands
  CutOnly,  // only at cuts
};

// Stitches each run of consecutive raster bands (not separated by a break)
// into one page. Pages without bands are not returned. Bands keep the planes
// that were sent: GS v 0 double width/height is not applied.
std::vector<Planes> stitchPages(const Receipt& receipt, PageBreak pageBreak = PageBreak::AnyFeed);

// Stitches the given bands, in order, into one page.
Planes stitchBands(std::span<const RasterBand* const> bands);

}  // namespace preview
