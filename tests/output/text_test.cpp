// Text jobs: the file passed through in 1024-byte chunks cut at their first
// 00 byte, the logo blocks of the text column around it; in process and
// through the filter binary.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <gtest/gtest.h>

#include <fstream>

#include "frames.h"
#include "output/text.h"
#include "support.h"

namespace talvero_test {
namespace {

std::string writeFile(const std::string& content) {
  std::string path = tempDir() + "/text";
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

class Text : public testing::Test {
 protected:
  // Runs printText for `model` on a file holding `content`; `offset` is set
  // to the file position afterwards.
  Captured text(int32_t model, JobSettings settings, const std::string& content, off_t* offset = nullptr) {
    settings.ModelNumber = model;
    int fd = open(writeFile(content).c_str(), O_RDONLY);
    EXPECT_GE(fd, 0);
    Captured got = capture(settings, [&](JobContext& job) { printText(job, fd); });
    if (offset != nullptr) *offset = lseek(fd, 0, SEEK_CUR);
    close(fd);
    return got;
  }
};

TEST_F(Text, LogoBlocksAroundTheText) {
  struct Case {
    int32_t model;
    JobSettings settings;
    std::string content;
    std::string expected;
  } cases[] = {
      {31, logoSettings(1, 1, 0, 0, 2), "abc", "1B 61 01 1C 70 01 00 1B 40 0A 0A 61 62 63"},
      {10, logoSettings(2, 2, 1, 3, 1), "hi", "68 69 1B 61 02 1D 28 4C 06 00 30 45 30 32 02 02 1B 40 0A"},
      {33, logoSettings(1, 0, 2, 0, 0), "", "1B 61 00 1D 28 4C 06 00 30 45 30 32 01 01 1B 40"},
      {40, logoSettings(1, 0, 2, 0, 0), "", "1B 61 00 1D 28 4C 06 00 30 45 30 33 01 01 1B 40"},
      // Model 82 uses FS p for text although its raster logos use GS ( L.
      {82, logoSettings(1, 0, 1, 2, 0), "x", "1B 61 00 1C 70 02 02 1B 40 78"},
      {31, logoSettings(3, 0, 0, 0, 0), "", "1B 61 00 1C 70 01 00 1B 40 1B 61 00 1C 70 01 00 1B 40"},
      {31, logoSettings(3, 0, 0, 0, -1), "A", "1B 61 00 1C 70 01 00 1B 40 41 1B 61 00 1C 70 01 00 1B 40"},
      {31, logoSettings(1, 0, -1, -1, 0), "", "1B 61 00 1C 70 00 FF 1B 40"},
      {31, logoSettings(1, 0, 255, 0, 0), "", "1B 61 00 1C 70 00 00 1B 40"},
      {31, logoSettings(0, 0, 0, 0, 3), "%\x1B@\n", "25 1B 40 0A"},
  };
  for (const Case& c : cases) {
    std::string expected = toString(hex(c.expected));
    Captured got = text(c.model, c.settings, c.content);
    EXPECT_EQ(got.out, expected) << "model " << c.model << " LogoPosition " << c.settings.LogoPosition
                                 << "\n" << describeMismatch(expected, got.out);
    EXPECT_EQ(got.err, "");
  }
}

TEST_F(Text, UnknownLogoPositionSendsAndReadsNothing) {
  for (int32_t position : {-1, 4}) {
    off_t offset = -1;
    Captured got = text(31, logoSettings(position, 0, 0, 0, 1), "abc", &offset);
    EXPECT_EQ(got.out, "") << "LogoPosition " << position;
    EXPECT_EQ(offset, 0) << "LogoPosition " << position;
  }
}

TEST_F(Text, NulByteEndsItsChunk) {
  JobSettings plain = logoSettings(0, 0, 0, 0, 0);
  EXPECT_EQ(text(31, plain, std::string("A\0B", 3)).out, "A");

  // 3000 bytes with a 00 at offset 10: the rest of the first chunk is lost,
  // the following chunks go out whole.
  std::string longer = patternPlane(3000, true);
  longer[10] = '\0';
  off_t offset = -1;
  std::string expected = longer.substr(0, 10) + longer.substr(1024);
  Captured got = text(31, plain, longer, &offset);
  EXPECT_EQ(got.out, expected) << describeMismatch(expected, got.out);
  EXPECT_EQ(offset, 3000);

  // Exactly one chunk without a 00: all of it and nothing more.
  std::string exact = patternPlane(1024, true);
  EXPECT_EQ(text(31, plain, exact).out, exact);
}

TEST_F(Text, ReadErrorEndsTheJobBeforeTheLogoAfterTheText) {
  int fd = open(writeFile("abc").c_str(), O_WRONLY);  // reading it fails
  ASSERT_GE(fd, 0);
  int result = 0;
  JobSettings settings = logoSettings(3, 0, 0, 0, 0);
  settings.ModelNumber = 31;
  Captured got = capture(settings, [&](JobContext& job) { result = printText(job, fd); });
  close(fd);
  EXPECT_EQ(result, EBADF);
  EXPECT_EQ(got.out, toString(hex("1B 61 00 1C 70 01 00 1B 40")));
}

// ---- through the filter binary ----

FilterResult runTextJob(int model, const std::map<std::string, std::string>& options,
                        const std::string& content) {
  std::string dir = tempDir();
  writePpd(dir + "/printer.ppd", model, fixedOptions(options));
  return runFilter({{"1", "user", "title", "1", "", writeFile(content)}, dir + "/printer.ppd", "", {}});
}

TEST(TextJob, WholeOutputOfTheFilter) {
  struct Case {
    int model;
    std::map<std::string, std::string> options;
    std::string content;
    std::string expected;  // after the reset of job start
  } cases[] = {
      {31,
       {{"LogoPosition", "1"}, {"LogoJustification", "1"}, {"LogoImage", "0"}, {"LogoWidth", "0"},
        {"LineFeed", "2"}},
       "abc",
       "1B 61 01 1C 70 01 00 1B 40 0A 0A 61 62 63"},
      {10,
       {{"LogoPosition", "2"}, {"LogoJustification", "2"}, {"LogoImage", "1"}, {"LogoWidth", "3"},
        {"LineFeed", "1"}},
       "hi",
       "68 69 1B 61 02 1D 28 4C 06 00 30 45 30 32 02 02 1B 40 0A"},
      {31, {{"LogoPosition", "4"}}, "abc", ""},
      {10, {}, "abc", ""},  // no LogoPosition option at all: -1
  };
  for (const Case& c : cases) {
    FilterResult result = runTextJob(c.model, c.options, c.content);
    std::string expected = toString(hex("1B 40 " + c.expected));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, expected) << "model " << c.model << "\n" << describeMismatch(expected, result.out);
  }
}

}  // namespace
}  // namespace talvero_test
