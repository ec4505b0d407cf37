// The filter binary run as the spooler runs it: exit paths with their
// standard-error lines and exit status, end-of-page feeds and cuts, drawer
// kicks, API mode, and pages that end the job early. The PPDs here have no
// LogoPosition option (-1), so pages send no image and the printer bytes are
// exactly those of the job flow itself.
#include <chrono>
#include <fstream>

#include <gtest/gtest.h>

#include "support.h"

using namespace talvero_test;

namespace {

const std::string kBanner = "TALVERO DEBUG MSG : drive version v1.3.5";
const std::string kUsage = "TALVERO DEBUG MSG: rastertoTalvero job-id user title copies options [file]";
const std::string kReady = "INFO: Ready to print.";
const std::string kNoPages = "ERROR: No pages found!";
const std::string kReset = "\x1B\x40";

std::string modelLine(int model) {
  return "TALVERO DEBUG MSG: The Printer Model is : " + std::to_string(model);
}

// The three lines the page loop writes around the page reader, and the two
// "PAGE" lines of a counted page (the filter's own, then the one CUPS counts).
std::vector<std::string> pageLines(int before, int result, int after, int page = 0, int copies = 1) {
  std::vector<std::string> out{"TALVERO_DEBUG : cupsHeight = " + std::to_string(before),
                               "TALVERO_DEBUG_MSG : removeNullLine return = " + std::to_string(result),
                               "TALVERO_DEBUG : cupsHeight = " + std::to_string(after)};
  if (page > 0) {
    out.push_back("TALVERO DEBUG MESG: PAGE: " + std::to_string(page) + " " + std::to_string(copies));
    out.push_back("PAGE: " + std::to_string(page) + " 1");
  }
  return out;
}

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string lf(size_t count) {
  return repeat(0x0A, count);
}

// A page of `rows` rows of 576 dots with one dot in every row.
RasterPage inkedPage(uint32_t rows, uint32_t copies = 1) {
  RasterPage page = blankPage(576, rows);
  page.header.NumCopies = copies;
  for (uint32_t r = 0; r < rows; ++r) page.pixels[r * page.header.cupsBytesPerLine] = 0x80;
  return page;
}

class JobFlowTest : public testing::Test {
 protected:
  // Writes a PPD for `model` whose options each have the one given choice.
  std::string ppd(int model, const std::map<std::string, std::string>& values = {}) {
    std::string path = tempDir() + "/model.ppd";
    writePpd(path, model, fixedOptions(values));
    return path;
  }

  std::string raster(const std::vector<RasterPage>& pages) {
    std::string path = tempDir() + "/job.ras";
    writeRaster(path, pages);
    return path;
  }

  FilterResult rasterJob(const std::string& ppdPath, const std::vector<RasterPage>& pages,
                         const std::string& options = "") {
    return runFilter({{"1", "user", "title", "1", options}, ppdPath, raster(pages)});
  }
};

TEST_F(JobFlowTest, WrongArgumentCount) {
  for (std::vector<std::string> args : {std::vector<std::string>{"1", "user", "title", "1"},
                                        std::vector<std::string>{"1", "u", "t", "1", "", "f", "extra"}}) {
    FilterResult r = runFilter({args, ppd(1), ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(lines(r.err), (std::vector<std::string>{kBanner, kUsage}));
  }
}

TEST_F(JobFlowTest, InputFileThatCannotBeOpened) {
  auto start = std::chrono::steady_clock::now();
  FilterResult r = runFilter({{"1", "user", "title", "1", "", "/nonexistent/file.txt"}, ppd(1), ""});
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(lines(r.err),
            (std::vector<std::string>{kBanner, "TALVERO DEBUG MSG : argv[6] = /nonexistent/file.txt.",
                                      "TALVERO DEBUG MSG: Unable to open raster file - : No such file or directory",
                                      "ERROR: Unable to open \"/nonexistent/file.txt\": No such file or directory"}));
  EXPECT_GE(elapsed, std::chrono::milliseconds(950));
}

TEST_F(JobFlowTest, UnsupportedModelSendsNothing) {
  FilterResult r = rasterJob(ppd(12), {inkedPage(5)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  const std::string cause = "ERROR: This PPD is not for a supported printer (model 12).";
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{
                              kBanner, "TALVERO DEBUG MSG : This printer is not TALVERO's printer.", cause, kNoPages}));

  std::string text = tempDir() + "/text.txt";
  writeRaster(text, {});
  r = runFilter({{"1", "user", "title", "1", "", text}, ppd(12), ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(lines(r.err),
            (std::vector<std::string>{kBanner, "TALVERO DEBUG MSG : argv[6] = " + text + ".",
                                      "TALVERO DEBUG MSG : This printer is not TALVERO's printer.", cause, kNoPages}));
}

TEST_F(JobFlowTest, MissingPpdIsOneClearLine) {
  FilterResult r = rasterJob("", {inkedPage(5)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{
                              kBanner, "ERROR: No PPD file: the PPD environment variable is not set."}));

  r = rasterJob("/nonexistent/printer.ppd", {inkedPage(5)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(lines(r.err),
            (std::vector<std::string>{
                kBanner, "ERROR: Unable to open PPD file \"/nonexistent/printer.ppd\": No such file or directory"}));
}

TEST_F(JobFlowTest, TextJobPassesTheFileThrough) {
  std::string text = tempDir() + "/receipt.txt";
  FILE* f = std::fopen(text.c_str(), "w");
  std::fputs("Total 12.50\n", f);
  std::fclose(f);
  FilterResult r = runFilter(
      {{"1", "user", "title", "1", "", text}, ppd(1, {{"LogoPosition", "0"}, {"PageCut", "0"}}), ""});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + "Total 12.50\n");  // no end-of-job feed, no status line
  EXPECT_EQ(lines(r.err),
            (std::vector<std::string>{kBanner, "TALVERO DEBUG MSG : argv[6] = " + text + ".", modelLine(1)}));
}

TEST_F(JobFlowTest, ApiModeResetsAndReadsNothing) {
  std::string path = ppd(1, {{"PageCut", "0"}, {"CashDrawerOpen", "2"}, {"CashDrawer", "1"}});
  // Standard input is a pipe nobody writes to: reading it would hang the job.
  RunningFilter running =
      startFilter({{"1", "user", "TALVERO_API_MODE: open drawer", "1", ""}, path, ""}, true);
  EXPECT_TRUE(waitForError(running, kNoPages, 10));  // ends with the pipe still open
  FilterResult r = waitFilter(running);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset);
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{kBanner, modelLine(1), kNoPages}));

  // Fifteen characters of the marker are an ordinary raster job.
  r = runFilter({{"1", "user", "TALVERO_API_MOD", "1", ""}, path, ""});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset + lf(6) + toString(hex("1B 70 00 00 FF")));
}

TEST_F(JobFlowTest, RasterJobLinesAndStatus) {
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}}), {inkedPage(5, 2), inkedPage(3)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(2) + lf(6));
  EXPECT_EQ(lines(r.err), concat({{kBanner, modelLine(1)}, pageLines(5, 0, 5, 1, 2), pageLines(3, 0, 3, 2),
                                  {kReady}}));
}

TEST_F(JobFlowTest, JobWithoutPagesStillFeedsAndKicks) {
  std::string path = ppd(1, {{"PageCut", "0"}, {"CashDrawerOpen", "1"}, {"CashDrawer", "1"},
                             {"CashDrawer1PulseWidth", "100"}});
  FilterResult r = rasterJob(path, {});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset + lf(6) + toString(hex("1B 70 00 32 FF")));
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{kBanner, modelLine(1), kNoPages}));

  // A document that is not raster at all ends the same way, saying why.
  std::string pdf = tempDir() + "/document.pdf";
  std::ofstream(pdf, std::ios::binary) << "%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\n%%EOF\n";
  r = runFilter({{"1", "user", "title", "1", ""}, path, pdf});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset + lf(6) + toString(hex("1B 70 00 32 FF")));
  EXPECT_EQ(lines(r.err), (std::vector<std::string>{kBanner, modelLine(1),
                                                    "ERROR: The input is not a CUPS raster stream.", kNoPages}));
}

TEST_F(JobFlowTest, FeedsAndCutsByModel) {
  struct Case {
    int model;
    const char* pageCut;  // nullptr: the PPD lacks the option
    std::string perPage;
    std::string atEnd;
  };
  const std::string cutA = toString(hex("1D 56 41 01"));
  const std::string cutB = toString(hex("1D 56 42 01"));
  const Case cases[] = {
      {1, "0", lf(2), lf(6)},          {1, "2", cutA, ""},
      {1, "1", "", ""},                {1, nullptr, "", ""},
      {11, "0", lf(4), lf(6)},         {11, "2", lf(2) + cutA, ""},
      {61, "2", lf(1) + cutA, ""},     {42, "0", lf(3), lf(6)},
      {22, "2", cutB, ""},             {35, "2", cutB, ""},
      {22, "1", "", ""},               {33, "2", lf(2), lf(1)},  // PageCut never read: 0
      {83, "2", lf(4), ""},            {10, "0", lf(2), ""},
      {147, nullptr, lf(2), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model) + " PageCut " + (c.pageCut ? c.pageCut : "none"));
    std::map<std::string, std::string> options;
    if (c.pageCut) options["PageCut"] = c.pageCut;
    FilterResult r = rasterJob(ppd(c.model, options), {inkedPage(4), inkedPage(2)});
    EXPECT_EQ(r.status, 0);
    std::string expected = kReset + c.perPage + c.perPage + c.atEnd;
    EXPECT_EQ(r.out, expected) << describeMismatch(expected, r.out);
  }
}

TEST_F(JobFlowTest, DrawerKickTiming) {
  const std::string kick = toString(hex("1B 70 00 32 FF 1B 70 01 64 FF"));
  struct Case {
    const char* open;
    bool before, after;
  };
  const Case cases[] = {{"0", true, false}, {"1", false, true}, {"2", true, true},
                        {"3", false, false}, {nullptr, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.open ? c.open : "none");
    std::map<std::string, std::string> options{
        {"PageCut", "0"},          {"PageType", "0"},
        {"CashDrawer", "3"},       {"CashDrawer1PulseWidth", "100"},
        {"CashDrawer2PulseWidth", "200"}};
    if (c.open) options["CashDrawerOpen"] = c.open;
    // A blank page first: it is skipped, and the kick waits for the printed page.
    FilterResult r = rasterJob(ppd(1, options), {blankPage(576, 8), inkedPage(4), inkedPage(2)});
    EXPECT_EQ(r.status, 0);
    std::string expected = kReset + (c.before ? kick : "") + lf(2) + lf(2) + lf(6) + (c.after ? kick : "");
    EXPECT_EQ(r.out, expected) << describeMismatch(expected, r.out);
    EXPECT_NE(r.err.find("TALVERO DEBUG MESG: PAGE: 1 1\nPAGE: 1 1\nTALVERO_DEBUG : cupsHeight = 2\n"), std::string::npos);
  }
}

TEST_F(JobFlowTest, BlankPagesAreSkipped) {
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}, {"PageType", "0"}}), {blankPage(576, 8), inkedPage(3)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(6));
  EXPECT_EQ(lines(r.err), concat({{kBanner, modelLine(1)},
                                  {"TALVERO_DEBUG : cupsHeight = 8", "TALVERO DEBUG MSG : removeNullLine() NULLPAGE",
                                   "TALVERO_DEBUG_MSG : removeNullLine return = -1", "TALVERO_DEBUG : cupsHeight = 8"},
                                  pageLines(3, 0, 3, 1),
                                  {kReady}}));

  r = rasterJob(ppd(1, {{"PageCut", "0"}, {"PageType", "0"}}), {blankPage(576, 8)});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset + lf(6));
  EXPECT_EQ(lines(r.err).back(), kNoPages);
}

TEST_F(JobFlowTest, ZeroHeightPageEndsTheJob) {
  RasterPage empty = blankPage(576, 0);
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}}), {inkedPage(3), empty, inkedPage(3)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(6));
  EXPECT_EQ(lines(r.err), concat({{kBanner, modelLine(1)}, pageLines(3, 0, 3, 1), {kReady}}));
}

TEST_F(JobFlowTest, StreamCutOffInsideAPageEndsTheJob) {
  RasterPage cut = inkedPage(10);
  cut.pixels.resize(5 * 72);
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}, {"PageType", "1"}}), {inkedPage(3), cut});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(6));
  EXPECT_EQ(lines(r.err), concat({{kBanner, modelLine(1)}, pageLines(3, 0, 3, 1),
                                  {"TALVERO_DEBUG : cupsHeight = 10", "TALVERO DEBUG MSG : removeNullLine() NULLIMAGE2",
                                   "TALVERO_DEBUG_MSG : removeNullLine return = -2", "TALVERO_DEBUG : cupsHeight = 10",
                                   "ERROR: The raster data of page 2 ends early."},
                                  {kReady}}));

  // The first page unreadable: no page counted.
  r = rasterJob(ppd(1, {{"PageCut", "0"}, {"PageType", "1"}}), {cut});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines(r.err).back(), kNoPages);
}

TEST_F(JobFlowTest, TwoColourOnlyModelWithOtherColorModelPrintsNoImage) {
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}, {"ColorModel", "2"}, {"LogoPosition", "0"}}), {inkedPage(3)});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(6));
}

TEST_F(JobFlowTest, LaterPagesLargerThanTheFirstAreReadWhole) {
  RasterPage small = inkedPage(2);
  RasterPage large = blankPage(1600, 300);
  large.pixels[0] = 0x80;
  large.pixels.back() = 0x01;
  RasterPage after = inkedPage(4);
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}, {"PageType", "0"}}), {small, large, after});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(2) + lf(2) + lf(6));
  EXPECT_EQ(lines(r.err), concat({{kBanner, modelLine(1)}, pageLines(2, 0, 2, 1), pageLines(300, 0, 300, 2),
                                  pageLines(4, 0, 4, 3), {kReady}}));
}

TEST_F(JobFlowTest, PageTooLargeEndsTheJob) {
  // 300000 rows of 8000 bytes is 2.4 GB of pixel data, far over the 256 MiB
  // a page may hold; the stream holds only the header. The job ends there
  // with its final feed, and the refusal makes the exit status 1.
  RasterPage huge{makeHeader(64000, 300000), {}};
  FilterResult r = rasterJob(ppd(1, {{"PageCut", "0"}}), {inkedPage(3), huge});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset + lf(2) + lf(6));
  EXPECT_EQ(lines(r.err),
            concat({{kBanner, modelLine(1)}, pageLines(3, 0, 3, 1),
                    {"TALVERO_DEBUG : cupsHeight = 300000", "ERROR: Page too large: 300000 rows of 8000 bytes.",
                     kReady}}));
}

TEST_F(JobFlowTest, AllocationFailureEndsTheJobAtOnce) {
  // 30000 rows of 8000 bytes (240 MB, compressed to almost nothing in the
  // stream): the page buffer grows as the rows arrive until it no longer
  // fits 128 MiB of address space. No final feed, no drawer kick after
  // printing.
  RasterPage big = blankPage(64000, 30000);
  for (size_t r = 0; r < 30000; ++r) big.pixels[r * 8000] = 0x80;
  std::string path = ppd(1, {{"PageCut", "0"}, {"CashDrawerOpen", "2"}, {"CashDrawer", "1"}});
  std::string input = tempDir() + "/big.ras";
  writeRaster(input, {inkedPage(3), big}, true);
  FilterCall call{{"1", "user", "title", "1", ""}, path, input};
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer reserves far more address space than any limit allows;
  // its allocator refuses large blocks itself.
  call.env["ASAN_OPTIONS"] = "allocator_may_return_null=1:max_allocation_size_mb=128";
#else
  if (!addressSpaceLimitsHold()) GTEST_SKIP() << "address-space limits are not enforced here (qemu-user)";
  call.addressSpaceLimit = 128u << 20;
#endif
  FilterResult r = runFilter(call);
  std::vector<std::string> err = lines(r.err);
  std::erase_if(err, [](const std::string& line) { return line.rfind("==", 0) == 0; });  // sanitizer notes
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset + toString(hex("1B 70 00 00 FF")) + lf(2));
  EXPECT_EQ(err, concat({{kBanner, modelLine(1)}, pageLines(3, 0, 3, 1),
                         {"TALVERO_DEBUG : cupsHeight = 30000", "TALVERO DEBUG MSG: Memory Allocation Error",
                          "ERROR: Out of memory.", kReady}}));
}

TEST_F(JobFlowTest, PipelineAllocationFailureReportsOnce) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "needs an address-space limit, which the sanitizer cannot run under";
#else
  if (!addressSpaceLimitsHold()) GTEST_SKIP() << "address-space limits are not enforced here (qemu-user)";
  // A two-colour page of 600000 rows of 288 bytes (173 MB, one dot): the
  // page fits 240 MiB of address space, the two-colour planes beside it do
  // not. The page is counted, nothing is printed for it, and the job ends
  // at once.
  RasterPage tall = blankPage(576, 600000, true);
  tall.pixels[5] = 0x80;
  std::string input = tempDir() + "/tall.ras";
  writeRaster(input, {tall}, true);
  FilterCall call{{"1", "user", "title", "1", ""},
                  ppd(1, {{"PageCut", "0"}, {"PageType", "1"}, {"ColorModel", "0"}, {"LogoPosition", "0"}}),
                  input};
  call.addressSpaceLimit = 240u << 20;
  FilterResult r = runFilter(call);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kReset);
  EXPECT_EQ(lines(r.err), concat({{kBanner, modelLine(1)}, pageLines(600000, 0, 600000, 1),
                                  {"TALVERO DEBUG MSG: Memory Allocation Error", "ERROR: Out of memory.", kReady}}));
#endif
}

}  // namespace
