// Device commands of the job: printer reset at job start, flush at job end,
// the cancel sequence run on SIGTERM, and the cash-drawer kick.
#pragma once

#include "filter/settings.h"

// Installs cancelJob as the SIGTERM handler, ignores SIGPIPE (a failed write
// is reported instead), then sends ESC @ (1B 40).
void jobSetup();

// Flushes the printer output, then ignores SIGTERM from here on.
void endPage();

// Sends ESC @ (1B 40).
void shutDown();

// SIGTERM handler: every byte produced so far, 720 bytes 00, ESC @, then the
// process exits with status 0. Never returns to the interrupted code (unless
// a flush is in progress, which runs it again once its bookkeeping is done).
void cancelJob(int signal);

// The first part of the cancel sequence: 720 bytes 00, which end whatever
// command the printer is in the middle of.
void sendCancelNulls();

// Kicks the drawers chosen by CashDrawer with ESC p m t1 t2 (1B 70 ...).
void openCashDrawer(const JobSettings& settings);
