// Decoder of the printer byte stream that rastertoTalvero writes: turns the
// bytes into a list of commands, each with its byte offset, its length and
// its decoded fields. The stream is ESC/POS plus the compressed raster frame
// (08 43 52 ...), the raw bytes of text jobs and the status queries a host
// sends between commands (DLE EOT n, GS r n); anything outside that set
// stops the decoder with an error naming the offset of the offending byte.
//
// Use:
//   DecodeResult result = decodeStream(bytes);
//   for (const Command& c : result.commands) ... std::get_if<RasterImage>(&c.body) ...
//   if (result.error) ... result.error->offset, result.error->message ...
//
// Multi-byte numbers in the stream are little-endian (low byte first).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace preview {

// ESC @ (1B 40): initialise the printer.
struct Reset {};

// ESC a n (1B 61 n): justification 0 left, 1 centre, 2 right (as sent).
struct Justify {
  uint8_t value = 0;
};

// ESC p m t1 t2 (1B 70 m t1 t2): pulse drawer m (0 first, 1 second) on for
// t1 x 2 ms, then off for t2 x 2 ms.
struct DrawerKick {
  uint8_t drawer = 0;
  uint8_t onTime = 0;   // units of 2 ms
  uint8_t offTime = 0;  // units of 2 ms
};

// LF (0A): print the current line and feed one line.
struct LineFeed {};

// FS p n m (1C 70 n m): print stored bit image n; m 0 normal, 1 double
// width, 2 double height, 3 both.
struct PrintLogo {
  uint8_t number = 0;
  uint8_t mode = 0;
};

// GS ( L 02 00 30 32: print the graphics buffer (both colours), emptying it.
struct PrintGraphics {};

// GS ( L 06 00 30 45 kc1 kc2 x y: print the stored graphic with key code
// kc1 kc2 at horizontal scale x and vertical scale y.
struct PrintKeyedGraphic {
  std::array<uint8_t, 2> key{};
  uint8_t scaleX = 1;
  uint8_t scaleY = 1;
};

// GS ( L pL pH 30 70 30 01 01 c xL xH yL yH d1..dk: store a raster plane of
// colour c (0x31 black, 0x32 the second colour) in the graphics buffer.
struct StoreGraphics {
  uint8_t colour = 0x31;
  uint16_t widthDots = 0;
  uint16_t rows = 0;
  uint32_t bytesPerRow = 0;   // (widthDots + 7) / 8
  std::vector<uint8_t> data;  // rows x bytesPerRow
};

// GS v 0 m xL xH yL yH d..: print a raster image at once; x counts bytes.
// m 0 normal, 1 double width, 2 double height, 3 both (30-33 the same).
struct RasterImage {
  uint8_t mode = 0;
  uint16_t bytesPerRow = 0;
  uint16_t rows = 0;
  std::vector<uint8_t> data;  // rows x bytesPerRow
};

// GS V m [n] (1D 56 ...): cut. m 41 'A' full and 42 'B' partial after
// feeding n dots; m 00/30 full and 01/31 partial without n.
struct Cut {
  uint8_t mode = 0;
  std::optional<uint8_t> feed;  // present for modes 41 and 42
  bool partial() const { return mode == 0x01 || mode == 0x31 || mode == 0x42; }
};

// 08 43 52 00 00 00 00 00 wL wH hL hH <code> 08 43 52 FF 00: one
// monochrome band in run-length code (see decodeRuns).
struct CompressedRaster {
  uint16_t widthDots = 0;
  uint16_t rows = 0;
  uint32_t bytesPerRow = 0;   // (widthDots + 7) / 8
  size_t codeLength = 0;      // bytes of <code>
  std::vector<uint8_t> data;  // the decoded rows x bytesPerRow bytes
};

// A run of text bytes of a text job: 20-7E printable, 09 HT, 0D CR, 80-FF
// (no glyph in the preview font), exactly as they came.
struct Text {
  std::string bytes;
};

// A run of 00 bytes: filler (a cancelled job ends with 720 of them).
struct NulRun {
  size_t count = 0;
};

// A status query; it prints nothing, the printer answers one byte.
//   DLE EOT n (10 04 n), real-time: answered on arrival, even while the
//     printer holds data it cannot print. n 1 printer status, 2 offline
//     cause, 3 error cause, 4 roll paper sensor.
//   GS r n (1D 72 n): answered in turn, once the data before it has been
//     printed. n 1 or 49 paper sensor, 2 or 50 drawer connector.
struct StatusQuery {
  bool realTime = true;  // DLE EOT, else GS r
  uint8_t n = 0;
};

// GS ( L pL pH 30 43 30 kc1 kc2 b xL xH yL yH [c d1..dk]b: store a graphic
// in the printer's non-volatile memory under key code kc1 kc2, in b colours
// (c 0x31 black, 0x32 the second colour), x dots wide and y rows high, each
// colour's rows (x + 7) / 8 bytes. An earlier graphic with the same key is
// replaced.
struct DefineKeyedGraphic {
  std::array<uint8_t, 2> key{};
  uint16_t widthDots = 0;
  uint16_t rows = 0;
  uint32_t bytesPerRow = 0;
  std::vector<uint8_t> black;   // rows x bytesPerRow, zero where no black was sent
  std::vector<uint8_t> colour;  // rows x bytesPerRow, or empty: no second colour
};

// One image of FS q, turned from the printer's column layout (each column
// of dots top to bottom, 8 dots a byte) into rows like every other plane.
struct BitImage {
  uint32_t widthDots = 0;     // x x 8
  uint32_t rows = 0;          // y x 8
  uint32_t bytesPerRow = 0;   // widthDots / 8
  std::vector<uint8_t> data;  // rows x bytesPerRow
};

// FS q n [xL xH yL yH d1..dk]n (1C 71 ...): store n bit images in
// non-volatile memory, numbered 1 to n; every image stored before is erased.
struct DefineBitImages {
  std::vector<BitImage> images;
};

using CommandBody = std::variant<Reset, Justify, DrawerKick, LineFeed, PrintLogo, PrintGraphics,
                                 PrintKeyedGraphic, StoreGraphics, RasterImage, Cut,
                                 CompressedRaster, Text, NulRun, StatusQuery, DefineKeyedGraphic, DefineBitImages>;

// One decoded command: where it starts, how many bytes it takes, what it says.
struct Command {
  size_t offset = 0;
  size_t length = 0;
  CommandBody body;
};

// Where and why decoding stopped.
struct DecodeError {
  size_t offset = 0;
  std::string message;
};

// Every command before the first error, and the error if there was one.
struct DecodeResult {
  std::vector<Command> commands;
  std::optional<DecodeError> error;
};

// Decodes a whole printer byte stream. Never throws on bad input: the
// commands decoded so far are returned with the error.
DecodeResult decodeStream(std::span<const uint8_t> bytes);

// Result of decodeRuns.
struct RunDecode {
  enum class Status {
    Ok,         // exactly `expected` bytes decoded
    ZeroCount,  // a run with count 00
    Overshoot,  // a run that goes past `expected`
    CutOff,     // the code ended before `expected` bytes were decoded
  };
  Status status = Status::Ok;
  size_t consumed = 0;  // code bytes used (Ok), or the index of the faulty byte
};

// Decodes the run-length code of the compressed raster command from the
// start of `code` until `expected` bytes are in `out` (appended): a byte 00
// or FF followed by a count 01..FF stands for that many copies of itself;
// any other byte stands for itself. Bytes of `code` past the end are ignored.
RunDecode decodeRuns(std::span<const uint8_t> code, size_t expected, std::vector<uint8_t>& out);

// The short name of a command as it reads in the manual, e.g. "GS ( L 112".
std::string commandName(const Command& command);

// The decoded fields of a command for the --list output, e.g.
// "n=1 (centre)".
std::string commandFields(const Command& command);

// One --list line: offset, name and fields.
std::string listLine(const Command& command);

}  // namespace preview
