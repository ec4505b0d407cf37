// Job-wide state. The filter runs one job per process, so these live for the
// whole run; each is written by one stage of the job and read by later ones.
#pragma once

#include <cstdint>

extern int32_t PrinterModel;  // model number from the PPD
extern int32_t PageType;      // 0 read and trim, 1 read only; copied per page
extern int32_t Rotation;      // turn applied to the current page: 1, 2, 3 = 90, 180, 270
extern int32_t Scale;         // 95 or 100 once a page has been reduced, else 0
extern int32_t Focus;         // 0 none, 1 right-hand window, 2 centred window
extern int32_t ColorMode;     // 0 two-colour page, 1 monochrome page
extern int32_t ALREADY_OPEN;  // 1 while the before-printing drawer kick is due

// Puts every global back to its process-start value (used by the tests, which
// run many jobs in one process).
void resetJobGlobals();
