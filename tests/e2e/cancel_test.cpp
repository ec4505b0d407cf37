// Cancelling a job with SIGTERM: standard output must carry every byte the
// job produced before the signal, then 720 bytes 00 and ESC @, and the
// filter must exit with status 0, wherever the signal lands.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "support.h"

using namespace talvero_test;

namespace {

const std::string kReset = "\x1B\x40";
const std::string kCancelTail = repeat(0x00, 720) + kReset;

void writeAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Checks that `out` is a prefix of `full` followed by the cancel tail, and
// returns the length of that prefix.
size_t checkCancelled(const std::string& out, const std::string& full) {
  EXPECT_GE(out.size(), kCancelTail.size());
  if (out.size() < kCancelTail.size()) return 0;
  size_t prefix = out.size() - kCancelTail.size();
  EXPECT_TRUE(out.compare(prefix, std::string::npos, kCancelTail) == 0)
      << "no cancel tail: " << hexDump(out, out.size() - 1);
  EXPECT_LE(prefix, full.size());
  EXPECT_TRUE(out.compare(0, prefix, full, 0, prefix) == 0)
      << "output before the cancel differs from the job's: "
      << describeMismatch(full.substr(0, prefix), out.substr(0, prefix));
  return prefix;
}

class CancelTest : public testing::Test {
 protected:
  std::string ppd(int model, const std::map<std::string, std::string>& values) {
    std::string path = tempDir() + "/model.ppd";
    writePpd(path, model, fixedOptions(values));
    return path;
  }
};

TEST_F(CancelTest, WhileWaitingForTheFirstPage) {
  std::string path = ppd(1, {{"PageCut", "0"}});
  RunningFilter running = startFilter({{"1", "user", "title", "1", ""}, path, ""}, true);
  ASSERT_TRUE(waitForSignalHandler(running, SIGTERM));
  ASSERT_TRUE(waitForStdinRead(running));
  kill(running.pid, SIGTERM);
  FilterResult r = waitFilter(running);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kReset + kCancelTail) << hexDump(r.out);
}

TEST_F(CancelTest, WhileWaitingForTheSecondPage) {
  std::string path = ppd(1, {{"PageCut", "0"}, {"PageType", "0"}, {"CashDrawerOpen", "0"}, {"CashDrawer", "1"},
                             {"CashDrawer1PulseWidth", "100"}});
  RasterPage page = blankPage(576, 4);
  page.pixels[0] = 0x80;
  std::string rasterPath = tempDir() + "/page.ras";
  writeRaster(rasterPath, {page, page});
  std::string stream = readFileBytes(rasterPath);

  RunningFilter running = startFilter({{"1", "user", "title", "1", ""}, path, ""}, true);
  // The first page whole and the start of the second page's header.
  size_t firstPage = 4 + 1796 + page.pixels.size();
  writeAll(running.stdinFd, stream.substr(0, firstPage + 100));
  ASSERT_TRUE(waitForError(running, "PAGE: 1 1"));
  ASSERT_TRUE(waitForStdinRead(running));  // in the second page's header
  kill(running.pid, SIGTERM);
  FilterResult r = waitFilter(running);
  EXPECT_EQ(r.status, 0);
  std::string expected = kReset + toString(hex("1B 70 00 32 FF 0A 0A")) + kCancelTail;
  EXPECT_EQ(r.out, expected) << describeMismatch(expected, r.out);
  EXPECT_EQ(r.err.find("INFO: Ready to print."), std::string::npos);
}

TEST_F(CancelTest, InTheMiddleOfALargeOutput) {
  // A text job of 8 MB into a pipe the test reads slowly: the filter is
  // blocked in write(2) when the signal comes.
  std::string text(8 << 20, 'x');
  std::mt19937 random(11);
  for (char& c : text) c = static_cast<char>('A' + random() % 26);
  std::string textPath = tempDir() + "/big.txt";
  std::ofstream(textPath, std::ios::binary) << text;
  std::string full = kReset + text;
  std::string path = ppd(1, {{"LogoPosition", "0"}});

  RunningFilter running = startFilter({{"1", "user", "title", "1", "", textPath}, path, ""}, false, true);
  ASSERT_TRUE(waitForSignalHandler(running, SIGTERM));
  while (running.received.size() < 300000) {
    ASSERT_GT(readOutput(running, 4096), 0u);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the pipe fill up
  kill(running.pid, SIGTERM);
  FilterResult r = waitFilter(running);
  EXPECT_EQ(r.status, 0);
  size_t prefix = checkCancelled(r.out, full);
  EXPECT_GE(prefix, 300000u);
  EXPECT_LT(prefix, full.size());
}

TEST_F(CancelTest, AtRandomMomentsOfAJob) {
  // The signal lands wherever the job happens to be: reading the file,
  // copying into the output buffer, or inside write(2). Every run must end
  // with the job's bytes so far and one cancel tail; a second signal right
  // after the first must change nothing.
  std::string text(2 << 20, 'x');
  std::mt19937 random(5);
  for (char& c : text) c = static_cast<char>(random() % 256 == 0 ? '\n' : 'a' + random() % 26);
  std::string textPath = tempDir() + "/text.txt";
  std::ofstream(textPath, std::ios::binary) << text;
  std::string full = kReset + text;
  std::string path = ppd(1, {{"LogoPosition", "0"}});

  int cancelled = 0;
  for (int run = 0; run < 25; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    RunningFilter running = startFilter({{"1", "user", "title", "1", "", textPath}, path, ""}, false, true);
    std::thread reader([&running] {
      while (readOutput(running, 1 + running.received.size() % 50000) > 0) {
      }
    });
    ASSERT_TRUE(waitForSignalHandler(running, SIGTERM));
    if (runsUnderEmulator(running)) {
      ASSERT_TRUE(waitForFirstOutput(running));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    kill(running.pid, SIGTERM);
    if (run % 2 == 1) kill(running.pid, SIGTERM);
    reader.join();
    FilterResult r = waitFilter(running);
    EXPECT_EQ(r.status, 0);
    if (r.out == full) continue;  // the job was done before the signal came
    ++cancelled;
    checkCancelled(r.out, full);
  }
  EXPECT_GT(cancelled, 0);
}

}  // namespace
