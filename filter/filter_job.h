// The filter's entry and the flow of one job: arguments, settings, the three
// job modes (text, API, raster), the page loop and the end of the job.
#pragma once

#include "core/diagnostics.h"
#include "core/output_sink.h"

// Runs the job as the spooler runs the filter:
//   rastertoTalvero job-id user title copies options [file]
// Printer bytes go to `out` (standard output for the filter), diagnostics
// to `log` (standard error). `out` must last as long as the process: a
// SIGTERM after the job may still use it. Returns the process exit status
// (0 or 1).
int runFilter(int argc, char* argv[], OutputSink& out, const Diagnostics& log);
