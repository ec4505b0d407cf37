// Builds the receipt model from decoded commands by keeping the printer's
// state (justification, the text line being filled, the graphics buffer),
// and stitches raster bands back into page planes.
#include "tools/preview/receipt.h"

#include <algorithm>
#include <optional>
#include <type_traits>

namespace preview {
namespace {

constexpr uint32_t kCellWidth = 12;  // dots per character cell of font A
constexpr size_t kTabStop = 8;       // default tab positions: every 8 characters

// The justification drawn for an ESC a value: 0-2 and 30-32 as the printer
// reads them, anything else left.
uint8_t drawnJustification(uint8_t value) {
  if (value <= 2) return value;
  if (value >= 0x30 && value <= 0x32) return static_cast<uint8_t>(value - 0x30);
  return 0;
}

// The drawer number (1 or 2) for ESC p m; other values of m are kept.
uint8_t drawerNumber(uint8_t m) {
  if (m == 0 || m == 0x30) return 1;
  if (m == 1 || m == 0x31) return 2;
  return m;
}

// A plane of `rows` x `bytesPerRow` copied from `from` (rows x fromBytes),
// padded with zeros on the right and at the bottom.
std::vector<uint8_t> padPlane(const std::vector<uint8_t>& from, uint32_t fromBytes, uint32_t fromRows,
                              uint32_t bytesPerRow, uint32_t rows) {
  std::vector<uint8_t> out(size_t{bytesPerRow} * rows, 0);
  for (uint32_t r = 0; r < fromRows; ++r) {
    std::copy_n(from.begin() + ptrdiff_t(size_t{r} * fromBytes), fromBytes,
                out.begin() + ptrdiff_t(size_t{r} * bytesPerRow));
  }
  return out;
}

// One stored plane waiting in the graphics buffer.
struct Stored {
  size_t offset = 0;
  const StoreGraphics* store = nullptr;
};

// Walks the commands with the printer's state and appends receipt items.
class Builder {
 public:
  Builder(const ReceiptOptions& options, LogoStore& store)
      : paperWidth_(options.paperWidthDots),
        columns_(std::max<uint32_t>(1, options.paperWidthDots / kCellWidth)),
        store_(store) {}

  // Applies one command.
  void apply(const Command& c) {
    offset_ = c.offset;
    std::visit([this](const auto& body) { on(body); }, c.body);
    const auto* nul = std::get_if<NulRun>(&c.body);
    previousNulRun_ = nul ? nul->count : 0;
  }

  // Ends the stream: flags what the printer still holds unprinted.
  Receipt finish() {
    if (!line_.empty()) {
      warn(lineStart_, "text at the end of the stream is not ended by LF (the printer holds it unprinted)");
      emitLine(false, lineStart_);
    }
    for (const auto* stored : {&black_, &colour_}) {
      if (*stored) {
        warn((*stored)->offset, "stored graphics never printed (no GS ( L 50 follows)");
      }
    }
    return std::move(receipt_);
  }

 private:
  void warn(size_t offset, std::string message) {
    receipt_.warnings.push_back(DecodeError{offset, std::move(message)});
  }

  void add(size_t offset, ItemBody body) {
    if (const auto* band = std::get_if<RasterBand>(&body)) {
      checkWidth(*band);
    } else {
      wideImage_ = 0;
    }
    receipt_.items.push_back(ReceiptItem{offset, justification_, std::move(body)});
  }

  // Warns when a raster image is wider than the paper, which the printer
  // cannot print whole. Once per image (a run of bands of one width).
  void checkWidth(const RasterBand& band) {
    uint32_t width = band.widthDots * band.scaleX;
    if (width <= paperWidth_) {
      wideImage_ = 0;
    } else if (width != wideImage_) {
      wideImage_ = width;
      warn(offset_, "the image is " + std::to_string(width) + " dots wide, wider than the paper's " +
                        std::to_string(paperWidth_) + " dots (the printer cannot print it whole)");
    }
  }

  void addNote(size_t offset, std::string text) { add(offset, Note{std::move(text)}); }

  // Prints the line being filled.
  void emitLine(bool wrapped, size_t offset) {
    add(offset, TextLine{std::move(line_), wrapped});
    line_.clear();
  }

  // Prints text still waiting for LF before something else is printed; the
  // stream should have ended it with LF.
  void flushTextBefore(const char* what) {
    if (line_.empty()) return;
    warn(lineStart_, std::string("text not ended by LF before ") + what);
    emitLine(false, lineStart_);
  }

  // Puts one character cell on the line, printing the line first when full.
  void putCell(char cell) {
    if (line_.size() >= columns_) emitLine(true, lineStart_);
    if (line_.empty()) lineStart_ = offset_;
    line_ += cell;
  }

  void on(const Reset&) {
    if (!line_.empty()) {
      warn(lineStart_, "ESC @ discards text not yet printed: \"" + line_ + "\"");
      line_.clear();
    }
    justification_ = 0;
    // A cancelled job ends with a run of 00 filler and ESC @.
    if (previousNulRun_ > 0) {
      addNote(offset_, "CANCELLED? " + std::to_string(previousNulRun_) + "x00 + ESC @");
    }
  }

  void on(const Justify& c) {
    justification_ = drawnJustification(c.value);
    if (drawnJustification(c.value) == 0 && c.value != 0 && c.value != 0x30) {
      warn(offset_, "ESC a with n = " + std::to_string(c.value) + " (drawn left)");
    }
  }

  void on(const DrawerKick& c) {
    uint8_t drawer = drawerNumber(c.drawer);
    if (drawer != 1 && drawer != 2) warn(offset_, "ESC p with m = " + std::to_string(c.drawer) + " (no such drawer)");
    add(offset_, DrawerMark{drawer, c.onTime, c.offTime});
  }

  void on(const LineFeed&) { emitLine(false, offset_); }

  void on(const PrintLogo& c) {
    flushTextBefore("FS p");
    LogoBox box;
    box.kind = LogoBox::Kind::Numbered;
    box.number = c.number;
    box.mode = c.mode;
    box.scaleX = (c.mode & 1) ? 2 : 1;
    box.scaleY = (c.mode & 2) ? 2 : 1;
    if (c.number >= 1 && c.number <= store_.numbered.size()) box.image = store_.numbered[c.number - 1u];
    add(offset_, box);
  }

  void on(const PrintKeyedGraphic& c) {
    flushTextBefore("GS ( L 69");
    LogoBox box;
    box.kind = LogoBox::Kind::Keyed;
    box.key = c.key;
    box.scaleX = c.scaleX;
    box.scaleY = c.scaleY;
    if (c.scaleX < 1 || c.scaleX > 2 || c.scaleY < 1 || c.scaleY > 2) {
      warn(offset_, "GS ( L 69 with scale x = " + std::to_string(c.scaleX) + ", y = " +
                        std::to_string(c.scaleY) + " (expected 1 or 2; drawn at 1)");
      box.scaleX = c.scaleX == 2 ? 2 : 1;
      box.scaleY = c.scaleY == 2 ? 2 : 1;
    }
    if (auto stored = store_.keyed.find(c.key); stored != store_.keyed.end()) box.image = stored->second;
    add(offset_, box);
  }

  void on(const DefineKeyedGraphic& c) {
    auto logo = std::make_shared<StoredLogo>();
    logo->widthDots = c.widthDots;
    logo->bytesPerRow = c.bytesPerRow;
    logo->rows = c.rows;
    logo->black = c.black;
    logo->colour = c.colour;
    store_.keyed[c.key] = std::move(logo);
  }

  // FS q erases every image stored before it.
  void on(const DefineBitImages& c) {
    store_.numbered.clear();
    for (const BitImage& image : c.images) {
      store_.numbered.push_back(std::make_shared<StoredLogo>(
          StoredLogo{image.widthDots, image.bytesPerRow, image.rows, image.data, {}}));
    }
  }

  void on(const StoreGraphics& c) {
    std::optional<Stored>& slot = c.colour == 0x31 ? black_ : colour_;
    if (slot) {
      warn(slot->offset, "stored graphics replaced by the store at offset " + std::to_string(offset_) +
                             " before being printed");
    }
    slot = Stored{offset_, &c};
  }

  void on(const PrintGraphics&) {
    flushTextBefore("GS ( L 50");
    if (!black_ && !colour_) {
      warn(offset_, "GS ( L 50 prints an empty graphics buffer");
      return;
    }
    const StoreGraphics* b = black_ ? black_->store : nullptr;
    const StoreGraphics* r = colour_ ? colour_->store : nullptr;
    if (b && r && (b->widthDots != r->widthDots || b->rows != r->rows)) {
      warn(offset_, "the two stored colours differ in size (" + std::to_string(b->widthDots) + "x" +
                        std::to_string(b->rows) + " black, " + std::to_string(r->widthDots) + "x" +
                        std::to_string(r->rows) + " red); printed together, padded");
    }
    RasterBand band;
    band.source = RasterSource::StoredGraphics;
    band.widthDots = std::max(b ? b->widthDots : 0, r ? r->widthDots : 0);
    band.bytesPerRow = (band.widthDots + 7) / 8;
    band.rows = std::max(b ? b->rows : 0, r ? r->rows : 0);
    band.black = b ? padPlane(b->data, b->bytesPerRow, b->rows, band.bytesPerRow, band.rows)
                   : std::vector<uint8_t>(size_t{band.bytesPerRow} * band.rows, 0);
    if (r) band.colour = padPlane(r->data, r->bytesPerRow, r->rows, band.bytesPerRow, band.rows);
    if (black_) band.storeOffsets.push_back(black_->offset);
    if (colour_) band.storeOffsets.push_back(colour_->offset);
    black_.reset();
    colour_.reset();
    add(offset_, std::move(band));
  }

  void on(const RasterImage& c) {
    flushTextBefore("GS v 0");
    RasterBand band;
    band.source = RasterSource::RasterImage;
    band.widthDots = c.bytesPerRow * 8u;
    band.bytesPerRow = c.bytesPerRow;
    band.rows = c.rows;
    band.black = c.data;
    band.scaleX = (c.mode & 1) ? 2 : 1;
    band.scaleY = (c.mode & 2) ? 2 : 1;
    add(offset_, std::move(band));
  }

  void on(const CompressedRaster& c) {
    flushTextBefore("compressed raster");
    RasterBand band;
    band.source = RasterSource::Compressed;
    band.widthDots = c.widthDots;
    band.bytesPerRow = c.bytesPerRow;
    band.rows = c.rows;
    band.black = c.data;
    add(offset_, std::move(band));
  }

  void on(const Cut& c) {
    flushTextBefore("GS V");
    add(offset_, CutMark{c.mode, c.partial(), c.feed.value_or(0)});
  }

  void on(const Text& c) {
    for (char ch : c.bytes) {
      auto b = static_cast<uint8_t>(ch);
      if (b == 0x0D) continue;  // CR: the printer ignores it
      if (b == 0x09) {
        // HT moves to the next tab position; past the last column the
        // printer starts a new line.
        size_t next = (line_.size() / kTabStop + 1) * kTabStop;
        if (next > columns_) {
          if (line_.empty()) lineStart_ = offset_;
          emitLine(true, lineStart_);
          continue;
        }
        while (line_.size() < next) putCell(' ');
        continue;
      }
      putCell(ch);
    }
  }

  void on(const NulRun&) {}

  void on(const StatusQuery&) {}  // answered by the printer, prints nothing

  uint32_t paperWidth_;
  size_t columns_;
  uint32_t wideImage_ = 0;  // width of the too-wide image being printed, else 0
  size_t offset_ = 0;
  uint8_t justification_ = 0;
  std::string line_;
  size_t lineStart_ = 0;
  std::optional<Stored> black_;
  std::optional<Stored> colour_;
  size_t previousNulRun_ = 0;  // length of the 00 run just before, if any
  LogoStore& store_;
  Receipt receipt_;
};

// True for the items that end a page under `pageBreak`.
bool breaksPage(const ItemBody& body, PageBreak pageBreak) {
  if (std::holds_alternative<CutMark>(body)) return true;
  if (pageBreak == PageBreak::CutOnly) return false;
  return std::holds_alternative<TextLine>(body) || std::holds_alternative<LogoBox>(body);
}

}  // namespace

Receipt buildReceipt(std::span<const Command> commands, const ReceiptOptions& options, LogoStore* store) {
  LogoStore own;
  Builder builder(options, store != nullptr ? *store : own);
  for (const Command& c : commands) builder.apply(c);
  return builder.finish();
}

Preview previewBytes(std::span<const uint8_t> bytes, const ReceiptOptions& options, LogoStore* store) {
  Preview preview;
  preview.decoded = decodeStream(bytes);
  preview.receipt = buildReceipt(preview.decoded.commands, options, store);
  if (preview.decoded.error) {
    preview.receipt.items.push_back(
        ReceiptItem{preview.decoded.error->offset, 0,
                    Note{"DECODE ERROR at offset " + std::to_string(preview.decoded.error->offset)}});
  }
  return preview;
}

Planes stitchBands(std::span<const RasterBand* const> bands) {
  Planes page;
  for (const RasterBand* band : bands) {
    page.widthDots = std::max(page.widthDots, band->widthDots);
    page.bytesPerRow = std::max(page.bytesPerRow, band->bytesPerRow);
    page.rows += band->rows;
    page.hasColour = page.hasColour || !band->colour.empty();
  }
  page.black.assign(size_t{page.bytesPerRow} * page.rows, 0);
  page.colour.assign(page.black.size(), 0);
  size_t row = 0;
  for (const RasterBand* band : bands) {
    for (uint32_t r = 0; r < band->rows; ++r, ++row) {
      size_t from = size_t{r} * band->bytesPerRow;
      size_t to = row * page.bytesPerRow;
      std::copy_n(band->black.begin() + ptrdiff_t(from), band->bytesPerRow,
                  page.black.begin() + ptrdiff_t(to));
      if (!band->colour.empty()) {
        std::copy_n(band->colour.begin() + ptrdiff_t(from), band->bytesPerRow,
                    page.colour.begin() + ptrdiff_t(to));
      }
    }
  }
  return page;
}

std::vector<Planes> stitchPages(const Receipt& receipt, PageBreak pageBreak) {
  std::vector<Planes> pages;
  std::vector<const RasterBand*> bands;
  std::vector<size_t> offsets;
  auto close = [&] {
    if (bands.empty()) return;
    pages.push_back(stitchBands(bands));
    pages.back().bandOffsets = offsets;
    bands.clear();
    offsets.clear();
  };
  for (const ReceiptItem& item : receipt.items) {
    if (const auto* band = std::get_if<RasterBand>(&item.body)) {
      bands.push_back(band);
      offsets.push_back(item.offset);
    } else if (breaksPage(item.body, pageBreak)) {
      close();
    }
  }
  close();
  return pages;
}

}  // namespace preview
