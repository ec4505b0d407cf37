// Eight bytes of a plane at a time: unaligned 64-bit loads and stores in
// the machine's byte order, for the scans and turns that work a word at a
// time.
#pragma once

#include <cstdint>
#include <cstring>

// The eight bytes from `p` as one word.
inline uint64_t load64(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return word;
}

// Stores `word` as the eight bytes from `p`.
inline void store64(uint8_t* p, uint64_t word) {
  std::memcpy(p, &word, sizeof word);
}
