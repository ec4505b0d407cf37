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
#include "output/stream.h"

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

// The code of one call, gathered before it goes to the printer output.
class CodeBuffer {
 public:
  ~CodeBuffer() { flush(); }

  // Makes room for `count` more bytes (at most 8).
  void reserve(size_t count) {
    if (used_ + count > sizeof bytes_) flush();
  }
  // Where the next bytes go, and how many were put there.
  uint8_t* end() { return bytes_ + used_; }
  void advance(size_t count) { used_ += count; }

  // Hands what it holds to the printer output.
  void flush() {
    outBytes(bytes_, used_);
    used_ = 0;
  }

 private:
  uint8_t bytes_[8192];
  size_t used_ = 0;
};

// Measures the run of `*at` (00 or FF) from `at` and writes its tokens.
const uint8_t* codeRun(const uint8_t* at, const uint8_t* end, CodeBuffer& code) {
  const uint8_t value = *at;
  const uint64_t pattern = value == 0 ? 0 : ~uint64_t{0};
  const uint8_t* start = at;
  for (;;) {
    if (end - at < 8) {
      while (at < end && *at == value) ++at;
      break;
    }
    uint64_t other = load64(at) ^ pattern;  // non-zero in the bytes that end the run
    if (other != 0) {
      at += firstMarked(~zeroBytes(other) & ~kLow7);
      break;
    }
    at += 8;
  }
  size_t length = static_cast<size_t>(at - start);
  for (; length > 0; length -= length < kMaxRun ? length : kMaxRun) {
    code.reserve(2);
    uint8_t* out = code.end();
    out[0] = value;
    out[1] = static_cast<uint8_t>(length < kMaxRun ? length : kMaxRun);
    code.advance(2);
  }
  return at;
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

void CompressData(const uint8_t* data, uint32_t length) {
  CodeBuffer code;
  const uint8_t* at = data;
  const uint8_t* end = data + length;
  while (end - at >= 8) {
    code.reserve(8);
    uint64_t word = load64(at);
    uint64_t zeros = zeroBytes(word);
    uint64_t ones = zeroBytes(~word);
    // The word goes to the code whole; only its literals are counted in.
    store64(code.end(), word);
    if ((zeros | ones) == 0) {
      code.advance(8);
      at += 8;
      continue;
    }
    size_t literals = firstMarked(zeros | ones);
    code.advance(literals);
    at += literals;
    // A run starts here. Most runs in text end inside the word they start
    // in: the first byte of another value in the rest of the word ends it.
    uint8_t value = *at;
    uint64_t others = fromByte(~(value == 0 ? zeros : ones) & ~kLow7, literals);
    if (others == 0) {
      at = codeRun(at, end, code);
      continue;
    }
    size_t run = firstMarked(others);
    code.reserve(2);
    code.end()[0] = value;
    code.end()[1] = static_cast<uint8_t>(run);
    code.advance(2);
    at += run;
  }
  // Fewer than eight bytes left.
  while (at < end) {
    if (isRunByte(*at)) {
      at = codeRun(at, end, code);
    } else {
      code.reserve(1);
      *code.end() = *at++;
      code.advance(1);
    }
  }
}
