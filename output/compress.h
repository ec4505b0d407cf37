// The run-length code of the compressed raster command: runs of 00 and FF
// bytes become a marker byte (00 or FF) and a count (1 to 255); every other
// byte stands for itself.
#pragma once

#include <cstdint>

#include "core/output_sink.h"

// Codes `length` bytes from `data` straight onto `sink`.
void CompressData(OutputSink& sink, const uint8_t* data, uint32_t length);
