// The preview decoder: known answers for each command, the run-length code,
// and the errors with the offsets they name.
#include <gtest/gtest.h>

#include <random>

#include "output/compress.h"
#include "core/output_sink.h"
#include "support.h"
#include "tools/preview/decode.h"

namespace {

using talvero_test::Bytes;
using talvero_test::hex;
using talvero_test::hexDump;
using talvero_test::toString;

preview::DecodeResult decode(const Bytes& bytes) {
  return preview::decodeStream(bytes);
}

// Decodes a stream that must hold exactly one command and no error.
preview::Command single(const std::string& hexText) {
  preview::DecodeResult result = decode(hex(hexText));
  EXPECT_FALSE(result.error) << hexText << ": " << result.error->message;
  EXPECT_EQ(result.commands.size(), 1u) << hexText;
  if (result.commands.empty()) return {};
  EXPECT_EQ(result.commands[0].offset, 0u);
  EXPECT_EQ(result.commands[0].length, hex(hexText).size()) << hexText;
  return result.commands[0];
}

TEST(Decode, FieldsOfEachCommand) {
  using namespace preview;
  EXPECT_TRUE(std::holds_alternative<Reset>(single("1B 40").body));
  EXPECT_TRUE(std::holds_alternative<LineFeed>(single("0A").body));
  EXPECT_TRUE(std::holds_alternative<PrintGraphics>(single("1D 28 4C 02 00 30 32").body));

  EXPECT_EQ(std::get<Justify>(single("1B 61 02").body).value, 2);
  EXPECT_EQ(std::get<Justify>(single("1B 61 07").body).value, 7);  // kept as sent

  auto kick = std::get<DrawerKick>(single("1B 70 01 32 FF").body);
  EXPECT_EQ(kick.drawer, 1);
  EXPECT_EQ(kick.onTime, 0x32);
  EXPECT_EQ(kick.offTime, 0xFF);

  auto logo = std::get<PrintLogo>(single("1C 70 02 03").body);
  EXPECT_EQ(logo.number, 2);
  EXPECT_EQ(logo.mode, 3);

  auto keyed = std::get<PrintKeyedGraphic>(single("1D 28 4C 06 00 30 45 41 42 02 01").body);
  EXPECT_EQ(keyed.key, (std::array<uint8_t, 2>{0x41, 0x42}));
  EXPECT_EQ(keyed.scaleX, 2);
  EXPECT_EQ(keyed.scaleY, 1);

  // 12 dots wide (2 bytes a row), 2 rows: p = 4 + 10 = 0x0E.
  auto store = std::get<StoreGraphics>(single("1D 28 4C 0E 00 30 70 30 01 01 32 0C 00 02 00 F0 10 0F 30").body);
  EXPECT_EQ(store.colour, 0x32);
  EXPECT_EQ(store.widthDots, 12);
  EXPECT_EQ(store.rows, 2);
  EXPECT_EQ(store.bytesPerRow, 2u);
  EXPECT_EQ(store.data, hex("F0 10 0F 30"));

  // x counts bytes: 3 bytes a row, 2 rows.
  auto image = std::get<RasterImage>(single("1D 76 30 00 03 00 02 00 01 02 03 04 05 06").body);
  EXPECT_EQ(image.mode, 0);
  EXPECT_EQ(image.bytesPerRow, 3);
  EXPECT_EQ(image.rows, 2);
  EXPECT_EQ(image.data, hex("01 02 03 04 05 06"));

  struct CutCase {
    const char* bytes;
    uint8_t mode;
    std::optional<uint8_t> feed;
    bool partial;
  } cuts[] = {
      {"1D 56 41 01", 0x41, 1, false}, {"1D 56 42 05", 0x42, 5, true}, {"1D 56 00", 0x00, {}, false},
      {"1D 56 01", 0x01, {}, true},    {"1D 56 30", 0x30, {}, false},  {"1D 56 31", 0x31, {}, true},
  };
  for (const CutCase& c : cuts) {
    auto cut = std::get<Cut>(single(c.bytes).body);
    EXPECT_EQ(cut.mode, c.mode) << c.bytes;
    EXPECT_EQ(cut.feed, c.feed) << c.bytes;
    EXPECT_EQ(cut.partial(), c.partial) << c.bytes;
  }

  // 10 dots (2 bytes a row) x 2 rows = 4 bytes: 41, then FF x 2, then 42.
  auto band = std::get<CompressedRaster>(
      single("08 43 52 00 00 00 00 00 0A 00 02 00 41 FF 02 42 08 43 52 FF 00").body);
  EXPECT_EQ(band.widthDots, 10);
  EXPECT_EQ(band.rows, 2);
  EXPECT_EQ(band.bytesPerRow, 2u);
  EXPECT_EQ(band.codeLength, 4u);
  EXPECT_EQ(band.data, hex("41 FF FF 42"));

  EXPECT_EQ(std::get<Text>(single("48 09 69 0D 80 FF 7E 20").body).bytes, toString(hex("48 09 69 0D 80 FF 7E 20")));
  EXPECT_EQ(std::get<NulRun>(single("00 00 00 00 00").body).count, 5u);
}

// A job as the filter writes it: offsets and kinds in order, text and NUL
// runs each kept as one command.
TEST(Decode, SequenceOffsets) {
  Bytes stream = hex("1B 40 1B 61 01 41 42 0D 0A 1D 76 30 00 01 00 01 00 AA 0A 1D 56 41 01");
  stream.insert(stream.end(), 720, 0x00);
  Bytes tail = hex("1B 40");
  stream.insert(stream.end(), tail.begin(), tail.end());
  preview::DecodeResult result = decode(stream);
  ASSERT_FALSE(result.error) << result.error->message;
  std::vector<std::pair<size_t, std::string>> seen;
  for (const auto& c : result.commands) seen.emplace_back(c.offset, preview::commandName(c));
  std::vector<std::pair<size_t, std::string>> expected = {
      {0, "ESC @"}, {2, "ESC a"},    {5, "text"}, {8, "LF"},       {9, "GS v 0"},
      {18, "LF"},   {19, "GS V"},    {23, "NUL run"}, {743, "ESC @"},
  };
  EXPECT_EQ(seen, expected);
}

TEST(Decode, ListLines) {
  EXPECT_EQ(preview::listLine(single("1B 61 01")), "       0  ESC a       n=1 (centre)");
  EXPECT_EQ(preview::listLine(single("1B 70 00 32 FF")),
            "       0  ESC p       m=0 t1=50 t2=255 (drawer 1, on 100 ms, off 510 ms)");
  EXPECT_EQ(preview::commandFields(single("1D 56 42 01")), "m=42 (partial cut, feed 1 first)");
  EXPECT_EQ(preview::commandFields(single("09 41 0D 80")), "4 bytes \"\\tA\\r\\x80\"");
  EXPECT_EQ(preview::listLine(single("10 04 04")), "       0  DLE EOT     n=4 (roll paper sensor status, asks the printer)");
  EXPECT_EQ(preview::listLine(single("1D 72 01")), "       0  GS r        n=1 (paper sensor status, asks the printer)");
  EXPECT_EQ(preview::commandFields(single("10 04 02")), "n=2 (offline cause, asks the printer)");
}

TEST(DecodeRuns, KnownAnswers) {
  using Status = preview::RunDecode::Status;
  struct Case {
    Bytes code;
    size_t expected;
    Status status;
    size_t consumed;
    Bytes data;
  } cases[] = {
      {hex("00 03 41 FF 02 42 00 01"), 8, Status::Ok, 8, hex("00 00 00 41 FF FF 42 00")},
      {hex("00 FF 00 2D"), 300, Status::Ok, 4, Bytes(300, 0x00)},
      {hex("FF FF FF 01"), 256, Status::Ok, 4, Bytes(256, 0xFF)},
      {hex("41 42 43 99"), 3, Status::Ok, 3, hex("41 42 43")},  // stops at the length
      {hex(""), 0, Status::Ok, 0, {}},
      {hex("41 00 00 42"), 3, Status::ZeroCount, 2, hex("41")},
      {hex("00 05"), 4, Status::Overshoot, 1, {}},
      {hex("41 FF"), 3, Status::CutOff, 2, hex("41")},
      {hex("41"), 3, Status::CutOff, 1, hex("41")},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out;
    preview::RunDecode result = preview::decodeRuns(c.code, c.expected, out);
    EXPECT_EQ(result.status, c.status) << hexDump(toString(c.code));
    EXPECT_EQ(result.consumed, c.consumed) << hexDump(toString(c.code));
    if (c.status == Status::Ok) {
      EXPECT_EQ(out, c.data) << hexDump(toString(c.code));
    }
  }
}

// The filter's run-length coder and the decoder agree on random planes
// made of long 00/FF runs and literals.
TEST(DecodeRuns, RoundTripThroughTheFilterCoder) {
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes plane;
    size_t target = std::uniform_int_distribution<size_t>(0, 3000)(rng);
    while (plane.size() < target) {
      int kind = std::uniform_int_distribution<int>(0, 2)(rng);
      size_t run = std::uniform_int_distribution<size_t>(1, 600)(rng);
      if (kind == 2) {
        plane.push_back(static_cast<uint8_t>(rng()));
      } else {
        plane.insert(plane.end(), run, kind == 0 ? 0x00 : 0xFF);
      }
    }
    std::string code;
    OutputSink sink(appendToString, &code);
    CompressData(sink, plane.data(), static_cast<uint32_t>(plane.size()));
    sink.flush();

    Bytes codeBytes(code.begin(), code.end());
    std::vector<uint8_t> out;
    preview::RunDecode result = preview::decodeRuns(codeBytes, plane.size(), out);
    ASSERT_EQ(result.status, preview::RunDecode::Status::Ok) << "trial " << trial;
    ASSERT_EQ(result.consumed, code.size()) << "trial " << trial;
    ASSERT_EQ(out, plane) << "trial " << trial;
  }
}

// Each malformed stream stops with an error at the offset of the fault; the
// commands before it are kept.
TEST(Decode, ErrorsNameTheOffset) {
  struct Case {
    std::string bytes;
    size_t commandsBefore;
    size_t offset;
    std::string message;  // a part of the message
  } cases[] = {
      {"1B 40 07", 1, 2, "unknown byte 07"},
      {"0A 1B 99", 1, 1, "unknown command 1B 99"},
      {"1C 72 00", 0, 0, "unknown command 1C 72"},
      {"1C 71 01 02 00 00 00", 0, 3, "FS q image 1 of 2 x 0"},
      {"1C 71 01 01 00 01 00 FF", 0, 0, "FS q cut off"},
      {"1D 28 4C 0C 00 30 43 30 30 31 01 08 00 01 00 33 FF", 0, 15, "colour c = 33"},
      {"1D 28 4C 0C 00 30 43 30 30 31 01 08 00 02 00 31 FF", 0, 0, "GS ( L 67 with b = 1, 8 x 2 dots and p = 12"},
      {"1D 28 41 02 00", 0, 0, "unknown command 1D 28 41"},
      {"1D 76 31", 0, 0, "unknown command 1D 76 31"},
      {"1D 56 43 01", 0, 2, "cut mode m = 43"},
      {"0A 1B", 1, 1, "ESC cut off by the end of input"},
      {"1B 61", 0, 0, "ESC a cut off by the end of input (needs 3 bytes, 2 left)"},
      {"1D 76 30 00 02 00 02 00 01 02 03", 0, 0, "GS v 0 cut off by the end of input (needs 12 bytes, 11 left)"},
      {"1D 76 30 05 01 00 01 00 00", 0, 3, "mode m = 05"},
      {"1D 28 4C 03 00 30 33 00", 0, 6, "function 51 (33) not supported"},
      {"1D 28 4C 02 00 31 32", 0, 5, "m = 31"},
      {"1D 28 4C 06 00 30 45 30 31 01", 0, 0, "GS ( L 69 cut off"},
      {"1D 28 4C 0C 00 30 70 30 01 01 31 08 00 01 00 FF", 0, 0, "store length mismatch: p = 12"},
      {"1D 28 4C 0B 00 30 70 30 01 01 31 08 00 02 00 FF", 0, 0, "store length mismatch: p = 11"},
      {"1D 28 4C 0B 00 30 70 30 01 01 31 08 00 01 00", 0, 0, "GS ( L 112 cut off"},
      {"1D 28 4C 0B 00 30 70 30 01 01 33 08 00 01 00 FF", 0, 10, "colour c = 33"},
      {"1D 28 4C 0B 00 30 70 30 02 01 31 08 00 01 00 FF", 0, 8, "bx by = 02 01"},
      {"08 43 52 00 00 00 00 00 08 00 02 00 41 00 00 42 08 43 52 FF 00", 0, 14, "run count 00"},
      {"08 43 52 00 00 00 00 00 08 00 02 00 FF 03 08 43 52 FF 00", 0, 13, "overshoots"},
      {"08 43 52 00 00 00 00 00 08 00 02 00 41 42 1B 40", 0, 14, "missing end marker"},
      {"08 43 52 00 00 00 00 00 08 00 02 00 41 42", 0, 14, "missing end marker 08 43 52 FF 00 after 2 data bytes (found the end of input)"},
      {"08 43 52 00 00 00 00 00 08 00 03 00 41 42", 0, 0, "compressed raster cut off"},
      {"08 43 52 00 00", 0, 0, "compressed raster cut off"},
      {"08 43 53", 0, 0, "unknown command 08 43 53"},
      {"0A 08 43 52 FF 00", 1, 1, "end marker 08 43 52 FF 00 without a start"},
      {"10 04 05", 0, 2, "DLE EOT with n = 05"},
      {"10 05 01", 0, 0, "unknown command 10 05"},
      {"1D 72 03", 0, 2, "GS r with n = 03"},
  };
  for (const Case& c : cases) {
    preview::DecodeResult result = decode(hex(c.bytes));
    ASSERT_TRUE(result.error) << c.bytes;
    EXPECT_EQ(result.commands.size(), c.commandsBefore) << c.bytes;
    EXPECT_EQ(result.error->offset, c.offset) << c.bytes << ": " << result.error->message;
    EXPECT_NE(result.error->message.find(c.message), std::string::npos)
        << c.bytes << ": got \"" << result.error->message << "\"";
  }
}

}  // namespace
