// Page-sized byte buffers of a raster job: sized for the page at hand, kept
// for later pages (grown when one needs more), freed when the job ends. Their
// bytes are not cleared: every stage writes all the bytes a later stage
// reads, so clearing would only cost time and touch memory for nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

struct PageBuf {
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> bytes;
  size_t size = 0;

  uint8_t* data() const { return bytes.get(); }

  // Makes the buffer hold at least `needed` bytes (at least one); what it
  // held before may be lost. Returns false when memory is exhausted (the old
  // buffer stays).
  bool reserve(size_t needed) {
    if (needed == 0) needed = 1;
    if (bytes && size >= needed) return true;
    auto* fresh = static_cast<uint8_t*>(std::malloc(needed));
    if (fresh == nullptr) return false;
    bytes.reset(fresh);
    size = needed;
    return true;
  }

  // Makes the buffer hold at least `needed` bytes and keeps its first
  // `kept` bytes. Returns false when memory is exhausted (the old buffer and
  // its bytes stay).
  bool grow(size_t needed, size_t kept) {
    if (bytes && size >= needed) return true;
    if (kept == 0) return reserve(needed);
    auto* grown = static_cast<uint8_t*>(std::realloc(bytes.get(), needed));
    if (grown == nullptr) return false;
    bytes.release();
    bytes.reset(grown);
    size = needed;
    return true;
  }
};
