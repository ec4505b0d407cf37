// Runs the rastertoTalveroPlanes binary as CUPS would: a small PPD in the PPD
// variable, the job options in argument 5, a raster stream on standard input
// or in a file; checks the raster it writes, its status and its messages,
// including bad input and a job cancelled with SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <cups/raster.h>

#include "support.h"

namespace {

using talvero_test::FilterCall;
using talvero_test::FilterResult;
using talvero_test::PpdOption;

using Page = talvero_test::Page2;
using talvero_test::rgbPage;
using talvero_test::writeStream;

// Left half black, right half red.
Page blackRedPage(uint32_t height = 4) {
  return rgbPage(16, height, [](uint32_t x, uint32_t) {
    return x < 8 ? std::tuple<uint8_t, uint8_t, uint8_t>{0, 0, 0}
                 : std::tuple<uint8_t, uint8_t, uint8_t>{255, 0, 0};
  });
}

// The pages of a raster stream held in `bytes`.
std::vector<Page> readStream(const std::string& bytes) {
  std::string path = talvero_test::tempDir() + "/out.ras";
  std::ofstream(path, std::ios::binary) << bytes;
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<Page> pages;
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  Page page{};
  while (ras != nullptr && cupsRasterReadHeader2(ras, &page.header)) {
    page.pixels.assign(static_cast<size_t>(page.header.cupsBytesPerLine) * page.header.cupsHeight, 0);
    unsigned got = cupsRasterReadPixels(ras, page.pixels.data(),
                                        static_cast<unsigned>(page.pixels.size()));
    EXPECT_EQ(got, page.pixels.size()) << "page " << pages.size() + 1 << " cut short";
    pages.push_back(page);
  }
  if (ras != nullptr) cupsRasterClose(ras);
  close(fd);
  return pages;
}

std::string ppdWithColorModel(std::vector<std::string> choices, int model = 31) {
  std::string path = talvero_test::tempDir() + "/printer.ppd";
  std::map<std::string, PpdOption> options;
  if (!choices.empty()) options["ColorModel"] = PpdOption{choices, ""};
  options["PageType"] = PpdOption{{"0", "1"}, ""};
  talvero_test::writePpd(path, model, options);
  return path;
}

FilterCall call(const std::string& ppd, const std::string& stdinPath,
                const std::string& options = "") {
  FilterCall c;
  c.args = {"1", "user", "title", "1", options};
  c.ppd = ppd;
  c.stdinPath = stdinPath;
  return c;
}

bool hasLine(const std::string& err, const std::string& text) {
  return err.find(text) != std::string::npos;
}

class Prefilter : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("TALVERO_FILTER", TALVERO_PREFILTER, 1); }
};

TEST_F(Prefilter, ColorModelZeroGivesBandedBlackAndRed) {
  FilterResult r = talvero_test::runFilter(
      call(ppdWithColorModel({"0", "1"}), writeStream({blackRedPage()})));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Page> pages = readStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  const cups_page_header2_t& h = pages[0].header;
  EXPECT_EQ(h.cupsColorSpace, CUPS_CSPACE_CMYK);
  EXPECT_EQ(h.cupsColorOrder, CUPS_ORDER_BANDED);
  EXPECT_EQ(h.cupsBitsPerColor, 1u);
  EXPECT_EQ(h.cupsBytesPerLine, 8u);
  EXPECT_EQ(h.cupsWidth, 16u);
  EXPECT_EQ(h.cupsHeight, 4u);
  // Every row: C empty, M and Y the red half, K the black half.
  const std::vector<uint8_t> row{0, 0, 0, 0xFF, 0, 0xFF, 0xFF, 0};
  for (uint32_t y = 0; y < 4; ++y)
    EXPECT_EQ(std::vector<uint8_t>(pages[0].pixels.begin() + y * 8,
                                   pages[0].pixels.begin() + y * 8 + 8),
              row)
        << "row " << y;
}

TEST_F(Prefilter, BlackChoiceOrNoColorModelGivesOneBitBlack) {
  struct Case {
    std::string ppd, options;
  } cases[] = {
      {ppdWithColorModel({"0", "1"}), "ColorModel=1"},
      {ppdWithColorModel({"1"}, 13), ""},
      {ppdWithColorModel({}, 10), "ColorModel=0"},
  };
  for (const auto& c : cases) {
    FilterResult r = talvero_test::runFilter(call(c.ppd, writeStream({blackRedPage()}), c.options));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<Page> pages = readStream(r.out);
    ASSERT_EQ(pages.size(), 1u) << c.options;
    EXPECT_EQ(pages[0].header.cupsColorSpace, CUPS_CSPACE_K);
    EXPECT_EQ(pages[0].header.cupsBytesPerLine, 2u);
    // Red prints black: the whole row is dots.
    EXPECT_EQ(pages[0].pixels, std::vector<uint8_t>(8, 0xFF)) << c.options;
  }
}

TEST_F(Prefilter, PagesAndTheirHeadersPassThrough) {
  Page first = blackRedPage(3);
  first.header.NumCopies = 3;
  Page second = rgbPage(20, 5, [](uint32_t, uint32_t) {
    return std::tuple<uint8_t, uint8_t, uint8_t>{255, 255, 255};
  });
  second.header.HWResolution[1] = 406;
  std::string input = writeStream({first, second});
  FilterCall c = call(ppdWithColorModel({"0", "1"}), "/dev/null");
  c.args.push_back(input);  // the file argument instead of standard input
  FilterResult r = talvero_test::runFilter(c);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Page> pages = readStream(r.out);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0].header.NumCopies, 3u);
  EXPECT_EQ(pages[0].header.cupsHeight, 3u);
  EXPECT_EQ(pages[1].header.cupsWidth, 20u);
  EXPECT_EQ(pages[1].header.cupsBytesPerLine, 12u);
  EXPECT_EQ(pages[1].header.HWResolution[1], 406u);
  EXPECT_EQ(pages[1].pixels, std::vector<uint8_t>(60, 0));
}

TEST_F(Prefilter, BadInputEndsWithAClearError) {
  std::string ppd = ppdWithColorModel({"0", "1"});
  std::string notRaster = talvero_test::tempDir() + "/note.txt";
  std::ofstream(notRaster) << "hello, printer\n";
  Page deep = blackRedPage();
  deep.header.cupsBitsPerColor = 16;
  deep.header.cupsBitsPerPixel = 48;
  deep.header.cupsBytesPerLine = 96;
  deep.pixels.resize(96 * 4);

  struct Case {
    FilterCall call;
    std::string message;
  } cases[] = {
      {call("", writeStream({blackRedPage()})), "PPD environment variable is not set"},
      {call("/nonexistent/printer.ppd", writeStream({blackRedPage()})), "Unable to open PPD file"},
      {call(ppd, notRaster), "not a CUPS raster stream"},
      {call(ppd, writeStream({deep})), "unsupported raster format"},
  };
  for (const auto& c : cases) {
    FilterResult r = talvero_test::runFilter(c.call);
    EXPECT_EQ(r.status, 1) << c.message;
    EXPECT_TRUE(hasLine(r.err, "ERROR: ")) << r.err;
    EXPECT_TRUE(hasLine(r.err, c.message)) << r.err;
  }

  FilterCall missing = call(ppd, "/dev/null");
  missing.args.push_back("/nonexistent/job.ras");
  FilterResult r = talvero_test::runFilter(missing);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(hasLine(r.err, "Unable to open raster file")) << r.err;

  FilterCall tooFew = call(ppd, "/dev/null");
  tooFew.args.resize(3);
  r = talvero_test::runFilter(tooFew);
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(hasLine(r.err, "Usage:")) << r.err;
  EXPECT_TRUE(r.out.empty());
}

// An API-mode job: rastertoTalvero reads nothing, so the prefilter drops its
// whole input and writes nothing (not even a stream header); no PPD needed.
TEST_F(Prefilter, ApiModeDropsTheInputAndWritesNothing) {
  FilterCall api = call("", writeStream({blackRedPage(), blackRedPage(200)}));
  api.args[2] = "TALVERO_API_MODE open the drawer";
  FilterResult r = talvero_test::runFilter(api);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(hasLine(r.err, "ERROR")) << r.err;
}

// A page cut short is an error, but what arrived still goes out as a whole
// page, padded with blank rows, after any complete page before it.
TEST_F(Prefilter, PageCutShortIsPaddedAndReported) {
  std::string input = writeStream({blackRedPage(2), blackRedPage(10)}, 3 * 16 * 4);
  FilterResult r = talvero_test::runFilter(call(ppdWithColorModel({"0", "1"}), input));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(hasLine(r.err, "ERROR: Page 2 is cut short after 6 of 10 rows")) << r.err;
  std::vector<Page> pages = readStream(r.out);
  ASSERT_EQ(pages.size(), 2u);
  ASSERT_EQ(pages[1].pixels.size(), 80u);
  EXPECT_EQ(pages[1].pixels[5 * 8 + 3], 0xFF);  // row 5 converted: black in K
  EXPECT_EQ(pages[1].pixels[6 * 8 + 3], 0x00);  // row 6 on: blank
  EXPECT_EQ(pages[1].pixels[9 * 8 + 5], 0x00);
}

// Writes the first `bytes` of file `path` into the pipe `fd`.
void feed(int fd, const std::string& path, size_t bytes) {
  std::ifstream in(path, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_LE(bytes, data.size());
  ASSERT_EQ(write(fd, data.data(), bytes), static_cast<ssize_t>(bytes));
}

// Cancelling in the middle of a page: status 0, the page is completed with
// blank rows, and the rows that had arrived are in it.
TEST_F(Prefilter, SigtermMidPageEndsCleanly) {
  std::string input = writeStream({blackRedPage(10)});
  off_t size = 0;
  {
    std::ifstream in(input, std::ios::binary | std::ios::ate);
    size = in.tellg();
  }
  FilterCall c = call(ppdWithColorModel({"0", "1"}), "");
  talvero_test::RunningFilter running = talvero_test::startFilter(c, true);
  ASSERT_TRUE(talvero_test::waitForError(running, "ColorModel 0"));
  // Everything but the last seven rows of 48 bytes.
  feed(running.stdinFd, input, static_cast<size_t>(size) - 7 * 48);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(running.pid, SIGTERM);
  FilterResult r = talvero_test::waitFilter(running);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(hasLine(r.err, "ERROR")) << r.err;
  std::vector<Page> pages = readStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  ASSERT_EQ(pages[0].pixels.size(), 80u);
  EXPECT_EQ(pages[0].pixels[2 * 8 + 3], 0xFF);
  EXPECT_EQ(pages[0].pixels[3 * 8 + 3], 0x00);
}

TEST_F(Prefilter, SigtermBetweenPagesEndsCleanly) {
  std::string input = writeStream({blackRedPage(4)});
  FilterCall c = call(ppdWithColorModel({"0", "1"}), "");
  talvero_test::RunningFilter running = talvero_test::startFilter(c, true);
  ASSERT_TRUE(talvero_test::waitForError(running, "ColorModel 0"));
  std::ifstream in(input, std::ios::binary | std::ios::ate);
  feed(running.stdinFd, input, static_cast<size_t>(in.tellg()));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(running.pid, SIGTERM);
  FilterResult r = talvero_test::waitFilter(running);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<Page> pages = readStream(r.out);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].pixels[3], 0xFF);
}

}  // namespace
