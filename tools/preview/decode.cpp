// Decoder of the printer byte stream: one function per command family, each
// checking that the whole frame is present before reading its fields, and the
// --list formatting of the decoded commands.
#include "tools/preview/decode.h"

#include <algorithm>
#include <cstdio>
#include <type_traits>

namespace preview {
namespace {

constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kFs = 0x1C;
constexpr uint8_t kGs = 0x1D;
constexpr uint8_t kLf = 0x0A;
constexpr uint8_t kHt = 0x09;
constexpr uint8_t kCr = 0x0D;
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEot = 0x04;

// 08 43 52 00 00 00 00 00 wL wH hL hH: start of a compressed band.
constexpr uint8_t kCompressedStart[] = {0x08, 0x43, 0x52, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr size_t kCompressedHeader = sizeof kCompressedStart + 4;
// 08 43 52 FF 00: end of a compressed band.
constexpr uint8_t kCompressedEnd[] = {0x08, 0x43, 0x52, 0xFF, 0x00};

// GS ( L pL pH m fn: the five bytes before p, then m and fn.
constexpr size_t kGsParenHeader = 5;
// Store: m fn a bx by c xL xH yL yH before the data.
constexpr size_t kStoreFields = 10;

// Formats bytes as "1B 40".
std::string hexBytes(std::span<const uint8_t> bytes) {
  std::string out;
  char hex[4];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    if (!out.empty()) out += ' ';
    out += hex;
  }
  return out;
}

// Formats one byte as "1B".
std::string hexByte(uint8_t b) {
  return hexBytes(std::span<const uint8_t>(&b, 1));
}

// True for the bytes a text job passes through: 20-7E, HT, CR and 80-FF.
bool isTextByte(uint8_t b) {
  return (b >= 0x20 && b <= 0x7E) || b >= 0x80 || b == kHt || b == kCr;
}

// Walks the stream, appending commands until the end or the first error.
class Decoder {
 public:
  explicit Decoder(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // Decodes everything; returns the commands and the error, if any.
  DecodeResult run() {
    while (pos_ < bytes_.size() && !result_.error) step();
    return std::move(result_);
  }

 private:
  // Decodes the command at pos_.
  void step() {
    uint8_t b = bytes_[pos_];
    switch (b) {
      case kEsc: return escape();
      case kFs: return fileSeparator();
      case kGs: return groupSeparator();
      case kLf: return emit(1, LineFeed{});
      case kDle: return realTimeStatus();
      case 0x00: return nulRun();
      case 0x08: return compressed();
      default:
        if (isTextByte(b)) return text();
        fail(pos_, "unknown byte " + hexByte(b));
    }
  }

  size_t left() const { return bytes_.size() - pos_; }
  uint8_t at(size_t i) const { return bytes_[pos_ + i]; }
  uint16_t le16(size_t i) const { return static_cast<uint16_t>(at(i) | (at(i + 1) << 8)); }

  // Records the error; decoding stops.
  void fail(size_t offset, std::string message) {
    result_.error = DecodeError{offset, std::move(message)};
  }

  // False (with an error) when fewer than `needed` bytes remain for `name`.
  bool have(size_t needed, const char* name) {
    if (left() >= needed) return true;
    fail(pos_, std::string(name) + " cut off by the end of input (needs " +
                   std::to_string(needed) + " bytes, " + std::to_string(left()) + " left)");
    return false;
  }

  // Appends a command of `length` bytes at pos_ and moves past it.
  void emit(size_t length, CommandBody body) {
    result_.commands.push_back(Command{pos_, length, std::move(body)});
    pos_ += length;
  }

  void unknown(size_t count) {
    fail(pos_, "unknown command " + hexBytes(bytes_.subspan(pos_, count)));
  }

  // ESC @, ESC a n, ESC p m t1 t2.
  void escape() {
    if (!have(2, "ESC")) return;
    switch (at(1)) {
      case 0x40:
        return emit(2, Reset{});
      case 0x61:
        if (have(3, "ESC a")) emit(3, Justify{at(2)});
        return;
      case 0x70:
        if (have(5, "ESC p")) emit(5, DrawerKick{at(2), at(3), at(4)});
        return;
      default:
        return unknown(2);
    }
  }

  // FS p n m, FS q n ...
  void fileSeparator() {
    if (!have(2, "FS")) return;
    if (at(1) == 0x71) return defineBitImages();
    if (at(1) != 0x70) return unknown(2);
    if (have(4, "FS p")) emit(4, PrintLogo{at(2), at(3)});
  }

  // FS q n, then per image xL xH yL yH and x * y * 8 bytes of columns: x
  // counts 8 dots across (1 to 1023), y 8 dots down (1 to 288).
  void defineBitImages() {
    if (!have(3, "FS q")) return;
    if (at(2) == 0) return fail(pos_ + 2, "FS q with n = 0 images");
    DefineBitImages define;
    size_t next = 3;  // offset of the next image's xL
    for (unsigned n = 0; n < at(2); ++n) {
      if (!have(next + 4, "FS q")) return;
      uint16_t x = le16(next), y = le16(next + 2);
      if (x < 1 || x > 1023 || y < 1 || y > 288) {
        return fail(pos_ + next, "FS q image " + std::to_string(n + 1) + " of " + std::to_string(x) + " x " +
                                     std::to_string(y) + " (x 1-1023, y 1-288 units of 8 dots)");
      }
      size_t k = size_t{x} * y * 8;
      if (!have(next + 4 + k, "FS q")) return;
      define.images.push_back(columnsToRows(bytes_.subspan(pos_ + next + 4, k), x, y));
      next += 4 + k;
    }
    emit(next, std::move(define));
  }

  // An FS q image of x * 8 columns, each y bytes top to bottom (bit 7 the
  // top dot), as rows.
  static BitImage columnsToRows(std::span<const uint8_t> columns, uint16_t x, uint16_t y) {
    BitImage image;
    image.widthDots = x * 8u;
    image.rows = y * 8u;
    image.bytesPerRow = x;
    image.data.assign(size_t{image.rows} * image.bytesPerRow, 0);
    for (uint32_t col = 0; col < image.widthDots; ++col) {
      for (uint32_t row = 0; row < image.rows; ++row) {
        if ((columns[size_t{col} * y + row / 8] & (0x80u >> (row % 8))) == 0) continue;
        image.data[size_t{row} * image.bytesPerRow + col / 8] |= uint8_t(0x80u >> (col % 8));
      }
    }
    return image;
  }

  // GS ( L, GS v 0, GS V.
  void groupSeparator() {
    if (!have(2, "GS")) return;
    switch (at(1)) {
      case 0x28:
        if (!have(3, "GS (")) return;
        if (at(2) != 0x4C) return unknown(3);
        return graphics();
      case 0x76:
        if (!have(3, "GS v")) return;
        if (at(2) != 0x30) return unknown(3);
        return rasterImage();
      case 0x56:
        return cut();
      case 0x72:
        return transmitStatus();
      default:
        return unknown(2);
    }
  }

  // DLE EOT n, n 1 to 4.
  void realTimeStatus() {
    if (!have(2, "DLE")) return;
    if (at(1) != kEot) return unknown(2);
    if (!have(3, "DLE EOT")) return;
    if (at(2) < 1 || at(2) > 4) return fail(pos_ + 2, "DLE EOT with n = " + hexByte(at(2)) + " (expected 01-04)");
    emit(3, StatusQuery{true, at(2)});
  }

  // GS r n, n 1, 2, 49 or 50.
  void transmitStatus() {
    if (!have(3, "GS r")) return;
    uint8_t n = at(2);
    if (n != 1 && n != 2 && n != 0x31 && n != 0x32) {
      return fail(pos_ + 2, "GS r with n = " + hexByte(n) + " (expected 01, 02, 31 or 32)");
    }
    emit(3, StatusQuery{false, n});
  }

  // GS ( L pL pH m fn ...: functions 50, 69 and 112.
  void graphics() {
    if (!have(kGsParenHeader, "GS ( L")) return;
    size_t p = le16(3);
    if (p < 2) {
      return fail(pos_, "GS ( L with p = " + std::to_string(p) + " has no room for m and fn");
    }
    if (!have(kGsParenHeader + 2, "GS ( L")) return;
    if (at(5) != 0x30) return fail(pos_ + 5, "GS ( L with m = " + hexByte(at(5)) + " (expected 30)");
    uint8_t fn = at(6);
    switch (fn) {
      case 0x32:
        if (p != 2) return fail(pos_, "GS ( L 50 with p = " + std::to_string(p) + " (expected 2)");
        return emit(kGsParenHeader + p, PrintGraphics{});
      case 0x45:
        if (p != 6) return fail(pos_, "GS ( L 69 with p = " + std::to_string(p) + " (expected 6)");
        if (!have(kGsParenHeader + p, "GS ( L 69")) return;
        return emit(kGsParenHeader + p, PrintKeyedGraphic{{at(7), at(8)}, at(9), at(10)});
      case 0x70:
        return storeGraphics(p);
      case 0x43:
        return defineKeyedGraphic(p);
      default:
        fail(pos_ + 6, "GS ( L function " + std::to_string(fn) + " (" + hexByte(fn) + ") not supported");
    }
  }

  // GS ( L pL pH 30 70 30 bx by c xL xH yL yH d1..dk with p = k + 10.
  void storeGraphics(size_t p) {
    if (p < kStoreFields) {
      return fail(pos_, "GS ( L 112 with p = " + std::to_string(p) + " is shorter than its fields");
    }
    if (!have(kGsParenHeader + kStoreFields, "GS ( L 112")) return;
    if (at(7) != 0x30) return fail(pos_ + 7, "GS ( L 112 with tone a = " + hexByte(at(7)) + " (expected 30)");
    if (at(8) != 0x01 || at(9) != 0x01) {
      return fail(pos_ + 8, "GS ( L 112 with bx by = " + hexByte(at(8)) + " " + hexByte(at(9)) +
                                " (expected 01 01)");
    }
    uint8_t colour = at(10);
    if (colour != 0x31 && colour != 0x32) {
      return fail(pos_ + 10, "GS ( L 112 with colour c = " + hexByte(colour) + " (expected 31 or 32)");
    }
    StoreGraphics store;
    store.colour = colour;
    store.widthDots = le16(11);
    store.rows = le16(13);
    store.bytesPerRow = (store.widthDots + 7u) / 8u;
    size_t k = size_t{store.rows} * store.bytesPerRow;
    if (p != k + kStoreFields) {
      return fail(pos_, "GS ( L 112 store length mismatch: p = " + std::to_string(p) + " but " +
                            std::to_string(store.rows) + " rows of " +
                            std::to_string(store.bytesPerRow) + " bytes need p = " +
                            std::to_string(k + kStoreFields));
    }
    if (!have(kGsParenHeader + p, "GS ( L 112")) return;
    auto data = bytes_.subspan(pos_ + kGsParenHeader + kStoreFields, k);
    store.data.assign(data.begin(), data.end());
    emit(kGsParenHeader + p, std::move(store));
  }

  // GS ( L pL pH 30 43 30 kc1 kc2 b xL xH yL yH, then b times c and the
  // colour's rows, with p = 10 + b * (1 + k).
  void defineKeyedGraphic(size_t p) {
    constexpr size_t kFields = 10;
    if (p < kFields) return fail(pos_, "GS ( L 67 with p = " + std::to_string(p) + " is shorter than its fields");
    if (!have(kGsParenHeader + kFields, "GS ( L 67")) return;
    if (at(7) != 0x30) return fail(pos_ + 7, "GS ( L 67 with a = " + hexByte(at(7)) + " (expected 30, raster)");
    DefineKeyedGraphic define;
    define.key = {at(8), at(9)};
    uint8_t colours = at(10);
    define.widthDots = le16(11);
    define.rows = le16(13);
    define.bytesPerRow = (define.widthDots + 7u) / 8u;
    size_t k = size_t{define.rows} * define.bytesPerRow;
    if (colours < 1 || colours > 2 || k == 0 || p != kFields + colours * (1 + k)) {
      return fail(pos_, "GS ( L 67 with b = " + std::to_string(colours) + ", " + std::to_string(define.widthDots) +
                            " x " + std::to_string(define.rows) + " dots and p = " + std::to_string(p) +
                            " (1 or 2 colours, p = 10 + b x (1 + rows x bytes per row))");
    }
    if (!have(kGsParenHeader + p, "GS ( L 67")) return;
    define.black.assign(k, 0);
    for (size_t c = 0, from = kGsParenHeader + kFields; c < colours; ++c, from += 1 + k) {
      uint8_t colour = at(from);
      if (colour != 0x31 && colour != 0x32) {
        return fail(pos_ + from, "GS ( L 67 with colour c = " + hexByte(colour) + " (expected 31 or 32)");
      }
      auto data = bytes_.subspan(pos_ + from + 1, k);
      (colour == 0x31 ? define.black : define.colour).assign(data.begin(), data.end());
    }
    emit(kGsParenHeader + p, std::move(define));
  }

  // GS v 0 m xL xH yL yH d.. with x bytes per row and y rows.
  void rasterImage() {
    if (!have(8, "GS v 0")) return;
    RasterImage image;
    image.mode = at(3);
    if (image.mode > 0x03 && (image.mode < 0x30 || image.mode > 0x33)) {
      return fail(pos_ + 3, "GS v 0 with mode m = " + hexByte(image.mode) + " (expected 00-03 or 30-33)");
    }
    image.bytesPerRow = le16(4);
    image.rows = le16(6);
    size_t k = size_t{image.bytesPerRow} * image.rows;
    if (!have(8 + k, "GS v 0")) return;
    auto data = bytes_.subspan(pos_ + 8, k);
    image.data.assign(data.begin(), data.end());
    emit(8 + k, std::move(image));
  }

  // GS V m, and GS V m n for the feed-then-cut modes 41 and 42.
  void cut() {
    if (!have(3, "GS V")) return;
    uint8_t mode = at(2);
    switch (mode) {
      case 0x00:
      case 0x01:
      case 0x30:
      case 0x31:
        return emit(3, Cut{mode, std::nullopt});
      case 0x41:
      case 0x42:
        if (have(4, "GS V")) emit(4, Cut{mode, at(3)});
        return;
      default:
        fail(pos_ + 2, "GS V with cut mode m = " + hexByte(mode) + " not supported");
    }
  }

  // A run of text-job bytes, as one command.
  void text() {
    size_t end = pos_;
    while (end < bytes_.size() && isTextByte(bytes_[end])) ++end;
    auto run = bytes_.subspan(pos_, end - pos_);
    emit(run.size(), Text{std::string(run.begin(), run.end())});
  }

  // A run of 00 bytes, as one command.
  void nulRun() {
    size_t end = pos_;
    while (end < bytes_.size() && bytes_[end] == 0x00) ++end;
    emit(end - pos_, NulRun{end - pos_});
  }

  // 08 43 52 00 00 00 00 00 wL wH hL hH <code> 08 43 52 FF 00.
  void compressed() {
    // The end marker on its own is a frame that never started.
    size_t endLen = sizeof kCompressedEnd;
    if (left() >= endLen && std::equal(kCompressedEnd, kCompressedEnd + endLen, bytes_.begin() + pos_)) {
      return fail(pos_, "compressed raster end marker 08 43 52 FF 00 without a start");
    }
    for (size_t i = 0; i < sizeof kCompressedStart; ++i) {
      if (i == left()) return void(have(kCompressedHeader, "compressed raster"));
      if (at(i) != kCompressedStart[i]) return unknown(i + 1);
    }
    if (!have(kCompressedHeader, "compressed raster")) return;

    CompressedRaster band;
    band.widthDots = le16(8);
    band.rows = le16(10);
    band.bytesPerRow = (band.widthDots + 7u) / 8u;
    size_t expected = size_t{band.rows} * band.bytesPerRow;
    size_t codeStart = pos_ + kCompressedHeader;
    // Each code pair yields at most 255 bytes: reserve no more than the
    // remaining input can produce (counted in 64 bits: 128 x the input can pass a 32-bit size_t).
    band.data.reserve(static_cast<size_t>(std::min<uint64_t>(expected, uint64_t{bytes_.size() - codeStart} * 128)));
    RunDecode runs = decodeRuns(bytes_.subspan(codeStart), expected, band.data);
    switch (runs.status) {
      case RunDecode::Status::Ok:
        break;
      case RunDecode::Status::ZeroCount:
        return fail(codeStart + runs.consumed,
                    "compressed raster (at offset " + std::to_string(pos_) + "): run count 00");
      case RunDecode::Status::Overshoot:
        return fail(codeStart + runs.consumed,
                    "compressed raster (at offset " + std::to_string(pos_) + "): run of " +
                        std::to_string(bytes_[codeStart + runs.consumed]) + " overshoots the data (" +
                        std::to_string(expected - band.data.size()) + " of " +
                        std::to_string(expected) + " bytes left)");
      case RunDecode::Status::CutOff:
        return fail(pos_, "compressed raster cut off by the end of input (" +
                              std::to_string(band.data.size()) + " of " + std::to_string(expected) +
                              " data bytes decoded)");
    }
    size_t marker = codeStart + runs.consumed;
    size_t present = std::min(endLen, bytes_.size() - marker);
    if (present < endLen || !std::equal(kCompressedEnd, kCompressedEnd + endLen, bytes_.begin() + marker)) {
      std::string found = present == 0 ? "the end of input" : hexBytes(bytes_.subspan(marker, present));
      return fail(marker, "compressed raster (at offset " + std::to_string(pos_) +
                              "): missing end marker 08 43 52 FF 00 after " + std::to_string(expected) +
                              " data bytes (found " + found + ")");
    }
    band.codeLength = runs.consumed;
    emit(marker + endLen - pos_, std::move(band));
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
  DecodeResult result_;
};

constexpr const char* kJustifyNames[] = {"left", "centre", "right"};

// "left"/"centre"/"right" for ESC a values 0-2 and 30-32, "?" otherwise.
const char* justifyName(uint8_t value) {
  uint8_t v = value >= 0x30 ? static_cast<uint8_t>(value - 0x30) : value;
  return v <= 2 ? kJustifyNames[v] : "unknown, drawn left";
}

// "normal", "double width", ... for the low two bits of an image mode.
const char* scaleModeName(uint8_t mode) {
  switch (mode & 0x03) {
    case 1: return "double width";
    case 2: return "double height";
    case 3: return "double width and height";
    default: return "normal";
  }
}

// A text run as C-style escaped text, at most `limit` source bytes shown.
std::string escapedText(const std::string& bytes, size_t limit) {
  std::string out;
  char hex[8];
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    auto b = static_cast<uint8_t>(bytes[i]);
    if (b == kHt) {
      out += "\\t";
    } else if (b == kCr) {
      out += "\\r";
    } else if (b == '"' || b == '\\') {
      out += '\\';
      out += static_cast<char>(b);
    } else if (b >= 0x80) {
      std::snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

// What a status query asks for.
const char* statusQueryName(const StatusQuery& query) {
  if (!query.realTime) return query.n == 1 || query.n == 0x31 ? "paper sensor status" : "drawer status";
  switch (query.n) {
    case 1: return "printer status";
    case 2: return "offline cause";
    case 3: return "error cause";
    default: return "roll paper sensor status";
  }
}

template <class>
[[maybe_unused]] inline constexpr bool kAlwaysFalse = false;  // clang sees no use in discarded branches

}  // namespace

RunDecode decodeRuns(std::span<const uint8_t> code, size_t expected, std::vector<uint8_t>& out) {
  size_t start = out.size();
  size_t i = 0;
  while (out.size() - start < expected) {
    if (i >= code.size()) return {RunDecode::Status::CutOff, i};
    uint8_t b = code[i];
    if (b != 0x00 && b != 0xFF) {
      out.push_back(b);
      ++i;
      continue;
    }
    if (i + 1 >= code.size()) return {RunDecode::Status::CutOff, i + 1};
    uint8_t count = code[i + 1];
    if (count == 0) return {RunDecode::Status::ZeroCount, i + 1};
    if (count > expected - (out.size() - start)) return {RunDecode::Status::Overshoot, i + 1};
    out.insert(out.end(), count, b);
    i += 2;
  }
  return {RunDecode::Status::Ok, i};
}

DecodeResult decodeStream(std::span<const uint8_t> bytes) {
  return Decoder(bytes).run();
}

std::string commandName(const Command& command) {
  return std::visit(
      [](const auto& c) -> std::string {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, Reset>) return "ESC @";
        else if constexpr (std::is_same_v<T, Justify>) return "ESC a";
        else if constexpr (std::is_same_v<T, DrawerKick>) return "ESC p";
        else if constexpr (std::is_same_v<T, LineFeed>) return "LF";
        else if constexpr (std::is_same_v<T, PrintLogo>) return "FS p";
        else if constexpr (std::is_same_v<T, PrintGraphics>) return "GS ( L 50";
        else if constexpr (std::is_same_v<T, PrintKeyedGraphic>) return "GS ( L 69";
        else if constexpr (std::is_same_v<T, StoreGraphics>) return "GS ( L 112";
        else if constexpr (std::is_same_v<T, RasterImage>) return "GS v 0";
        else if constexpr (std::is_same_v<T, Cut>) return "GS V";
        else if constexpr (std::is_same_v<T, CompressedRaster>) return "08 43 52";
        else if constexpr (std::is_same_v<T, Text>) return "text";
        else if constexpr (std::is_same_v<T, NulRun>) return "NUL run";
        else if constexpr (std::is_same_v<T, StatusQuery>) return c.realTime ? "DLE EOT" : "GS r";
        else if constexpr (std::is_same_v<T, DefineKeyedGraphic>) return "GS ( L 67";
        else if constexpr (std::is_same_v<T, DefineBitImages>) return "FS q";
        else static_assert(kAlwaysFalse<T>);
      },
      command.body);
}

std::string commandFields(const Command& command) {
  auto s = [](auto v) { return std::to_string(v); };
  return std::visit(
      [&](const auto& c) -> std::string {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, Reset>) {
          return "initialise printer";
        } else if constexpr (std::is_same_v<T, Justify>) {
          return "n=" + s(c.value) + " (" + justifyName(c.value) + ")";
        } else if constexpr (std::is_same_v<T, DrawerKick>) {
          std::string drawer = c.drawer == 0 || c.drawer == 0x30   ? "drawer 1"
                               : c.drawer == 1 || c.drawer == 0x31 ? "drawer 2"
                                                                   : "unknown drawer";
          return "m=" + s(c.drawer) + " t1=" + s(c.onTime) + " t2=" + s(c.offTime) + " (" + drawer +
                 ", on " + s(c.onTime * 2) + " ms, off " + s(c.offTime * 2) + " ms)";
        } else if constexpr (std::is_same_v<T, LineFeed>) {
          return "print line and feed";
        } else if constexpr (std::is_same_v<T, PrintLogo>) {
          return "n=" + s(c.number) + " m=" + s(c.mode) + " (stored image " + s(c.number) + ", " +
                 scaleModeName(c.mode) + ")";
        } else if constexpr (std::is_same_v<T, PrintGraphics>) {
          return "print graphics buffer";
        } else if constexpr (std::is_same_v<T, PrintKeyedGraphic>) {
          return "key=" + hexBytes(c.key) + " (\"" + escapedText(std::string(c.key.begin(), c.key.end()), 2) +
                 "\") x=" + s(c.scaleX) + " y=" + s(c.scaleY);
        } else if constexpr (std::is_same_v<T, StoreGraphics>) {
          return std::string("c=") + hexByte(c.colour) + (c.colour == 0x31 ? " (black)" : " (red)") +
                 " width=" + s(c.widthDots) + " rows=" + s(c.rows) +
                 " bytes/row=" + s(c.bytesPerRow) + " data=" + s(c.data.size());
        } else if constexpr (std::is_same_v<T, RasterImage>) {
          return "m=" + s(c.mode) + " (" + scaleModeName(c.mode) + ") x=" + s(c.bytesPerRow) +
                 " bytes (" + s(c.bytesPerRow * 8) + " dots) rows=" + s(c.rows) +
                 " data=" + s(c.data.size());
        } else if constexpr (std::is_same_v<T, Cut>) {
          std::string out = "m=" + hexByte(c.mode) + (c.partial() ? " (partial cut" : " (full cut");
          if (c.feed) out += ", feed " + s(*c.feed) + " first";
          return out + ")";
        } else if constexpr (std::is_same_v<T, CompressedRaster>) {
          return "width=" + s(c.widthDots) + " rows=" + s(c.rows) + " bytes/row=" + s(c.bytesPerRow) +
                 " code=" + s(c.codeLength) + " data=" + s(c.data.size());
        } else if constexpr (std::is_same_v<T, Text>) {
          constexpr size_t kShown = 60;
          std::string out = s(c.bytes.size()) + " bytes \"" + escapedText(c.bytes, kShown) + "\"";
          if (c.bytes.size() > kShown) out += "...";
          return out;
        } else if constexpr (std::is_same_v<T, NulRun>) {
          return s(c.count) + " bytes 00";
        } else if constexpr (std::is_same_v<T, StatusQuery>) {
          return "n=" + s(c.n) + " (" + statusQueryName(c) + ", asks the printer)";
        } else if constexpr (std::is_same_v<T, DefineKeyedGraphic>) {
          return "key=" + hexBytes(c.key) + " (\"" + escapedText(std::string(c.key.begin(), c.key.end()), 2) +
                 "\") width=" + s(c.widthDots) + " rows=" + s(c.rows) +
                 (c.colour.empty() ? " (black)" : " (black and red)");
        } else if constexpr (std::is_same_v<T, DefineBitImages>) {
          std::string out = s(c.images.size()) + " image" + (c.images.size() == 1 ? "" : "s");
          for (const BitImage& image : c.images) out += " " + s(image.widthDots) + "x" + s(image.rows);
          return out + " (replaces every stored image)";
        } else {
          static_assert(kAlwaysFalse<T>);
        }
      },
      command.body);
}

std::string listLine(const Command& command) {
  char head[64];
  std::snprintf(head, sizeof head, "%8zu  %-11s ", command.offset, commandName(command).c_str());
  return head + commandFields(command);
}

}  // namespace preview
