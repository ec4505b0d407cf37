// Job-wide state, written by one stage of a job and read by later ones. The
// filter runs one job per process; a Printer Application runs the jobs of
// different printers on different threads at once, so each thread has its
// own copy. The copies live in the executable's static TLS block
// (initial-exec), so reading them is a plain memory access, safe in the
// filter's SIGTERM handler.
#pragma once

#include <cstdint>

#define TALVERO_JOB_LOCAL thread_local constinit __attribute__((tls_model("initial-exec")))

extern TALVERO_JOB_LOCAL int32_t PrinterModel;  // model number from the PPD
extern TALVERO_JOB_LOCAL int32_t PageType;      // 0 read and trim, 1 read only; copied per page
extern TALVERO_JOB_LOCAL int32_t Rotation;      // turn applied to the current page: 1, 2, 3 = 90, 180, 270
extern TALVERO_JOB_LOCAL int32_t Scale;         // 95 or 100 once a page has been reduced, else 0
extern TALVERO_JOB_LOCAL int32_t Focus;         // 0 none, 1 right-hand window, 2 centred window
extern TALVERO_JOB_LOCAL int32_t ColorMode;     // 0 two-colour page, 1 monochrome page
extern TALVERO_JOB_LOCAL int32_t ALREADY_OPEN;  // 1 while the before-printing drawer kick is due

// Puts this thread's globals back to their start values (used by the tests,
// which run many jobs in one process, and by each Printer Application job).
void resetJobGlobals();
