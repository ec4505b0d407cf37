// Zero-byte counts at either end of a byte range, eight bytes at a time and
// a byte at a time over the last few.
#include "image/blank_rows.h"

#include "image/words.h"

size_t leadingZeroBytes(const uint8_t* bytes, size_t length) {
  size_t at = 0;
  while (at + 8 <= length && load64(bytes + at) == 0) at += 8;
  while (at < length && bytes[at] == 0) ++at;
  return at;
}

size_t trailingZeroBytes(const uint8_t* bytes, size_t length) {
  size_t end = length;
  while (end >= 8 && load64(bytes + end - 8) == 0) end -= 8;
  while (end > 0 && bytes[end - 1] == 0) --end;
  return length - end;
}
