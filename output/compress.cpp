// The run-length code of the compressed raster command. Bytes other than 00
// and FF are literals and stand for themselves; a run of 00 or FF bytes is a
// two-byte token, the byte value and a count of 1 to 255, so a longer run
// takes several tokens and a lone 00 or FF costs two bytes. Each call starts
// with no run open and closes its last run at the end of its input.
//
// The input is scanned eight bytes at a time: a word with no 00 and no FF
// byte is eight literals, a run that ends within its word is measured from
// the word's bytes alone, and a longer run goes on while whole words equal
// the run byte. The code is gathered in a local buffer and handed to the
// printer output in large pieces.
#include "output/compress.h"

#include <bit>
#include <cstddef>
#include <cstring>

#include "image/words.h"

namespace {

// Longest run one token can carry.
constexpr size_t kMaxRun = 0xFF;

constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;

// 80 in each byte of `word` that is 00, 00 in every other byte.
inline uint64_t zeroBytes(uint64_t word) {
  return ~(((word & kLow7) + kLow7) | word | kLow7);
}

// Index, in memory order, of the first byte of a word that `mask` marks
// (80 in the marked bytes, at least one marked).
inline size_t firstMarked(uint64_t mask) {
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<size_t>(std::countr_zero(mask)) / 8;
  } else {
    return static_cast<size_t>(std::countl_zero(mask)) / 8;
  }
}

// Whether `byte` opens a run token rather than standing for itself.
inline bool isRunByte(uint8_t byte) {
  return byte == 0x00 || byte == 0xFF;
}

// Size of the code gathered before it goes to the printer output, and the
// most one step of the coder adds to it (a word of literals, a run token).
constexpr size_t kCodeBytes = 8192;
constexpr size_t kMaxStep = 8;

// Hands the code gathered in `code` up to `out` to `sink` when one more step
// might not fit; returns where the next code byte goes.
inline uint8_t* makeRoom(OutputSink& sink, uint8_t* code, uint8_t* out) {
  if (out <= code + kCodeBytes - kMaxStep) return out;
  sink.put(code, static_cast<size_t>(out - code));
  return code;
}

// Length of the run of the byte at `at` (00 or FF) up to `end`, its first
// `known` bytes already seen.
size_t runLength(const uint8_t* at, size_t known, const uint8_t* end) {
  const uint8_t value = *at;
  const uint64_t pattern = value == 0 ? 0 : ~uint64_t{0};
  const uint8_t* p = at + known;
  while (end - p >= 8) {
    uint64_t other = load64(p) ^ pattern;  // non-zero in the bytes that end the run
    if (other != 0) return static_cast<size_t>(p - at) + firstMarked(~zeroBytes(other) & ~kLow7);
    p += 8;
  }
  while (p < end && *p == value) ++p;
  return static_cast<size_t>(p - at);
}

// Writes the tokens of a run of `length` (> 0) bytes of `value`: tokens of
// 255 bytes, then one of the rest. Returns where the next code byte goes.
uint8_t* writeRun(OutputSink& sink, uint8_t* code, uint8_t* out, uint8_t value, size_t length) {
  for (; length > kMaxRun; length -= kMaxRun) {
    out = makeRoom(sink, code, out);
    *out++ = value;
    *out++ = static_cast<uint8_t>(kMaxRun);
  }
  out = makeRoom(sink, code, out);
  *out++ = value;
  *out++ = static_cast<uint8_t>(length);
  return out;
}

// The bytes of a word from byte `index` on (in memory order), moved to the
// word's first bytes.
inline uint64_t fromByte(uint64_t word, size_t index) {
  if constexpr (std::endian::native == std::endian::little) {
    return word >> (8 * index);
  } else {
    return word << (8 * index);
  }
}

}  // namespace

// The code goes through a local pointer, which no store of code bytes can
// change, so the compiler keeps it in a register.
void CompressData(OutputSink& sink, const uint8_t* data, uint32_t length) {
  uint8_t code[kCodeBytes];
  uint8_t* out = code;
  const uint8_t* at = data;
  const uint8_t* end = data + length;
  while (end - at >= 8) {
    out = makeRoom(sink, code, out);
    uint64_t word = load64(at);
    uint64_t zeros = zeroBytes(word);
    uint64_t ones = zeroBytes(~word);
    // The word goes to the code whole; only its literals are counted in.
    store64(out, word);
    if ((zeros | ones) == 0) {
      out += 8;
      at += 8;
      continue;
    }
    size_t literals = firstMarked(zeros | ones);
    out += literals;
    at += literals;
    // A run starts here. Most runs in text end inside the word they start
    // in: the first byte of another value in the rest of the word ends it.
    uint8_t value = *at;
    uint64_t others = fromByte(~(value == 0 ? zeros : ones) & ~kLow7, literals);
    size_t run = others != 0 ? firstMarked(others) : runLength(at, 8 - literals, end);
    out = writeRun(sink, code, out, value, run);
    at += run;
  }
  // Fewer than eight bytes left.
  while (at < end) {
    out = makeRoom(sink, code, out);
    if (isRunByte(*at)) {
      size_t run = runLength(at, 1, end);
      out = writeRun(sink, code, out, *at, run);
      at += run;
    } else {
      *out++ = *at++;
    }
  }
  sink.put(code, static_cast<size_t>(out - code));
}
