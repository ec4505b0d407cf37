// The separation and dither of separate.h, sixteen dots at a time, for
// processors with vector arithmetic (x86-64 with AVX2, 64-bit ARM). A photo or a
// grey ramp gives almost every dot a colour of its own, so the separation is
// worked out for each dot; doing sixteen at once keeps continuous-tone pages
// near the cost of reading them. The results are exactly those of
// separate() and ditherThreshold(): the division of the red share is done in
// single-precision floating point, which is exact for these small integers.
#pragma once

#include <cstddef>
#include <cstdint>

// Whether this processor runs separateRowWide (checked once).
bool wideSeparationAvailable();

// Dithers `width` dots of RGB (3 bytes each) against `thresholds`, the dither
// thresholds of the row's first sixteen dots (the pattern repeats every eight
// dots). With `red` set, writes the black and red plane rows as separateRow
// does; with `red` null, writes the black-only row of blackRow into `black`.
// Each row must hold (width + 7) / 8 bytes; every byte is written.
void separateRowWide(const uint8_t* rgb, size_t width, const uint8_t thresholds[16],
                     uint8_t* black, uint8_t* red);
