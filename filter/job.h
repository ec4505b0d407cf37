// The filter's entry and the flow of one job: arguments, settings, the three
// job modes (text, API, raster), the page loop and the end of the job.
#pragma once

#include "filter/pipeline.h"

// Runs the job as the spooler runs the filter:
//   rastertoTalvero job-id user title copies options [file]
// Printer bytes go to standard output, diagnostics to standard error.
// Returns the process exit status (0 or 1).
int runFilter(int argc, char* argv[]);

// The raster job in pieces, for a front end that brings its own pages (the
// Printer Application); runFilter's raster job is these three in a row.

// Prepares the job: the rotation override on work.settings, and Focus.
void beginRasterJob(PageWork& work);

// The page loop over the pages of work.stream: reads, trims, counts and
// prints each, adding to `pageCount`. False when a buffer could not be
// allocated (the page loop stopped; the caller reports it).
bool runRasterPages(PageWork& work, int& pageCount);

// End of the job on the printer: the final feed and the drawer kick after
// printing. The output is not flushed.
void finishRasterJob(const JobSettings& settings);
