// The printer's answers in a CUPS queue: the filter asks the printer its
// state through the backend. The socket and usb backends pass what the
// printer sends back to the filter on the back channel (descriptor 3) and
// say so when asked on the side channel (descriptor 4, CUPS_SC_CMD_GET_BIDI).
//
// Before each page (and before a text job's text) the gate flushes what the
// job has written, sends the status queries in the printer output, and
// reads the answers from the back channel. While the printer cannot print
// (paper out, cover open, offline, an error) the job waits there, asking
// again every second, with the reason in the queue's printer-state-reasons
// ("STATE: +media-empty-error", "+cover-open-error", "+offline-report",
// "+other-error") and an "INFO: " line for lpstat and the print dialogs;
// paper near its end only adds "media-low-warning". When the printer can
// print again the reasons are removed and the page is sent. SIGTERM ends a
// waiting job as it ends any other.
//
// A queue without a back channel (a file: device, cupsfilter, a backend
// that says it has none) gets exactly the bytes it got before: nothing is
// asked. A printer that gives no answer within a short time is not asked
// again in that job.
#pragma once

#include <chrono>
#include <set>
#include <string>

#include "core/diagnostics.h"
#include "job/status_query.h"
#include "core/output_sink.h"

// How long the side channel and the printer are given to answer, and how
// often a waiting job asks again.
struct GateTimes {
  std::chrono::milliseconds sideChannel{5000};
  std::chrono::milliseconds answer{500};
  std::chrono::milliseconds interval{1000};
};

class PrinterGate {
 public:
  // The gate of the job writing to `out` and reporting to `log`. When the
  // job `prints`, finds out whether the queue has a back channel: DEVICE_URI
  // names a device a backend serves (not file:), descriptor 4 is the side
  // channel and the backend answers CUPS_SC_CMD_GET_BIDI with 1.
  PrinterGate(OutputSink& out, const Diagnostics& log, bool prints, GateTimes times = {});

  // Waits until the printer can print the next page; returns at once when
  // the queue has no back channel or the printer does not answer.
  void beforePage();

  bool asking() const { return asking_; }

 private:
  OutputSink& out_;
  const Diagnostics& log_;
  bool asking_ = false;
  GateTimes times_;
  std::set<std::string> shown_;  // our keywords the queue shows now
};

// The printer-state-reasons keywords for `status` ("media-empty-error", ...).
std::set<std::string> stateKeywords(const PrinterStatus& status);
