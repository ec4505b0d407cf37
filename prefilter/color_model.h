// The one job setting the prefilter needs: the ColorModel choice, read the way
// the rastertoTalvero filter reads it (the printer's PPD with the job's
// options marked over its defaults, then the number the selected choice
// keyword begins with).
#pragma once

#include <string>

// ColorModel value of a PPD that has no ColorModel option (black-only models).
constexpr int kNoColorModel = -1;

// Reads the ColorModel ChoiceNumber from the PPD at `ppdPath` with the job
// `options` marked. Returns true and sets `choice` (kNoColorModel when the PPD
// has no such option or no valid choice); returns false with the reason in
// `why` when the PPD cannot be opened or read.
bool readColorModel(const char* ppdPath, const char* options, int& choice, std::string& why);
