// Capture, run-length decoding and frame parsing for the output tests.
#include "frames.h"

#include <gtest/gtest.h>

#include <memory>

#include "support.h"

namespace talvero_test {

Captured capture(const JobSettings& settings, const std::function<void(JobContext&)>& write) {
  Captured result;
  auto out = std::make_unique<OutputSink>(appendToString, &result.out);
  JobContext job(settings, *out, logInto(result.err));
  write(job);
  out->flush();
  return result;
}

Captured capture(const std::function<void(OutputSink&)>& write) {
  Captured result;
  auto out = std::make_unique<OutputSink>(appendToString, &result.out);
  write(*out);
  out->flush();
  return result;
}

JobSettings modelSettings(int32_t model) {
  JobSettings settings{};
  settings.ModelNumber = model;
  return settings;
}

std::string patternPlane(size_t size, bool literalOnly) {
  std::string plane(size, '\0');
  uint32_t state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    uint8_t byte = static_cast<uint8_t>(state >> 16);
    if (literalOnly && (byte == 0x00 || byte == 0xFF)) byte = 0x5A;
    plane[i] = static_cast<char>(byte);
  }
  return plane;
}

std::optional<std::string> decodeRuns(const std::string& code) {
  std::string out;
  for (size_t i = 0; i < code.size(); ++i) {
    auto byte = static_cast<uint8_t>(code[i]);
    if (byte != 0x00 && byte != 0xFF) {
      out.push_back(code[i]);
      continue;
    }
    if (i + 1 >= code.size() || code[i + 1] == '\0') return std::nullopt;
    out.append(static_cast<uint8_t>(code[i + 1]), code[i]);
    ++i;
  }
  return out;
}

namespace {

uint32_t le16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}

}  // namespace

std::optional<std::vector<StoredFrame>> parseStored(const std::string& out, size_t rowBytes) {
  const std::string print = toString(hex("1D 28 4C 02 00 30 32"));
  const std::string storeHead = toString(hex("1D 28 4C"));
  const std::string storeFunction = toString(hex("30 70 30 01 01"));
  std::vector<StoredFrame> frames;
  size_t at = 0;
  while (at < out.size()) {
    if (out.compare(at, print.size(), print) == 0) {
      frames.push_back({'P', 0, 0, 0, {}});
      at += print.size();
      continue;
    }
    if (out.size() - at < 15 || out.compare(at, 3, storeHead) != 0 ||
        out.compare(at + 5, 5, storeFunction) != 0) {
      ADD_FAILURE() << "no stored-graphics frame at offset " << at << ": " << hexDump(out, at);
      return std::nullopt;
    }
    StoredFrame frame{'S', static_cast<uint8_t>(out[at + 10]), le16(out, at + 11), le16(out, at + 13), {}};
    size_t k = frame.rows * rowBytes;
    if (le16(out, at + 3) != k + 10 || out.size() - at - 15 < k) {
      ADD_FAILURE() << "store command at offset " << at << " has length " << le16(out, at + 3)
                    << " for " << frame.rows << " rows of " << rowBytes << " bytes";
      return std::nullopt;
    }
    frame.data = out.substr(at + 15, k);
    frames.push_back(std::move(frame));
    at += 15 + k;
  }
  return frames;
}

std::string frameSummary(const std::vector<StoredFrame>& frames) {
  std::string text;
  for (const StoredFrame& frame : frames) {
    if (!text.empty()) text += ' ';
    // Appended piece by piece: GCC 12 at -O3 wrongly reports an overlapping
    // memcpy (-Wrestrict) inside a chain of std::string operator+.
    if (frame.kind == 'P') {
      text += 'P';
      continue;
    }
    text += 'S';
    text += static_cast<char>(frame.colour);
    text += ':';
    text += std::to_string(frame.rows);
  }
  return text;
}

std::optional<std::vector<CompressedFrame>> parseCompressed(const std::string& out,
                                                            size_t rowBytes) {
  const std::string header = toString(hex("08 43 52 00 00 00 00 00"));
  const std::string end = toString(hex("08 43 52 FF 00"));
  std::vector<CompressedFrame> frames;
  size_t at = 0;
  while (at < out.size()) {
    if (out.size() - at < 12 || out.compare(at, header.size(), header) != 0) {
      ADD_FAILURE() << "no compressed raster command at offset " << at << ": " << hexDump(out, at);
      return std::nullopt;
    }
    CompressedFrame frame{le16(out, at + 8), le16(out, at + 10), {}};
    size_t wanted = frame.rows * rowBytes;
    size_t pos = at + 12;
    size_t produced = 0;
    while (produced < wanted && pos < out.size()) {
      auto byte = static_cast<uint8_t>(out[pos]);
      if (byte == 0x00 || byte == 0xFF) {
        if (pos + 1 >= out.size()) break;
        produced += static_cast<uint8_t>(out[pos + 1]);
        pos += 2;
      } else {
        ++produced;
        ++pos;
      }
    }
    if (produced != wanted || out.compare(pos, end.size(), end) != 0) {
      ADD_FAILURE() << "command at offset " << at << " codes " << produced << " of " << wanted
                    << " bytes or lacks its end marker";
      return std::nullopt;
    }
    frame.code = out.substr(at + 12, pos - at - 12);
    frames.push_back(std::move(frame));
    at = pos + end.size();
  }
  return frames;
}

JobSettings logoSettings(int32_t position, int32_t justification, int32_t image, int32_t width,
                         int32_t lineFeed) {
  JobSettings settings{};
  settings.LogoPosition = position;
  settings.LogoJustification = justification;
  settings.LogoImage = image;
  settings.LogoWidth = width;
  settings.LineFeed = lineFeed;
  return settings;
}

}  // namespace talvero_test
