// The filter's entry and the flow of one job: arguments, settings, the three
// job modes (text, API, raster), the page loop and the end of the job.
#pragma once

// Runs the job as the spooler runs the filter:
//   rastertoTalvero job-id user title copies options [file]
// Printer bytes go to standard output, diagnostics to standard error.
// Returns the process exit status (0 or 1).
int runFilter(int argc, char* argv[]);
