// The Printer Application's job bridge prints what the CUPS chain prints:
// each job's pages, sent as 8-bit sRGB rows through the bridge, give the very
// bytes the prefilter and filter binaries give for the same pages and
// options, and their diagnostics go to the job's own log. Then two jobs of
// different models run at once on two threads, many times over: each must
// still get exactly its own bytes and log lines, which fails as soon as any
// job state (model, page values, output buffer, log) is shared.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <thread>
#include <tuple>

#include "app/job_bridge.h"
#include "support.h"

namespace {

using namespace talvero_test;

constexpr uint32_t kWidth = 576;

// An RGB page: blank margins above and below, black bars, red bars, and a
// grey ramp the dither breaks into dots; `seed` moves things about.
Page2 makePage(uint32_t height, uint32_t seed) {
  return rgbPage(kWidth, height, [height, seed](uint32_t x, uint32_t y) {
    using Rgb = std::tuple<uint8_t, uint8_t, uint8_t>;
    if (y < 20 || y + 30 >= height) return Rgb{255, 255, 255};
    uint32_t band = (x + seed * 37 + y / 8) % 96;
    if (band < 20 && y % 40 < 24) return Rgb{0, 0, 0};
    if (band >= 40 && band < 60 && (y + seed) % 50 < 30) return Rgb{220, 20, 30};
    if (x > 400 && y % 64 < 32) {
      auto grey = static_cast<uint8_t>(x - 400);
      return Rgb{grey, grey, grey};
    }
    return Rgb{255, 255, 255};
  });
}

// A job: a model, the PPD choices it is printed with, and its pages.
struct JobCase {
  int model;
  std::map<std::string, std::string> options;  // PPD keyword -> ChoiceNumber
  std::vector<Page2> pages;
};

// The settings the bridge gets, filled as the filter fills them from a PPD.
JobSettings settingsOf(const JobCase& job) {
  JobSettings settings{};
  fillJobSettings(job.model, [&job](const char* keyword) {
    auto it = job.options.find(keyword);
    return it == job.options.end() ? -1 : std::atoi(it->second.c_str());
  }, settings);
  return settings;
}

// The printer bytes and the log of a job through the bridge.
struct BridgeRun {
  std::string out;
  std::string log;
};

// Runs the job through the bridge, on the calling thread.
BridgeRun printThroughBridge(const JobCase& job) {
  BridgeRun run;
  auto colour = job.options.find("ColorModel");
  bool colourPlanes = colour != job.options.end() && colour->second == "0";
  BridgeJobPtr bridge =
      bridgeStartJob(settingsOf(job), colourPlanes, appendToString, &run.out, logInto(run.log));
  for (const Page2& page : job.pages) {
    std::string why;
    if (!bridgeStartPage(*bridge, page.header, why)) {
      ADD_FAILURE() << why;
      continue;
    }
    for (uint32_t y = 0; y < page.header.cupsHeight; ++y) {
      bridgeWriteLine(*bridge, y, &page.pixels[size_t{y} * page.header.cupsBytesPerLine]);
    }
    EXPECT_TRUE(bridgeEndPage(*bridge, why)) << why;
  }
  BridgeResult result = bridgeEndJob(std::move(bridge));
  EXPECT_FALSE(result.failed);
  return run;
}

// The printer bytes of the job through the prefilter and filter binaries.
std::string printThroughFilter(const JobCase& job, const std::string& dir) {
  std::string ppd = dir + "/model.ppd";
  writePpd(ppd, job.model, fixedOptions(job.options));
  std::string rgb = writeStream(job.pages);
  setenv("TALVERO_FILTER", TALVERO_PREFILTER, 1);
  FilterResult planes = runFilter({{"1", "user", "title", "1", ""}, ppd, rgb});
  unsetenv("TALVERO_FILTER");
  EXPECT_EQ(planes.status, 0) << planes.err;
  std::ofstream(dir + "/planes.ras", std::ios::binary) << planes.out;
  FilterResult printed = runFilter({{"1", "user", "title", "1", ""}, ppd, dir + "/planes.ras"});
  EXPECT_EQ(printed.status, 0) << printed.err;
  return printed.out;
}

std::vector<JobCase> jobCases() {
  // Model 31: black and red, compressed raster, logo before, both drawers
  // before printing, cut. A blank page in the middle is skipped.
  JobCase colour{31,
                 {{"ColorModel", "0"}, {"PageSize", "80"}, {"PageType", "0"}, {"Rotation", "0"},
                  {"FocusArea", "0"}, {"CompPrinting", "1"}, {"LogoPosition", "1"},
                  {"LogoJustification", "1"}, {"LogoImage", "2"}, {"LogoWidth", "3"},
                  {"LineFeed", "2"}, {"PageCut", "2"}, {"CashDrawer", "3"}, {"CashDrawerOpen", "0"},
                  {"CashDrawer1PulseWidth", "100"}, {"CashDrawer2PulseWidth", "250"}},
                 {}};
  Page2 blank = makePage(300, 0);
  std::fill(blank.pixels.begin(), blank.pixels.end(), uint8_t{255});
  colour.pages = {makePage(900, 1), blank, makePage(700, 2)};
  // Model 13: black only through GS v 0, pages halved and turned by 90
  // degrees, logo after, feed without cut, drawer 2 after printing.
  JobCase mono{13,
               {{"ColorModel", "1"}, {"PageSize", "100"}, {"PageType", "0"}, {"Rotation", "1"},
                {"FocusArea", "1"}, {"LogoPosition", "2"}, {"LogoJustification", "0"},
                {"LogoImage", "0"}, {"LogoWidth", "0"}, {"LineFeed", "0"}, {"PageCut", "0"},
                {"CashDrawer", "2"}, {"CashDrawerOpen", "1"}, {"CashDrawer1PulseWidth", "50"},
                {"CashDrawer2PulseWidth", "500"}},
               {makePage(1200, 3), makePage(800, 4)}};
  return {colour, mono};
}

TEST(BridgeTest, JobsPrintTheFilterBytesAloneAndTwoAtOnce) {
  std::vector<JobCase> jobs = jobCases();
  std::vector<std::string> expected;
  std::vector<std::string> logs;
  for (const JobCase& job : jobs) {
    std::string dir = tempDir();
    expected.push_back(printThroughFilter(job, dir));
    ASSERT_GT(expected.back().size(), 1000u);
    BridgeRun alone = printThroughBridge(job);
    EXPECT_EQ(alone.out, expected.back()) << "model " << job.model << ": "
                                          << describeMismatch(expected.back(), alone.out);
    EXPECT_NE(alone.log.find("PAGE: 2 1\n"), std::string::npos) << alone.log;
    logs.push_back(alone.log);
  }
  ASSERT_NE(expected[0], expected[1]);

  for (int round = 0; round < 8; ++round) {
    BridgeRun runs[2];
    std::thread first([&] { runs[0] = printThroughBridge(jobs[0]); });
    std::thread second([&] { runs[1] = printThroughBridge(jobs[1]); });
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(runs[i].out, expected[i]) << "round " << round << ", model " << jobs[i].model << ": "
                                          << describeMismatch(expected[i], runs[i].out);
      ASSERT_EQ(runs[i].log, logs[i]) << "round " << round << ", model " << jobs[i].model;
    }
  }
}

}  // namespace
