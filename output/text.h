// Text jobs: the file's bytes passed to the printer unchanged, with the
// optional stored logo before and/or after them.
#pragma once

#include "core/job_context.h"

// Streams the file open on `fd` to the job's printer in chunks of 1024
// bytes. Returns 0, or the errno of a read that failed (the job stops there).
int printText(JobContext& job, int fd);
