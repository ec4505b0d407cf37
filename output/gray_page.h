// Monochrome page output: GS v 0, the compressed raster command, or stored
// graphics (GS ( L functions 112 and 50), chosen by model and CompPrinting.
#pragma once

#include "output/page.h"

// Sends the monochrome page (its `black` plane) in the form the job's model
// and CompPrinting choose.
void printGrayPage(JobContext& job, const PagePlanes& page);

// The command of the job's monochrome form that cannot carry rows of `width`
// dots and `rowBytes` bytes, or nullptr when it can.
const char* grayCommandTooSmall(const JobContext& job, uint32_t width, size_t rowBytes);
