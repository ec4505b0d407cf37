// Compressed rows of a 1-bit CUPS raster page; see raster_writer.h. The
// rules (when a repeat or a literal run starts and ends, when equal rows
// are written) are libcups 2.4's, so the stream is the one libcups writes.
#include "image/raster_writer.h"

#include <cstring>

namespace {

// Encodes `row` as runs after its repeat byte. Returns the bytes written.
size_t encodeRow(const uint8_t* row, size_t n, uint32_t repeats, uint8_t* out) {
  uint8_t* at = out;
  *at++ = static_cast<uint8_t>(repeats - 1);
  const size_t last = n - 1;
  size_t p = 0;
  while (p < n) {
    const size_t start = p++;
    unsigned count;
    if (p == n) {
      // A last byte on its own.
      *at++ = 0;
      *at++ = row[start];
    } else if (row[start] == row[p]) {
      // A byte repeated, up to 128 times.
      for (count = 2; count < 128 && p < last && row[p] == row[p + 1]; ++count) ++p;
      *at++ = static_cast<uint8_t>(count - 1);
      *at++ = row[p++];
    } else {
      // Bytes as they are, up to 128, until two equal ones start a repeat.
      for (count = 1; count < 128 && p < last && row[p] != row[p + 1]; ++count) ++p;
      if (p >= last && count < 128) {
        ++count;
        ++p;
      }
      *at++ = static_cast<uint8_t>(257 - count);
      std::memcpy(at, row + start, count);
      at += count;
    }
  }
  return static_cast<size_t>(at - out);
}

// Writes the waiting row with its repeat count. Returns false on error.
bool flushRow(RowWriter& w) {
  size_t length = encodeRow(w.row.data(), w.row.size(), w.repeats, w.encoded.data());
  w.repeats = 0;
  return w.write(w.context, w.encoded.data(), length) == static_cast<ssize_t>(length);
}

}  // namespace

void startRows(RowWriter& w, const cups_page_header2_t& header) {
  w.bytesPerLine = header.cupsBytesPerLine;
  w.rowsLeft = header.cupsHeight;
  w.repeats = 0;
  w.row.assign(w.bytesPerLine, 0);
  // Worst case: the repeat byte, then one count byte per 128 bytes, or two
  // bytes for a row's last byte.
  w.encoded.assign(2 * size_t{w.bytesPerLine} + 2, 0);
}

// A row equal to the waiting one adds to its repeats; the waiting row is
// written when a different row comes, when it stands 256 times, and at the
// page's last row.
bool writeRow(RowWriter& w, const uint8_t* row) {
  if (w.rowsLeft == 0 || w.bytesPerLine == 0) return false;
  if (w.repeats > 0) {
    if (std::memcmp(row, w.row.data(), w.bytesPerLine) == 0) {
      ++w.repeats;
      if (--w.rowsLeft == 0 || w.repeats == 256) return flushRow(w);
      return true;
    }
    if (!flushRow(w)) return false;
  }
  std::memcpy(w.row.data(), row, w.bytesPerLine);
  w.repeats = 1;
  if (--w.rowsLeft == 0) return flushRow(w);
  return true;
}
