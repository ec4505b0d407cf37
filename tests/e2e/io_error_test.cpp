// Input and output that fail under the filter: printer output that cannot be
// written (a full device, a descriptor not open for writing, no descriptor
// at all, a reader that has gone away) and a text file that cannot be read.
// Each must end the job with one ERROR line naming the system's error and
// exit status 1, never with a success or a silent death by signal.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "support.h"

using namespace talvero_test;

namespace {

// How many times `text` occurs in `haystack`.
size_t occurrences(const std::string& haystack, const std::string& text) {
  size_t count = 0;
  for (size_t at = haystack.find(text); at != std::string::npos; at = haystack.find(text, at + 1)) ++count;
  return count;
}

std::string modelPpd(int model, const std::map<std::string, std::string>& values) {
  std::string path = tempDir() + "/model.ppd";
  writePpd(path, model, fixedOptions(values));
  return path;
}

TEST(IoErrorTest, FailedPrinterOutputIsReportedOnce) {
  std::string ppd = modelPpd(1, {{"PageCut", "0"}, {"LogoPosition", "0"}});
  RasterPage page = blankPage(576, 8);
  page.pixels[0] = 0x80;
  std::string raster = tempDir() + "/job.ras";
  writeRaster(raster, {page, page});
  // Far more text than the output buffer holds, so writes fail again and again.
  std::string text = tempDir() + "/big.txt";
  std::ofstream(text, std::ios::binary) << std::string(1 << 20, 'x');

  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  int readOnly = open(text.c_str(), O_RDONLY | O_CLOEXEC);
  int noReader[2];
  ASSERT_EQ(pipe2(noReader, O_CLOEXEC), 0);
  close(noReader[0]);
  ASSERT_GE(full, 0);
  ASSERT_GE(readOnly, 0);

  struct Case {
    const char* name;
    int stdoutFd;
    bool textJob;
    int error;
  };
  for (const Case& c : {Case{"full device, raster job", full, false, ENOSPC},
                        Case{"full device, text job", full, true, ENOSPC},
                        Case{"read-only descriptor, text job", readOnly, true, EBADF},
                        Case{"closed standard output, raster job", kClosedStdout, false, EBADF},
                        Case{"reader gone, raster job", noReader[1], false, EPIPE},
                        Case{"reader gone, text job", noReader[1], true, EPIPE}}) {
    SCOPED_TRACE(c.name);
    FilterCall call{{"1", "user", "title", "1", ""}, ppd, c.textJob ? "" : raster};
    if (c.textJob) call.args.push_back(text);
    call.stdoutFd = c.stdoutFd;
    FilterResult r = runFilter(call);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    std::string message = std::string("ERROR: Unable to send print data: ") + std::strerror(c.error);
    EXPECT_EQ(occurrences(r.err, "ERROR: Unable to send print data"), 1u) << r.err;
    std::vector<std::string> errLines = lines(r.err);
    ASSERT_FALSE(errLines.empty());
    EXPECT_EQ(errLines.back(), message);
    // A raster job keeps its status line; the failure comes after it.
    if (!c.textJob) {
      EXPECT_EQ(errLines.end()[-2], "INFO: Ready to print.");
    }
  }
  close(full);
  close(readOnly);
  close(noReader[1]);
}

TEST(IoErrorTest, UnreadableTextFileEndsTheJobAfterTheFirstLogo) {
  // Logo before and after the text: the first one is sent, the text cannot
  // be read, and the job ends there.
  std::string ppd = modelPpd(31, {{"LogoPosition", "3"}, {"LogoJustification", "1"}, {"LogoImage", "0"},
                                  {"LogoWidth", "0"}, {"LineFeed", "2"}});
  const std::string logoBlock = toString(hex("1B 61 01 1C 70 01 00 1B 40 0A 0A"));
  std::string dir = tempDir();
  // Reading the filter's own memory at offset 0, where nothing is mapped,
  // fails with EIO.
  for (const auto& [file, error] : {std::pair<std::string, int>{dir, EISDIR}, {"/proc/self/mem", EIO}}) {
    SCOPED_TRACE(file);
    FilterResult r = runFilter({{"1", "user", "title", "1", "", file}, ppd, ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "\x1B\x40" + logoBlock) << hexDump(r.out);
    std::vector<std::string> errLines = lines(r.err);
    ASSERT_FALSE(errLines.empty());
    EXPECT_EQ(errLines.back(), "ERROR: Unable to read \"" + file + "\": " + std::strerror(error));
  }
}

}  // namespace
