// What a Printer Application job waits for before it sends a page, and
// before it calls itself done.
//
// Before each page: the printer must have taken every byte sent before it
// (printer_link.h), then it is asked its state; while its paper is out, its
// cover open, or it is offline or in error, the job waits there, asking
// again every second, with the reasons in printer-state-reasons (media-empty
// and media-needed, cover-open, offline, other; media-low when the paper is
// near its end) and the job's message ("Waiting for paper"). A printer that
// gives no answer the first time is not asked again in that job. After the
// last byte: the printer must have taken it all and, if it answers status
// queries, answer once more (it answers only after reading what came
// before). A job cancelled meanwhile, or a server shutting down, stops
// waiting at once.
#pragma once

#include <pappl/pappl.h>

#include "app/printer_link.h"

enum class GateOutcome {
  Go,         // send the page / the job is done
  Cancelled,  // the job was cancelled: it ends with the cancel sequence
  ShutDown,   // the server is shutting down: the job ends unprinted
  Broken,     // the connection broke: the job ends, the link says why
};

// Before a page: waits until the printer has taken what came before and can
// print. `asking` is cleared when the printer gives no answer.
GateOutcome waitForPrinter(PrinterLink& link, pappl_job_t* job, bool& asking);

// After the last byte: waits until the printer has taken everything.
GateOutcome confirmJob(PrinterLink& link, pappl_job_t* job, bool asking);

// Shows `status` in the printer's printer-state-reasons: media-empty (and
// media-needed while `jobWaits`), media-low, cover-open, offline, other.
void showPrinterStatus(pappl_printer_t* printer, const PrinterStatus& status, bool jobWaits);
