// The filter's side of a cancelled job: the spooler cancels a job by sending
// the filter SIGTERM. From the moment the job starts on the printer until its
// output is finished, SIGTERM sends every byte produced so far, the cancel
// sequence (720 bytes 00, ESC @) and ends the process with status 0.
#pragma once

#include "core/output_sink.h"

// Installs cancelJob as the SIGTERM handler for the job writing to `out`,
// ignores SIGPIPE (a failed write is reported instead), then sends ESC @
// (1B 40).
void jobSetup(OutputSink& out);

// Flushes the job's printer output, then ignores SIGTERM from here on.
void finishOutput(OutputSink& out);

// SIGTERM handler: every byte produced so far, 720 bytes 00, ESC @, then the
// process exits with status 0. Never returns to the interrupted code (unless
// a flush is in progress, which runs it again once its bookkeeping is done).
void cancelJob(int signal);
