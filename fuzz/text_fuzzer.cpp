// The text job: a shipped PPD chosen by the first input byte, job options up
// to the first newline, and the rest as the text file. The printer output
// must be that of the same job with an empty file (reset and logo blocks)
// with the text inserted whole at one point, where the text is the file
// read in chunks of 1024 bytes, each cut at its first 00 byte. Bytes the
// previewer cannot show as text are replaced first, so the whole output
// must also decode. A LogoPosition outside 0 to 3 sends no text at all.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/settings.h"
#include "fuzz/harness.h"

namespace {

// Keeps 00 (which cuts a chunk), tab, LF, CR, printable ASCII and 80-FF;
// every other control byte becomes '.'.
uint8_t printable(uint8_t byte) {
  bool keep = byte == 0x00 || byte == 0x09 || byte == 0x0A || byte == 0x0D || (byte >= 0x20 && byte != 0x7F);
  return keep ? byte : uint8_t{'.'};
}

// The bytes a text job sends for `file`: each 1024-byte chunk up to its first 00.
std::string expectedText(const std::vector<uint8_t>& file) {
  std::string text;
  for (size_t at = 0; at < file.size(); at += 1024) {
    size_t end = std::min(file.size(), at + 1024);
    for (size_t i = at; i < end && file[i] != 0x00; ++i) text.push_back(static_cast<char>(file[i]));
  }
  return text;
}

// Whether `out` is `frame` with `text` inserted at some position.
bool isFrameWithText(const std::string& out, const std::string& frame, const std::string& text) {
  if (out.size() != frame.size() + text.size()) return false;
  for (size_t at = 0; at <= frame.size(); ++at) {
    if (out.compare(0, at, frame, 0, at) == 0 && out.compare(at, text.size(), text) == 0 &&
        out.compare(at + text.size(), std::string::npos, frame, at) == 0) {
      return true;
    }
  }
  return false;
}

// The job with an empty file for a PPD and options, and whether the job
// reads its file at all; the last one is kept, as most inputs change only
// the text.
struct Frame {
  std::string ppd, options, out;
  bool textSent = false;
};

const Frame& frameFor(const fuzz::JobInput& job) {
  static Frame frame;
  if (frame.ppd == job.ppd && frame.options == job.options && !frame.out.empty()) return frame;
  fuzz::JobResult empty = fuzz::runJob(job.ppd, job.options, {}, fuzz::memoryFile({}));
  fuzz::checkJobResult(empty);
  fuzz::check(empty.status == 0, "a text job of an empty file failed");
  JobSettings settings{};
  initializeSettings(job.options.c_str(), settings, Diagnostics());  // PPD is still set by runJob
  frame = {job.ppd, job.options, empty.out, settings.LogoPosition >= 0 && settings.LogoPosition <= 3};
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::JobInput job = fuzz::splitJobInput({data, size});
  std::vector<uint8_t> file(job.data.begin(), job.data.end());
  for (uint8_t& byte : file) byte = printable(byte);

  const Frame& frame = frameFor(job);
  fuzz::JobResult result = fuzz::runJob(job.ppd, job.options, {}, fuzz::memoryFile(file));
  fuzz::checkJobResult(result);
  fuzz::check(result.status == 0, "a readable text file failed");
  fuzz::check(isFrameWithText(result.out, frame.out, frame.textSent ? expectedText(file) : ""),
              "the text is not passed through whole", result.out);
  return 0;
}
