// Reducing 1-bit planes by OR over square blocks of dots.
#pragma once

#include <cstdint>

// One third in each direction: (rows + 2) / 3 rows of bytesPerRow / 3 bytes,
// each result dot the OR of a 3 x 3 block; the last 1 or 2 bytes of a row
// that fill no block take no part, and a last block row that runs past the
// plane ORs the rows that exist. Every result byte is written, nothing past
// them; `dest` must not overlap `source`. Needs no scratch memory and cannot
// fail.
void reduceToThird(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow);

// One half in each direction: (rows + 1) / 2 rows of bytesPerRow / 2 bytes,
// each result dot the OR of a 2 x 2 block; otherwise as reduceToThird.
void reduceToHalf(const uint8_t* source, uint8_t* dest, uint32_t rows, uint32_t bytesPerRow);
