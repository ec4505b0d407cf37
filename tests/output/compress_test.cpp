// The run-length code: known answers, then random inputs decoded back.
#include <gtest/gtest.h>

#include <random>

#include "frames.h"
#include "output/compress.h"
#include "support.h"

namespace talvero_test {
namespace {

std::string compress(const std::string& input) {
  return capture([&](OutputSink& out) {
           CompressData(out, reinterpret_cast<const uint8_t*>(input.data()), static_cast<uint32_t>(input.size()));
         }).out;
}

TEST(CompressData, KnownAnswers) {
  struct Case {
    std::string input;
    std::string code;
  } cases[] = {
      {toString(hex("00 00 00 41 FF FF 42 00")), toString(hex("00 03 41 FF 02 42 00 01"))},
      {toString(hex("80 01 7F")), toString(hex("80 01 7F"))},
      {repeat(0x00, 255), toString(hex("00 FF"))},
      {repeat(0x00, 256), toString(hex("00 FF 00 01"))},
      {repeat(0x00, 300), toString(hex("00 FF 00 2D"))},
      {repeat(0xFF, 510), toString(hex("FF FF FF FF"))},
      {repeat(0xFF, 256), toString(hex("FF FF FF 01"))},
      {"", ""},
      {toString(hex("00")), toString(hex("00 01"))},
      {toString(hex("FF")), toString(hex("FF 01"))},
      {toString(hex("41 00 00")), toString(hex("41 00 02"))},
      {toString(hex("00 FF 00 FF")), toString(hex("00 01 FF 01 00 01 FF 01"))},
  };
  for (const Case& c : cases) {
    std::string code = compress(c.input);
    EXPECT_EQ(code, c.code) << "input " << hexDump(c.input) << "\n"
                            << describeMismatch(c.code, code);
  }
}

// Random inputs made mostly of runs of 00 and FF of any length, with
// literals between them, or (every other input) of literals broken by runs
// of one to nine bytes, as text rows are.
std::string randomInput(std::mt19937& rng) {
  std::string input;
  size_t target = std::uniform_int_distribution<size_t>(0, 2000)(rng);
  bool textLike = rng() % 2 == 0;
  while (input.size() < target) {
    if (textLike) {
      if (rng() % 4 == 0) input.append(1 + rng() % 9, rng() % 2 ? '\0' : '\xFF');
      else input.push_back(static_cast<char>(1 + rng() % 254));
      continue;
    }
    switch (std::uniform_int_distribution<int>(0, 2)(rng)) {
      case 0:
        input.append(std::uniform_int_distribution<size_t>(1, 700)(rng), '\0');
        break;
      case 1:
        input.append(std::uniform_int_distribution<size_t>(1, 700)(rng), '\xFF');
        break;
      default:
        input.push_back(static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng)));
    }
  }
  return input;
}

TEST(CompressData, RandomRoundTrip) {
  std::mt19937 rng(20240601);
  for (int trial = 0; trial < 2000; ++trial) {
    std::string a = randomInput(rng);
    std::string b = randomInput(rng);
    std::string codeA = compress(a);
    std::optional<std::string> decoded = decodeRuns(codeA);
    ASSERT_TRUE(decoded.has_value()) << "malformed code for " << hexDump(a);
    ASSERT_EQ(*decoded, a) << describeMismatch(a, *decoded);
    ASSERT_LE(codeA.size(), 2 * a.size());

    // A run token shorter than 255 is never followed by more of its value
    // within the same call: runs are as long as they can be.
    for (size_t i = 0; i + 1 < codeA.size(); ++i) {
      auto byte = static_cast<uint8_t>(codeA[i]);
      if (byte != 0x00 && byte != 0xFF) continue;
      if (static_cast<uint8_t>(codeA[i + 1]) < 0xFF && i + 2 < codeA.size()) {
        ASSERT_NE(codeA[i + 2], codeA[i]) << "split run at " << i << ": " << hexDump(codeA, i);
      }
      ++i;
    }

    // Two calls code their inputs separately: a run open at the end of the
    // first never continues into the second.
    std::string both = capture([&](OutputSink& out) {
                         CompressData(out, reinterpret_cast<const uint8_t*>(a.data()), static_cast<uint32_t>(a.size()));
                         CompressData(out, reinterpret_cast<const uint8_t*>(b.data()), static_cast<uint32_t>(b.size()));
                       }).out;
    ASSERT_EQ(both, codeA + compress(b));
  }
}

}  // namespace
}  // namespace talvero_test
