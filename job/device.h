// Device commands of a job: the printer reset, the bytes that cancel a job,
// and the cash-drawer kick.
#pragma once

#include "core/job_context.h"
#include "core/output_sink.h"

// Sends ESC @ (1B 40): the printer starts from a known state.
void shutDown(OutputSink& out);

// The first part of the cancel sequence: 720 bytes 00, which end whatever
// command the printer is in the middle of. ESC @ follows.
void sendCancelNulls(OutputSink& out);

// Kicks the drawers chosen by CashDrawer with ESC p m t1 t2 (1B 70 ...).
void openCashDrawer(JobContext& job);
