// Page-sized byte buffers of the page loop: allocated zero-filled when a page
// first needs them, kept for the rest of the job, grown when a later page
// needs more, freed when the job ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

struct PageBuf {
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, Free> bytes;
  size_t size = 0;

  uint8_t* data() const { return bytes.get(); }

  // Makes the buffer hold at least `needed` bytes (at least one). A new or
  // grown buffer is zero-filled; an existing one that is big enough is kept
  // as it is. Returns false when memory is exhausted (the old buffer stays).
  bool reserve(size_t needed) {
    if (needed == 0) needed = 1;
    if (bytes && size >= needed) return true;
    auto* fresh = static_cast<uint8_t*>(std::calloc(needed, 1));
    if (fresh == nullptr) return false;
    bytes.reset(fresh);
    size = needed;
    return true;
  }

  // Sets the first `count` bytes (at most the buffer's size) to zero.
  void clear(size_t count) {
    if (bytes) std::memset(bytes.get(), 0, count < size ? count : size);
  }

  void release() {
    bytes.reset();
    size = 0;
  }
};
