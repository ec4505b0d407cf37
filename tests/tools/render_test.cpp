// Drawing and the command line: a two-colour band through PNG and back,
// placement on the paper, and talvero-preview run as a user runs it.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support.h"
#include "tools/preview/receipt.h"
#include "tools/preview/render.h"

namespace {

using talvero_test::Bytes;
using talvero_test::hex;
using preview::Ink;

preview::Canvas draw(const Bytes& stream, uint32_t width) {
  preview::Preview p = preview::previewBytes(stream, preview::ReceiptOptions{width});
  EXPECT_FALSE(p.decoded.error);
  preview::Canvas canvas;
  std::string error;
  EXPECT_TRUE(preview::renderReceipt(p.receipt, preview::RenderOptions{width}, canvas, error)) << error;
  return canvas;
}

// An RGB picture read back with libpng.
struct Picture {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
  preview::Rgb at(uint32_t x, uint32_t y) const {
    const uint8_t* p = &rgb[(size_t{y} * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
};

Picture readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << path << ": " << image.message;
    return picture;
  }
  image.format = PNG_FORMAT_RGB;
  picture.width = image.width;
  picture.height = image.height;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << path << ": " << image.message;
  }
  return picture;
}

// A 16 x 2 dot band: row 0 black 8 dots then red 8 dots; row 1 both planes
// set on the first 4 dots, nothing on the rest.
const Bytes kTwoColourBand = hex(
    "1D 28 4C 0E 00 30 70 30 01 01 31 10 00 02 00 FF 00 F0 00"
    "1D 28 4C 0E 00 30 70 30 01 01 32 10 00 02 00 00 FF F0 00"
    "1D 28 4C 02 00 30 32");

TEST(Render, PngRoundTrip) {
  preview::Canvas canvas = draw(kTwoColourBand, 64);
  std::string path = talvero_test::tempDir() + "/band.png";
  std::string error;
  ASSERT_TRUE(preview::writePng(canvas, path, error)) << error;

  Picture picture = readPng(path);
  ASSERT_EQ(picture.width, canvas.width);
  ASSERT_EQ(picture.height, canvas.height);
  const preview::Rgb black{0, 0, 0}, white{255, 255, 255};
  uint32_t top = preview::kTopMargin;
  EXPECT_EQ(picture.at(0, top), black);
  EXPECT_EQ(picture.at(7, top), black);
  preview::Rgb red = picture.at(8, top);
  EXPECT_TRUE(red.r >= 200 && red.g <= 40 && red.b <= 40) << int(red.r) << "," << int(red.g) << "," << int(red.b);
  EXPECT_EQ(picture.at(15, top), red);
  EXPECT_EQ(picture.at(16, top), white);   // past the band
  EXPECT_EQ(picture.at(3, top + 1), black);  // both planes: black
  EXPECT_EQ(picture.at(4, top + 1), white);
  EXPECT_EQ(picture.at(0, top - 1), white);  // paper above the band
  EXPECT_EQ(picture.at(0, top + 2), white);  // and below
  preview::Rgb margin = picture.at(64 + 2, top);
  EXPECT_NE(margin, white);  // the grey strip starts at the paper's edge
  EXPECT_EQ(picture.at(63, top), white);
}

// Bands and logos go where ESC a puts them; a band wider than the paper
// widens it rather than being cut.
TEST(Render, Placement) {
  Bytes stream = hex(
      "1D 76 30 00 02 00 01 00 FF FF"              // 16 dots, left
      "1B 61 01 1D 76 30 00 02 00 01 00 FF FF"     // centred
      "1B 61 02 1D 76 30 00 02 00 01 00 FF FF"     // right
      "1B 61 31 1C 70 01 00"                       // '1' centres as 1 does
      "1B 61 00 1D 76 30 00 64 00 01 00");         // 800 dots wide
  stream.insert(stream.end(), 100, 0x80);
  preview::Canvas canvas = draw(stream, 384);
  ASSERT_EQ(canvas.placements.size(), 5u);
  EXPECT_EQ(canvas.paperWidth, 800u);
  EXPECT_EQ(canvas.placements[0].x, 0u);
  EXPECT_EQ(canvas.placements[1].x, (800u - 16) / 2);
  EXPECT_EQ(canvas.placements[2].x, 800u - 16);
  EXPECT_EQ(canvas.placements[3].x, (800u - preview::kLogoWidth) / 2);
  EXPECT_EQ(canvas.placements[3].height, preview::kLogoHeight);
  // Each item starts where the one before ended.
  EXPECT_EQ(canvas.placements[1].y, preview::kTopMargin + 1);
  EXPECT_EQ(canvas.placements[4].y, preview::kTopMargin + 3 + preview::kLogoHeight);
  EXPECT_EQ(canvas.at(800 - 16, canvas.placements[2].y), Ink::Black);
  EXPECT_EQ(canvas.at(792, canvas.placements[4].y), Ink::Black);  // last byte's first dot
  EXPECT_EQ(canvas.at(793, canvas.placements[4].y), Ink::Paper);
}

// Text: characters inside their 12 x 24 cells, lines kLineHeight apart;
// a cut line in annotation ink across the paper.
TEST(Render, TextAndCut) {
  preview::Canvas canvas = draw(hex("49 0A 0A 2E 0A 1D 56 41 00"), 576);
  ASSERT_EQ(canvas.placements.size(), 4u);
  EXPECT_EQ(canvas.placements[1].y - canvas.placements[0].y, preview::kLineHeight);
  auto inkIn = [&](uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
    int count = 0;
    for (uint32_t y = y0; y < y0 + h; ++y)
      for (uint32_t x = x0; x < x0 + w; ++x) count += canvas.at(x, y) == Ink::Black;
    return count;
  };
  uint32_t y0 = canvas.placements[0].y;
  EXPECT_GT(inkIn(0, y0, preview::kCellWidth, preview::kCellHeight), 0);    // "I"
  EXPECT_EQ(inkIn(preview::kCellWidth, y0, 100, preview::kLineHeight), 0);  // nothing after it
  EXPECT_EQ(inkIn(0, canvas.placements[1].y, 100, preview::kLineHeight), 0);  // the empty line
  EXPECT_GT(inkIn(0, canvas.placements[2].y, preview::kCellWidth, preview::kCellHeight), 0);  // "."
  uint32_t cutY = canvas.placements[3].y;
  int dashes = 0;
  for (uint32_t y = cutY; y < cutY + preview::kCutGap; ++y) dashes += canvas.at(1, y) == Ink::Annotation;
  EXPECT_GT(dashes, 0);
}

// A few bytes can describe a picture far larger than the receipt: an image
// 38161 bytes wide and no rows widens the paper to 305288 dots. Above the
// cap it is refused with a message and no canvas.
TEST(Render, PictureSizeIsCapped) {
  preview::Preview p = preview::previewBytes(hex("1D 76 30 32 11 95 00 00"));
  const uint64_t pixels = uint64_t{305288 + preview::kMarginWidth} * 24;
  for (uint64_t cap : {preview::kMaxCanvasPixels, pixels, pixels - 1}) {
    preview::Canvas canvas;
    std::string error;
    bool drawn = preview::renderReceipt(p.receipt, preview::RenderOptions{576, cap}, canvas, error);
    EXPECT_EQ(drawn, cap >= pixels) << cap;
    EXPECT_EQ(canvas.pixels.size(), drawn ? pixels : 0) << cap;
    EXPECT_EQ(error, drawn ? "" : "preview too large to draw (305584 x 24 dots); use --list");
  }
}

// ---- the command line ----

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs talvero-preview with `args` (shell words) in `dir`.
ToolRun runTool(const std::string& dir, const std::string& args) {
  std::string command = "cd '" + dir + "' && '" TALVERO_PREVIEW "' " + args + " >stdout 2>stderr";
  int raw = std::system(command.c_str());
  ToolRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = slurp(dir + "/stdout");
  run.err = slurp(dir + "/stderr");
  return run;
}

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TEST(Tool, ListStopsAtTheErrorWithStatus1) {
  std::string dir = talvero_test::tempDir();
  writeFile(dir + "/job.bin", hex("1B 40 41 0A 1B 99 0A"));
  ToolRun run = runTool(dir, "--list job.bin");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "       0  ESC @       initialise printer\n"
            "       2  text        1 bytes \"A\"\n"
            "       3  LF          print line and feed\n");
  EXPECT_EQ(run.err, "talvero-preview: offset 4: unknown command 1B 99\n");
  EXPECT_FALSE(std::filesystem::exists(dir + "/job.bin.png"));  // --list alone draws nothing
}

TEST(Tool, WritesPngBesideTheInputOrWhereAsked) {
  std::string dir = talvero_test::tempDir();
  writeFile(dir + "/job.bin", kTwoColourBand);
  ToolRun plain = runTool(dir, "job.bin");
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(plain.err, "");
  Picture picture = readPng(dir + "/job.bin.png");
  EXPECT_EQ(picture.width, 576 + preview::kMarginWidth);

  ToolRun both = runTool(dir, "--list --width 384 -o narrow.png < job.bin");
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_NE(both.out.find("GS ( L 50"), std::string::npos);
  EXPECT_EQ(readPng(dir + "/narrow.png").width, 384 + preview::kMarginWidth);

  ToolRun stdinDefault = runTool(dir, "- < job.bin");
  EXPECT_EQ(stdinDefault.status, 0) << stdinDefault.err;
  EXPECT_TRUE(std::filesystem::exists(dir + "/preview.png"));
}

TEST(Tool, UsageErrorsAndWarnings) {
  std::string dir = talvero_test::tempDir();
  EXPECT_EQ(runTool(dir, "--width 0 x").status, 2);
  EXPECT_EQ(runTool(dir, "--bogus").status, 2);
  EXPECT_EQ(runTool(dir, "a b").status, 2);
  ToolRun missing = runTool(dir, "missing.bin");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot open missing.bin"), std::string::npos) << missing.err;
  ToolRun help = runTool(dir, "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("drawn black"), std::string::npos);

  writeFile(dir + "/tail.bin", hex("41 42"));
  ToolRun tail = runTool(dir, "--list tail.bin");
  EXPECT_EQ(tail.status, 0);
  EXPECT_NE(tail.err.find("offset 0: warning: text at the end of the stream"), std::string::npos) << tail.err;
}

// An image wider than the paper it is previewed on gives one warning per
// image (a run of bands of one width), naming its offset and both widths.
TEST(Tool, WarnsAboutImagesWiderThanThePaper) {
  std::string dir = talvero_test::tempDir();
  Bytes band = hex("1D 76 30 00 5D 00 01 00");  // GS v 0: 93 bytes (744 dots) x 1 row
  band.resize(band.size() + 93, 0xFF);
  Bytes job = hex("1B 40");
  for (const Bytes& part : {band, band, hex("0A"), band}) job.insert(job.end(), part.begin(), part.end());
  writeFile(dir + "/wide.bin", job);

  const std::string warning = "dots wide, wider than the paper's 576 dots (the printer cannot print it whole)\n";
  ToolRun run = runTool(dir, "--list wide.bin");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "talvero-preview: offset 2: warning: the image is 744 " + warning +
                         "talvero-preview: offset 205: warning: the image is 744 " + warning);
  EXPECT_EQ(runTool(dir, "--list --width 744 wide.bin").err, "");
}

// Under a memory limit a picture within the cap fails to draw with a
// message and exit status 1, not an abort.
TEST(Tool, ShortOfMemoryFailsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer reserves more address space than the limit";
#endif
  if (!talvero_test::addressSpaceLimitsHold()) GTEST_SKIP() << "address-space limits are not enforced here (qemu-user)";
  std::string dir = talvero_test::tempDir();
  Bytes job = hex("1B 40 1D 76 30 00 FF FF 00 00");  // 524280 dots wide, no rows
  job.insert(job.end(), 9, 0x0A);                      // 9 lines: 330 rows of picture
  writeFile(dir + "/wide.bin", job);
  ToolRun run = runTool(dir, "-o out.png wide.bin");  // 173 M pixels, under the cap
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_GT(std::filesystem::file_size(dir + "/out.png"), 0u);

  std::string limited = "cd '" + dir + "' && (ulimit -v 120000 && exec '" TALVERO_PREVIEW
                        "' -o small.png wide.bin) 2>stderr";
  int raw = std::system(limited.c_str());
  run.err = slurp(dir + "/stderr");
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
  EXPECT_NE(run.err.find("talvero-preview: not enough memory to draw the preview (524576 x 330 dots); use --list\n"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir + "/small.png"));
}

}  // namespace
