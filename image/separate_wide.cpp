// Sixteen dots at a time: the ink model of separate.cpp written over vectors
// of sixteen 16-bit lanes (GCC/Clang vector extensions), compiled for AVX2
// and chosen at run time on x86-64, and for NEON on 64-bit ARM. Every step keeps the integer results of the
// scalar separation: the products fit 16 bits, the divisions by constants
// are the compiler's exact multiply-and-shift, and the one division by a
// dot's own red level is done in float, whose correctly rounded quotient of
// two integers below 2^16 never crosses an integer.
#include "image/separate_wide.h"

#include <bit>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
// x86-64: compiled for AVX2, used when the processor has it.
#define TALVERO_WIDE __attribute__((target("avx2")))
#define TALVERO_WIDE_PRESENT __builtin_cpu_supports("avx2")
#elif (defined(__GNUC__) || defined(__clang__)) && defined(__aarch64__)
// 64-bit ARM: every processor has 128-bit NEON, two of which make a vector here.
#define TALVERO_WIDE
#define TALVERO_WIDE_PRESENT true
#endif

#ifdef TALVERO_WIDE_PRESENT

namespace {

typedef uint8_t U8x16 __attribute__((vector_size(16)));
typedef uint16_t U16x8 __attribute__((vector_size(16)));
typedef uint16_t U16x16 __attribute__((vector_size(32)));
typedef int32_t I32x8 __attribute__((vector_size(32)));
typedef float F32x8 __attribute__((vector_size(32)));
typedef uint64_t U64x2 __attribute__((vector_size(16)));
typedef uint64_t U64x4 __attribute__((vector_size(32)));

// Sixteen lanes of one value.
TALVERO_WIDE inline U16x16 splat(uint16_t v) { return U16x16{} + v; }

// The smaller of a and b in each lane.
TALVERO_WIDE inline U16x16 lanesMin(U16x16 a, U16x16 b) { return a < b ? a : b; }

// The larger of a and b in each lane.
TALVERO_WIDE inline U16x16 lanesMax(U16x16 a, U16x16 b) { return a > b ? a : b; }

// toneStretch of sixteen amounts (0..255).
TALVERO_WIDE inline U16x16 stretch(U16x16 amount) {
  U16x16 stretched = lanesMin(((amount - 32) * 255 + 87) / 175, splat(255));
  return amount > 32 ? stretched : U16x16{};
}

// n / d of eight lanes (n < 2^16, d > 0), through float.
TALVERO_WIDE inline U16x8 quotient(U16x8 n, U16x8 d) {
  F32x8 q = __builtin_convertvector(n, F32x8) / __builtin_convertvector(d, F32x8);
  return __builtin_convertvector(__builtin_convertvector(q, I32x8), U16x8);
}

// n / d of sixteen lanes, eight at a time (a float holds 32 bits).
TALVERO_WIDE inline U16x16 quotient(U16x16 n, U16x16 d) {
  U16x8 low = quotient(__builtin_shufflevector(n, n, 0, 1, 2, 3, 4, 5, 6, 7),
                       __builtin_shufflevector(d, d, 0, 1, 2, 3, 4, 5, 6, 7));
  U16x8 high = quotient(__builtin_shufflevector(n, n, 8, 9, 10, 11, 12, 13, 14, 15),
                        __builtin_shufflevector(d, d, 8, 9, 10, 11, 12, 13, 14, 15));
  return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// The inks of sixteen dots (48 bytes of RGB): the black amount of each, and
// its black plus red amount.
struct Inks {
  U8x16 black;
  U8x16 total;
};

TALVERO_WIDE inline Inks inksOf(const uint8_t* rgb) {
  U8x16 a, b, c;
  std::memcpy(&a, rgb, 16);
  std::memcpy(&b, rgb + 16, 16);
  std::memcpy(&c, rgb + 32, 16);
  // Every third byte: eleven (ten for blue) from the first 32, the rest from the last 16.
  U8x16 r8 = __builtin_shufflevector(
      __builtin_shufflevector(a, b, 0, 3, 6, 9, 12, 15, 18, 21, 24, 27, 30, 0, 0, 0, 0, 0), c,
      0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 17, 20, 23, 26, 29);
  U8x16 g8 = __builtin_shufflevector(
      __builtin_shufflevector(a, b, 1, 4, 7, 10, 13, 16, 19, 22, 25, 28, 31, 0, 0, 0, 0, 0), c,
      0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18, 21, 24, 27, 30);
  U8x16 b8 = __builtin_shufflevector(
      __builtin_shufflevector(a, b, 2, 5, 8, 11, 14, 17, 20, 23, 26, 29, 0, 0, 0, 0, 0, 0), c,
      0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 19, 22, 25, 28, 31);
  U16x16 red = __builtin_convertvector(r8, U16x16);
  U16x16 green = __builtin_convertvector(g8, U16x16);
  U16x16 blue = __builtin_convertvector(b8, U16x16);
  // The steps and constants of separate().
  U16x16 luma = (red * 77 + green * 150 + blue * 29 + 128) >> 8;
  U16x16 maxGb = lanesMax(green, blue);
  U16x16 excess = lanesMax(red, maxGb) - maxGb;
  U16x16 dark = lanesMin(luma + ((excess * 179 + 128) >> 8), splat(255));
  U16x16 k = stretch(255 - dark);
  // Only a dot whose red stands above green and blue gets red ink; greys
  // and most of a photo's dots skip the division.
  U16x16 share{};
  U64x4 anyExcess = reinterpret_cast<U64x4>(excess);
  if ((anyExcess[0] | anyExcess[1] | anyExcess[2] | anyExcess[3]) != 0) {
    U16x16 purity = quotient(excess * 255 + (red >> 1), lanesMax(red, splat(1)));
    share = (stretch(purity) * (255 - k) + 127) / 255;
  }
  return Inks{__builtin_convertvector(k, U8x16), __builtin_convertvector(k + share, U8x16)};
}

// One plane byte from eight bytes of 0 or 1 (the first the leftmost dot):
// the multiply gathers bit j of the word's byte j into bit 7 - j of the top byte.
inline uint8_t packByte(uint64_t ones) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<uint8_t>((ones * 0x8040201008040201ull) >> 56);
  else
    return static_cast<uint8_t>((ones * 0x0102040810204080ull) >> 56);
}

// Two plane bytes from the sixteen compare results (0 or FF hex each).
TALVERO_WIDE inline void packDots(U8x16 set, uint8_t* out) {
  U64x2 words = reinterpret_cast<U64x2>(set & 1);
  out[0] = packByte(words[0]);
  out[1] = packByte(words[1]);
}

// Sixteen dots into two bytes of each plane; bytes beyond `bytes` are not written.
TALVERO_WIDE inline void ditherDots(const uint8_t* rgb, U8x16 thresholds, uint8_t* black,
                                    uint8_t* red, size_t bytes) {
  Inks inks = inksOf(rgb);
  uint8_t out[2][2];
  if (red == nullptr) {
    packDots(reinterpret_cast<U8x16>(inks.total > thresholds), out[0]);
  } else {
    // One threshold for both inks: black below the black amount, red in the band above it.
    auto isBlack = reinterpret_cast<U8x16>(inks.black > thresholds);
    packDots(isBlack, out[0]);
    packDots(~isBlack & reinterpret_cast<U8x16>(inks.total > thresholds), out[1]);
    std::memcpy(red, out[1], bytes);
  }
  std::memcpy(black, out[0], bytes);
}

}  // namespace

bool wideSeparationAvailable() {
  static const bool kAvailable = TALVERO_WIDE_PRESENT;
  return kAvailable;
}

TALVERO_WIDE void separateRowWide(const uint8_t* rgb, size_t width, const uint8_t thresholds[16],
                                  uint8_t* black, uint8_t* red) {
  U8x16 t;
  std::memcpy(&t, thresholds, 16);
  size_t x = 0;
  for (; x + 16 <= width; x += 16)
    ditherDots(rgb + 3 * x, t, black + x / 8, red == nullptr ? nullptr : red + x / 8, 2);
  if (x == width) return;
  // The last few dots, padded with paper white (no ink).
  uint8_t tail[48];
  std::memset(tail, 255, sizeof tail);
  std::memcpy(tail, rgb + 3 * x, 3 * (width - x));
  ditherDots(tail, t, black + x / 8, red == nullptr ? nullptr : red + x / 8, (width - x + 7) / 8);
}

#else

bool wideSeparationAvailable() { return false; }

void separateRowWide(const uint8_t*, size_t, const uint8_t*, uint8_t*, uint8_t*) {}

#endif
