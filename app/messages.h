// What went wrong, where a shop owner looks: a job that fails gets its cause
// as its job-state-message (ipptool, lpstat -l, the client's queue) and in
// the log; a printer that stops because its device cannot be opened gets the
// reason "offline" and its cause on the waiting job. Each printer's web
// pages link to a "Messages" page with the printer's current problem and the
// causes of its recent failed jobs.
#pragma once

#include <string>

#include <pappl/pappl.h>

// Records why `job` fails: its job-state-message, the log, the Messages page.
void setJobProblem(pappl_job_t* job, const std::string& text);

// PAPPL's printer creation callback: adds the printer's Messages page and
// the link to it (before any client can see the printer's own pages).
void addMessagesPage(pappl_printer_t* printer, void* data);

// Starts the thread that, every few seconds, looks at printers stopped with
// a job waiting for their device, finds out why (a socket:// printer that
// does not answer, a USB printer that is not there) and says so; stopWatch
// ends it (before the system is deleted).
void startWatch(pappl_system_t* system);
void stopWatch();

// The cause of a socket:// device not answering: "cannot reach HOST:PORT:
// connection refused"; empty when it answers within `timeoutMs`.
std::string socketProblem(const char* deviceUri, int timeoutMs);
