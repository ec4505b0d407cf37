// Drawer kicks, the job-start reset, and the buffered printer output path
// across its buffer boundary.
#include <csignal>
#include <random>

#include <gtest/gtest.h>

#include <memory>

#include "filter/cancel.h"
#include "job/device.h"
#include "support.h"

using namespace talvero_test;

namespace {

// Runs `body` on an output sink and returns what it wrote.
template <typename Body>
std::string captured(Body body) {
  std::string bytes;
  auto out = std::make_unique<OutputSink>(appendToString, &bytes);
  body(*out);
  out->flush();
  return bytes;
}

std::string kick(int32_t drawer, int32_t pulse1, int32_t pulse2) {
  JobSettings settings{};
  settings.ModelNumber = 31;
  settings.CashDrawer = drawer;
  settings.CashDrawer1PulseWidth = pulse1;
  settings.CashDrawer2PulseWidth = pulse2;
  return captured([&](OutputSink& out) {
    JobContext job(settings, out, Diagnostics());
    openCashDrawer(job);
  });
}

TEST(DeviceTest, DrawerKickBytes) {
  struct Case {
    int32_t drawer, pulse1, pulse2;
    const char* bytes;
  };
  const Case cases[] = {
      {3, 100, 200, "1B 70 00 32 FF 1B 70 01 64 FF"},
      {1, -1, 0, "1B 70 00 00 FF"},      // option missing from the PPD
      {1, 101, 0, "1B 70 00 32 FF"},     // an odd width loses its last millisecond
      {1, 600, 0, "1B 70 00 2C FF"},     // 300 goes out as its low byte
      {2, 100, 250, "1B 70 01 7D FF"},   // only the second width
      {1, -5, 0, "1B 70 00 FE FF"},      // -2 after truncation toward zero
      {0, 100, 200, ""},
      {4, 100, 200, ""},
      {-1, 100, 200, ""},
  };
  for (const Case& c : cases) {
    std::string expected = toString(hex(c.bytes));
    std::string actual = kick(c.drawer, c.pulse1, c.pulse2);
    EXPECT_EQ(actual, expected) << "CashDrawer " << c.drawer << ": " << describeMismatch(expected, actual);
  }
}

TEST(DeviceTest, JobSetupResetsAndInstallsTheCancelHandler) {
  struct sigaction before {};
  sigaction(SIGTERM, nullptr, &before);
  std::string bytes;
  OutputSink out(appendToString, &bytes);
  jobSetup(out);
  out.flush();
  EXPECT_EQ(bytes, toString(hex("1B 40")));
  struct sigaction installed {};
  sigaction(SIGTERM, nullptr, &installed);
  EXPECT_EQ(installed.sa_handler, &cancelJob);
  EXPECT_EQ(captured([](OutputSink& sink) { shutDown(sink); }), toString(hex("1B 40")));
  finishOutput(out);
  struct sigaction ignored {};
  sigaction(SIGTERM, nullptr, &ignored);
  EXPECT_EQ(ignored.sa_handler, SIG_IGN);
  sigaction(SIGTERM, &before, nullptr);
}

TEST(DeviceTest, OutputKeepsEveryByteAcrossBufferBoundaries) {
  // Writes far more than the output buffer holds, in pieces of every kind
  // and size, and checks nothing is lost, doubled or reordered.
  std::mt19937 random(7);
  std::string expected;
  std::string actual = captured([&](OutputSink& out) {
    for (int piece = 0; piece < 3000; ++piece) {
      size_t length = random() % 700;
      switch (random() % 4) {
        case 0: {
          uint8_t byte = static_cast<uint8_t>(random());
          out.put(byte);
          expected += static_cast<char>(byte);
          break;
        }
        case 1: {
          std::string data(length, '\0');
          for (char& c : data) c = static_cast<char>(random());
          out.put(reinterpret_cast<const uint8_t*>(data.data()), data.size());
          expected += data;
          break;
        }
        case 2: {
          uint8_t byte = static_cast<uint8_t>(random());
          out.putRepeated(byte, length * 50);
          expected += repeat(byte, length * 50);
          break;
        }
        default: {
          uint32_t value = static_cast<uint32_t>(random());
          out.putLe16(value);
          expected += static_cast<char>(value & 0xFF);
          expected += static_cast<char>((value >> 8) & 0xFF);
          break;
        }
      }
    }
  });
  ASSERT_GT(expected.size(), 1000000u);
  EXPECT_TRUE(actual == expected) << describeMismatch(expected, actual);
}

}  // namespace
