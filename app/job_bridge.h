// One print job of the Printer Application, run through the filter's own
// raster job. The application hands over each page as its header and its
// rows, in whatever layout it rasterised them (8-bit sRGB or grey, or one of
// the other layouts the prefilter reads); each row is separated into black
// and red (or black only) exactly as the prefilter does, straight into the
// page buffer of the filter's raster job, which prints the page as it prints
// one read from a raster stream; the printer bytes go to the job's device
// through a writer.
// Each job has its own context (settings, model, output, diagnostics), so
// jobs may run at once on any threads; one job's calls must not overlap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <cups/raster.h>

#include "core/diagnostics.h"
#include "core/settings.h"
#include "core/output_sink.h"

struct BridgeJob;

struct BridgeJobDeleter {
  void operator()(BridgeJob* job) const;
};
using BridgeJobPtr = std::unique_ptr<BridgeJob, BridgeJobDeleter>;

// How a job ended.
struct BridgeResult {
  int pages = 0;        // pages printed (blank pages skipped are not counted)
  bool failed = false;  // a page was cut short or a buffer could not be allocated; the job stopped there
  int writeError = 0;   // errno of the writer's failure, 0 when it took every byte
};

// Starts a job for `settings` (filled by fillJobSettings; a model of the
// model table): resets the printer (ESC @), sends every printer byte to
// `writer` with `context` and the job's diagnostics to `log`.
// `colourPlanes` separates pages into black and red, as the prefilter does
// when the job's ColorModel is 0; otherwise red prints black.
BridgeJobPtr bridgeStartJob(const JobSettings& settings, bool colourPlanes, OutputSink::Writer writer,
                            void* context, const Diagnostics& log);

// Starts a page of `header`'s layout and size. False, with the reason in
// `why`, for a layout or size the prefilter would refuse.
bool bridgeStartPage(BridgeJob& job, const cups_page_header2_t& header, std::string& why);

// Row `y` of the page, header.cupsBytesPerLine bytes. Rows come in order;
// rows skipped are blank, and a row out of order is ignored. The page's
// buffer grows with the rows received, whatever height the header claims.
void bridgeWriteLine(BridgeJob& job, uint32_t y, const uint8_t* line);

// Prints the page: cuts it to the print head's width (page_width.h), trims
// it, counts it, kicks the drawer before the first page if so set, runs its
// pipeline and writers, sends its feed or cut, and hands the bytes to the
// writer. False, with the reason in `why`, when the page's rows ended
// before its last one (nothing of it is printed), its rows are too wide for
// the printer's commands, or a buffer could not be allocated; the job stops
// there.
bool bridgeEndPage(BridgeJob& job, std::string& why);

// What the last page lost to the print head's width, in words ("marks 600
// dots wide do not fit ..."); empty when every mark was printed.
const std::string& bridgeWidthNotice(const BridgeJob& job);

// Ends the job on the printer (final feed, drawer kick after printing) and
// hands the last bytes to the writer.
BridgeResult bridgeEndJob(BridgeJobPtr job);

// The errno of the writer's failure, 0 while it has taken every byte (after
// a failure no more bytes are handed to it).
int bridgeWriteError(const BridgeJob& job);

// Ends a cancelled job as the filter ends one: the bytes produced so far,
// 720 bytes 00 and ESC @, so the printer comes back to a known state.
// Returns true when the writer took them all.
bool bridgeCancelJob(BridgeJobPtr job);
