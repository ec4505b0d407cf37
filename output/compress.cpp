// The run-length code of the compressed raster command. Bytes other than 00
// and FF are literals and stand for themselves; a run of 00 or FF bytes is a
// two-byte token, the byte value and a count of 1 to 255, so a longer run
// takes several tokens and a lone 00 or FF costs two bytes. The code is
// written in one pass straight onto the printer output; each call starts
// with no run open and closes its last run at the end of its input.
#include "output/compress.h"

#include "output/stream.h"

namespace {

// Longest run one token can carry.
constexpr uint32_t kMaxRun = 0xFF;

// Whether `byte` opens a run token rather than standing for itself.
inline bool isRunByte(uint8_t byte) {
  return byte == 0x00 || byte == 0xFF;
}

}  // namespace

void CompressData(const uint8_t* data, uint32_t length) {
  const uint8_t* at = data;
  const uint8_t* end = data + length;
  while (at < end) {
    // Literals up to the next run byte go out together: none of them can
    // change once the run byte is seen.
    const uint8_t* literals = at;
    while (at < end && !isRunByte(*at)) ++at;
    if (at > literals) outBytes(literals, static_cast<size_t>(at - literals));
    if (at == end) break;

    uint8_t value = *at;
    uint32_t count = 1;
    ++at;
    while (at < end && *at == value && count < kMaxRun) {
      ++count;
      ++at;
    }
    outByte(value);
    outByte(static_cast<uint8_t>(count));
  }
}
